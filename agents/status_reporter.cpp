#include "agents/status_reporter.hpp"

#include <ctemplate/template.h>

#include <memory>
#include <utility>

namespace tamro::agents {

status_reporter::status_reporter(boost::asio::io_context& io, heartbeat_poster& poster,
                                 const host_identity& identity)
    : agent(io, poster), identity_(&identity) {
  longest_interval_seconds = longest_interval;
}

void status_reporter::start_heartbeat() { send_heartbeat(); }

std::unique_ptr<ctemplate::TemplateDictionary> status_reporter::make_heartbeat() {
  auto dictionary = std::make_unique<ctemplate::TemplateDictionary>("heartbeat");
  dictionary->SetValue("TAMRO_MAC_ADDRESS", identity_->mac_address);
  dictionary->SetValue("IP_ADDRESS", identity_->ip_address);
  dictionary->SetValue("MAC_ADDRESS", identity_->mac_address);
  dictionary->SetValue("LOCATION", identity_->location);
  dictionary->SetValue("NAME", identity_->name);
  dictionary->SetValue("FIRMWARE_REVISION", identity_->version);
  dictionary->SetValue("SERIAL_NUMBER", identity_->serial_number);
  dictionary->SetIntValue("UPTIME", identity_->uptime);
  return dictionary;
}

std::string status_reporter::name() const { return "<status reporter>"; }

void status_reporter::on_reply(const boost::property_tree::ptree& reply) {
  if (receiver_) receiver_->receive_lists(reply);
}

}  // namespace tamro::agents
