#include "reporting/agent.hpp"

#include <ctemplate/template.h>
#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <ostream>
#include <stdexcept>
#include <string_view>

#include "config/configuration_error.hpp"
#include "log/logger.hpp"
#include "log/sink.hpp"
#include "reporting/agent_statistics.hpp"
#include "reporting/option_set.hpp"
#include "reporting/post_failure.hpp"
#include "reporting/post_queue.hpp"
#include "reporting/reply_processing.hpp"
#include "reporting/schedule_clock.hpp"
#include "reporting/tls_client_context.hpp"
#include "reporting/url.hpp"
#include "reporting/url_stream.hpp"

namespace tamro {
namespace {

constexpr ctemplate::Strip template_strip = ctemplate::STRIP_BLANK_LINES;
constexpr std::size_t largest_read = 65536;
constexpr int most_concurrent_posts = 1024;

// Shared by every agent; replaced by each configuration load.
struct posting_configuration {
  std::string template_name;
  url server;
  option_set options;
  // Built on the first https exchange after a load, then shared by all of them.
  std::shared_ptr<tls_client_context> tls = std::make_shared<tls_client_context>();
  post_queue queue;
  bool stopped = false;  // a stop is under way: nothing more is posted
  std::ostream* transcript = nullptr;
  bool post = true;
};

// Never destroyed: agents that outlive main() may still leave the queue.
posting_configuration& posting() {
  static auto* instance = new posting_configuration;
  return *instance;
}

// A whole number from minimum to maximum, or fallback when the element is absent; anything
// else stops the load with "invalid KEY TEXT".
int read_count(const boost::property_tree::ptree& section, const char* key, int fallback,
               int minimum, int maximum) {
  const auto text = section.get_optional<std::string>(key);
  if (!text) return fallback;
  const auto count = section.get_optional<int>(key);
  if (!count || *count < minimum || *count > maximum)
    throw configuration_error(std::string("invalid ") + key + " " + *text);
  return *count;
}

}  // namespace

posting_settings read_posting_settings(const boost::property_tree::ptree& section) {
  posting_settings settings;
  settings.options.set(http::request_content_type{"application/xml; charset=\"utf-8\""});
  settings.options.set(http::request_method{"POST"});
  try {
    settings.template_name = section.get<std::string>("heartbeat-template");
    settings.server = url::from_string(section.get<std::string>("server-uri"));
    settings.options.set(
        http::user_agent{section.get<std::string>("user-agent", "klav-agent/1.0 (TAMRO)")});
  } catch (const std::exception& e) {
    throw configuration_error(e.what());
  }
  // Parsed in a cache of its own, so a broken template leaves the running one in place.
  ctemplate::TemplateCache trial;
  if (!trial.LoadTemplate(settings.template_name, template_strip))
    throw std::runtime_error("unable to load and parse template file " + settings.template_name);
  settings.options.set(https::ignore_cert_hostname{
      section.get_optional<bool>("ignore-cert-hostname").value_or(false)});
  // Every load sets the list afresh: an element the operator removed must stop applying.
  std::vector<std::int32_t> codes;
  if (const auto errors = section.get_child_optional("ignore-cert-errors")) {
    for (const auto& [element, code] : *errors) {
      if (element != "error-code") continue;
      try {
        codes.push_back(boost::lexical_cast<std::int32_t>(code.data()));
      } catch (const boost::bad_lexical_cast&) {
        throw configuration_error("invalid ignore-cert-errors error-code " + code.data());
      }
    }
  }
  settings.options.set(https::ignore_cert_errors{std::move(codes)});
  settings.options.set(http::timeout{std::chrono::seconds(
      read_count(section, "http-timeout", static_cast<int>(http::timeout{}.value.count()), 1,
                 std::numeric_limits<int>::max()))});
  settings.options.set(https::ca_file{section.get("ca-file", std::string())});
  settings.max_concurrent_posts = static_cast<std::size_t>(
      read_count(section, "max-concurrent-posts", static_cast<int>(post_queue::default_limit), 1,
                 most_concurrent_posts));
  return settings;
}

void agent::configure(const boost::property_tree::ptree& section) {
  configure(read_posting_settings(section));
}

void agent::configure(const posting_settings& settings) {
  auto& config = posting();
  // The cache would hand back the template of the previous load; a reload must read the
  // file again so an edited template takes effect now, not at the next start.
  ctemplate::mutable_default_template_cache()->ClearCache();
  if (!ctemplate::mutable_default_template_cache()->LoadTemplate(settings.template_name,
                                                                 template_strip)) {
    throw std::runtime_error("unable to load and parse template file " + settings.template_name);
  }
  config.template_name = settings.template_name;
  config.server = settings.server;
  config.options = settings.options;
  config.queue.set_limit(settings.max_concurrent_posts);
  // A reload may change the trust; the sessions kept under the old one are not resumed.
  config.tls = std::make_shared<tls_client_context>();
  config.stopped = false;
}

void agent::clear_template_cache() { ctemplate::mutable_default_template_cache()->ClearCache(); }

void agent::set_transcript(std::ostream* out, bool post) {
  posting().transcript = out;
  posting().post = post;
}

post_queue& agent::posts() { return posting().queue; }

agent::dropped_posts agent::drop_waiting_posts() {
  dropped_posts count;
  for (agent* waiting : posting().queue.take_waiting()) {
    waiting->busy = false;
    ++count.waiting;
  }
  return count;
}

agent::dropped_posts agent::stop_posting() {
  posting().stopped = true;
  return drop_waiting_posts();
}

agent::agent(boost::asio::io_context& io) : io_(io) {}

agent::~agent() {
  // Never destroyed while busy; but a waiting agent must not be started once gone, and no
  // other one is started from here.
  posting().queue.withdraw(*this);
  close_stream();
  if (holds_slot_) posting().queue.return_slot();
}

bool agent::cancel() { return false; }

void agent::on_reply(const boost::property_tree::ptree&) {}

void agent::send_heartbeat() {
  auto& config = posting();
  if (config.stopped) {
    busy = false;
    return;
  }
  if (config.transcript && !config.post) {
    begin_post();
    return;
  }
  // Asked again before its turn came: it keeps its place in line.
  if (in_line_) return;
  if (!waits_for_post_slot()) {
    begin_post();
    return;
  }
  config.queue.enter(*this);
}

bool agent::begin_post() {
  auto& config = posting();
  const auto dictionary = make_heartbeat();
  if (!dictionary) return false;
  heartbeat_counter_ =
      heartbeat_counter_ == std::numeric_limits<std::int32_t>::max() ? 1 : heartbeat_counter_ + 1;
  dictionary->SetIntValue("HEARTBEAT_COUNTER", heartbeat_counter_);
  std::string text;
  const bool expanded = ctemplate::mutable_default_template_cache()->ExpandWithData(
      config.template_name, template_strip, dictionary.get(), nullptr, &text);
  if (!expanded || text.empty()) {
    // An empty post would reach the server as a heartbeat without content.
    log_error(boost::format("%1% - the heartbeat template %2% expanded to nothing; heartbeat not "
                            "sent") %
              name() % config.template_name);
    last_failure = "the heartbeat template " + config.template_name + " expanded to nothing";
    busy = false;
    return false;
  }
  if (config.transcript && !config.post) {
    *config.transcript << "<!-- heartbeat of " << name() << " -->\n" << text << std::endl;
    last_delivered = cycle_start;
    last_failure.clear();
    busy = false;
    return false;
  }

  // The replaced exchange is cancelled; its completions find it stale and leave ours alone.
  close_stream();
  if (holds_slot_) config.queue.return_slot();
  // The queue calls this exactly when it gives a waiting agent a slot.
  holds_slot_ = waits_for_post_slot();
  stream_ = std::make_shared<url_stream>(io_, config.tls);
  post_started_ = agent_statistics::clock::now();
  stream_->options().set_options(config.options);
  stream_->options().set(http::request_content{std::move(text)});
  stream_->open(config.server, [this, stream = stream_](const boost::system::error_code& error) {
    handle_open(stream, error);
  });
  // Lines of every exchange are built only when they are written.
  if (log_debug.enabled()) log_debug(boost::format("%1% - HTTP POST request sent") % name());
  return true;
}

bool agent::is_due() const { return is_due(schedule_clock::now()); }

bool agent::is_due(boost::posix_time::ptime now) const {
  return last_delivered.is_not_a_date_time() || now >= last_delivered + interval;
}

void agent::close_stream() {
  if (stream_) stream_->close();
}

void agent::drop_post(dropped_posts& count) {
  if (!stream_) return;
  // Its completions find no stream of theirs and end quietly.
  end_exchange();
  ++count.in_flight;
}

void agent::end_exchange() {
  stream_->close();
  stream_.reset();
  busy = false;
  if (holds_slot_) {
    holds_slot_ = false;
    posting().queue.release();
  }
}

void agent::post_failed(const std::string& reason) {
  log_error(boost::format("%1% - while sending heartbeat to server: %2%") % name() % reason);
  last_failure = "heartbeat not delivered to " + posting().server.to_string() + ": " + reason;
  record_post(last_failure);
}

void agent::record_post(const std::string& failure) {
  auto& statistics = agent_statistics::global();
  const auto now = agent_statistics::clock::now();
  ++(failure.empty() ? statistics.heartbeats_delivered : statistics.heartbeats_failed);
  statistics.post_duration.observe(std::chrono::duration<double>(now - post_started_).count());
  statistics.last_post_time = now;
  statistics.last_post_failure = failure;
}

void agent::handle_open(const exchange& stream, const boost::system::error_code& error) {
  if (stream != stream_) return;
  if (error) {
    end_exchange();
    post_failed(post_failure_text(posting().server, stream->target(), error));
    return;
  }
  const std::size_t length = stream_->content_length();
  if (length == 0) {
    log_warning(boost::format("%1% - HTTP response without content received") % name());
    last_failure = "HTTP response without content received from " + posting().server.to_string();
    record_post(last_failure);
    end_exchange();
    return;
  }
  if (log_debug.enabled()) {
    log_debug(boost::format("%1% - HTTP response content type %2%") % name() %
              stream_->content_type());
    log_debug(boost::format("%1% - HTTP response content length %2%") % name() % length);
  }
  response_buffer_ = std::make_unique<boost::asio::streambuf>();
  read_body(stream, length, 0);
}

void agent::read_body(const exchange& stream, std::size_t remaining, std::size_t transferred) {
  if (remaining == 0) {
    handle_read(stream, {}, transferred);
    return;
  }
  const auto buffer = response_buffer_->prepare(std::min(remaining, largest_read));
  stream->read_some(buffer, [this, stream, remaining, transferred](
                                const boost::system::error_code& error, std::size_t bytes) {
    if (stream != stream_) return;
    response_buffer_->commit(bytes);
    if (error) {
      handle_read(stream, error, transferred + bytes);
    } else if (bytes == 0) {
      // No progress without an error: the body cannot reach its announced length.
      handle_read(stream, boost::asio::error::eof, transferred);
    } else {
      read_body(stream, remaining - bytes, transferred + bytes);
    }
  });
}

void agent::handle_read(const exchange& stream, const boost::system::error_code& error,
                        std::size_t bytes) {
  if (stream != stream_) return;
  end_exchange();
  const auto reply = std::move(response_buffer_);
  if (error == boost::asio::error::operation_aborted) return;
  if (error) {
    post_failed(error.message());
    return;
  }
  last_delivered = cycle_start;
  last_failure.clear();
  last_success = std::chrono::system_clock::now();
  record_post("");
  if (log_debug.enabled())
    log_debug(boost::format("%1% - HTTP response received (%2% bytes)") % name() % bytes);
  const auto data = reply->data();
  const std::string_view body(static_cast<const char*>(data.data()), std::min(bytes, data.size()));
  if (log_threshold() == log::debug) log_debug(std::string(body));
  if (posting().transcript) {
    *posting().transcript << "<!-- reply to " << name() << " -->\n" << body << std::endl;
  }
  process_reply(*this, *reply);
}

}  // namespace tamro
