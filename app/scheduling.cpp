#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "agents/list_change_log.hpp"
#include "agents/snmp_poller.hpp"
#include "app/application.hpp"
#include "app/service_status.hpp"
#include "log/logger.hpp"
#include "reporting/agent_statistics.hpp"
#include "reporting/schedule_clock.hpp"
#include "snmp/service.hpp"

namespace tamro {

void application::run_io_cycle() {
  reload_requested_ = false;
  io_service_.restart();
  stop_signals_.async_wait(
      [this](const boost::system::error_code& error, int) { on_stop_signal(error); });
  reload_signals_.async_wait(
      [this](const boost::system::error_code& error, int) { on_reload_signal(error); });
  // Each tick's time is its scheduled one, taken once for the whole tick: due checks compare
  // whole seconds, and a device started a few milliseconds into a tick that crossed a second,
  // or a tick that fired a little later than the one before, would otherwise not be due
  // again 30 seconds later and skip a tick.
  open_metrics();
  posting_.server().keep_connections();
  heartbeat_timer_.start(
      [this](clock::time_point expiry) { return on_tick(schedule_clock::at(expiry)); });
  // From this thread, so that a loop that no longer turns stops the pings.
  if (watchdog_timer_)
    watchdog_timer_->start([this](clock::time_point) {
      if (reload_requested_ || stop_requested_) return false;
      service_->report_alive();
      return true;
    });
  io_service_.run();
  save_changes();
}

bool application::on_tick(boost::posix_time::ptime now) {
  if (reload_requested_ || stop_requested_) return false;
  last_tick_ = clock::now();
  log_debug("--- timer event ---");
  devices_.sweep_dead();
  save_changes();
  start_due_devices(now);
  start_reporter_if_due(now);
  if (service_) report_status();
  return true;
}

void application::report_status() {
  const auto samples = device_samples();
  const auto answering = static_cast<std::size_t>(std::count_if(
      samples.begin(), samples.end(), [](const device_sample& device) { return device.up; }));
  std::string status = service_status(samples.size(), answering, agent_statistics::global(),
                                      agent_statistics::clock::now());
  if (!reload_failure_.empty()) status += "; " + reload_failure_;
  service_->report_status(status);
}

void application::start_due_devices(boost::posix_time::ptime now) {
  for (const auto& entry : devices_) {
    agent& device = *entry.second;
    if (device.busy() || !device.is_due(now)) continue;
    device.cycle_start = now;
    device.start_heartbeat();
  }
}

void application::start_reporter_if_due(boost::posix_time::ptime now) {
  if (reporter_.busy() || !reporter_.is_due(now)) return;
  // Monotonic: neither a clock set by hand nor daylight saving makes the uptime jump.
  identity_.uptime = static_cast<int>(
      std::chrono::duration_cast<std::chrono::seconds>(clock::now() - start_time_).count());
  reporter_.cycle_start = now;
  reporter_.start_heartbeat();
}

void application::save_changes() {
  if (devices_.is_modified()) {
    try {
      device_file_saver_.save(devices_, devices_file_);
    } catch (const std::exception& e) {
      log_error(boost::format("could not save changes to %1%: %2%") % devices_file_ % e.what());
    }
  } else {
    device_file_saver_.forget();
  }
  pushed_lists_.save_pending();
  alarm_states_.save(devices_);
  if (reporter_.interval_changed) {
    try {
      save_reporting_interval(reporter_.interval.total_seconds());
      reporter_.interval_changed = false;
    } catch (const std::exception& e) {
      log_error(boost::format("could not save changes to %1%: %2%") % configuration_file_ %
                e.what());
    }
  }
}

// A drain runs without the tick; the watchdog gets one more ping, so a drain has the whole
// watchdog interval to end in.
void application::stop_ticking() {
  heartbeat_timer_.cancel();
  metrics_.close();
  if (watchdog_timer_) {
    watchdog_timer_->cancel();
    service_->report_alive();
  }
}

// The endpoint is opened anew for every I/O cycle: a reload may move it.
void application::open_metrics() {
  if (!metrics_endpoint_) return;
  try {
    metrics_.open(*metrics_endpoint_);
  } catch (const boost::system::system_error& e) {
    // The endpoint prints an IPv6 address in brackets.
    log_error(boost::format("metrics endpoint %1% not served: %2%") % *metrics_endpoint_ %
              e.code().message());
  }
}

std::vector<device_sample> application::device_samples() const {
  std::vector<device_sample> samples;
  for (const auto& [address, device] : devices_) {
    device_sample sample;
    sample.address = address;
    if (const auto polled = device->last_poll_duration()) {
      sample.up = device->answered();
      sample.poll_seconds = std::chrono::duration<double>(*polled).count();
    }
    if (device->last_success != std::chrono::system_clock::time_point())
      sample.last_success = device->last_success;
    samples.push_back(std::move(sample));
  }
  return samples;
}

std::string application::render_metrics() const {
  metrics_snapshot snapshot;
  snapshot.devices = device_samples();
  snapshot.statistics = agent_statistics::global();
  snapshot.process = sample_process();
  snapshot.last_reload_successful = reload_failure_.empty();
  snapshot.last_reload_success = configuration_loaded_;
  if (reporter_.last_success != std::chrono::system_clock::time_point())
    snapshot.status_last_success = reporter_.last_success;
  return metrics_text(snapshot);
}

// The tick comes every tick period; three missed in a row is a loop that no longer turns.
bool application::loop_turns() const { return clock::now() - last_tick_ < 3 * tick_period_; }

void application::cancel_signal_waits() {
  boost::system::error_code error;
  stop_signals_.cancel(error);
  if (!error) reload_signals_.cancel(error);
  if (error) throw boost::system::system_error(error, "cancel");
}

void application::on_reload_signal(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  log_info("--- waiting for all SNMP and HTTP requests to complete ---");
  if (service_) service_->report_reloading();
  cancel_signal_waits();
  stop_ticking();
  reload_requested_ = true;
  // A sweep of thousands of devices would hold the reload for its whole length: what has not
  // reached the server yet is cancelled, and polled again at the first tick after the load.
  std::size_t cancelled = 0;
  for (const auto& entry : devices_)
    if (entry.second->cancel()) ++cancelled;
  const std::size_t dropped = posting_.poster().drop_waiting();
  if (cancelled > 0 || dropped > 0)
    log_info(boost::format("%1% SNMP requests cancelled and %2% waiting heartbeats dropped for "
                           "the reload") %
             cancelled % dropped);
}

void application::on_stop_signal(const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  log_info("--- shutting down ---");
  if (service_) service_->report_stopping();
  cancel_signal_waits();
  stop_ticking();
  boost::asio::use_service<snmp::service>(io_service_).shutdown_reactor();
  const auto dropped = posting_.poster().stop();
  std::size_t cancelled = 0;
  for (const auto& entry : devices_)
    if (entry.second->cancel()) ++cancelled;
  // One line for what a stop leaves undone, however many devices that is.
  if (cancelled > 0 || dropped.waiting > 0 || dropped.in_flight > 0)
    log_info(boost::format("%1% SNMP requests cancelled, %2% heartbeat posts dropped (%3% in "
                           "flight, %4% waiting)") %
             cancelled % (dropped.in_flight + dropped.waiting) % dropped.in_flight %
             dropped.waiting);
  stop_requested_ = true;
}

}  // namespace tamro
