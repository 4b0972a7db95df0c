#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <string>

#include "agents/alarm_state_file.hpp"
#include "agents/host_identity.hpp"
#include "agents/snmp_channel.hpp"
#include "agents/snmp_poller.hpp"
#include "mapping/mapping_repository.hpp"
#include "mapping/xml_repository.hpp"

namespace tamro {

class heartbeat_poster;

// The monitored devices: one SNMP poller per "device" element of the devices file, keyed by
// its IP address. A reload reconfigures the pollers it still lists in place, so cycles in
// flight survive; a poller that is no longer listed is retired: at once when idle, else
// once its cycle has ended (sweep_dead). A retired poller is never written to the file.
// Used only on the I/O thread.
class agent_repository : public xml_repository<std::string, agents::snmp_poller> {
 public:
  agent_repository(boost::asio::io_context& io, heartbeat_poster& poster,
                   agents::snmp_channel& channel, mapping_repository& mappings,
                   const host_identity& identity);

  // save(), then forgets the changes that called for it. A failure leaves them pending.
  boost::property_tree::ptree save_devices(const std::string& path);
  // True when the file no longer shows what is held (pollers retired by refresh_mappings,
  // intervals set by the server, or a save that failed).
  bool is_modified() const;
  void mark_modified() { modified_ = true; }
  // Erases the retired pollers whose cycle has ended.
  void sweep_dead();
  // Gives every poller the current mapping of its mapping's name; retires those whose
  // mapping is gone.
  void refresh_mappings();

  // What the server knows of the alarms of the devices held, and that record given back
  // after a start.
  agents::delivered_alarm_states alarm_states() const;
  void restore_alarm_states(const agents::delivered_alarm_states& states);

 protected:
  void on_item_error(const std::exception& e) override;
  const char* root_name() const override;
  std::string item_key(const std::string& element,
                       const boost::property_tree::ptree& node) override;
  std::shared_ptr<agents::snmp_poller> create_item(
      const std::string& element, const boost::property_tree::ptree& node) override;
  void write_item(boost::property_tree::ptree& root,
                  const agents::snmp_poller& item) const override;
  void remove(const std::string& key) override;

 private:
  boost::asio::io_context& io_;
  heartbeat_poster& poster_;
  agents::snmp_channel& channel_;
  mapping_repository& mappings_;
  const host_identity& identity_;
  bool modified_ = false;
};

}  // namespace tamro
