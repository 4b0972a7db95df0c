#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <string>

#include "agents/host_identity.hpp"
#include "mapping/mapping_repository.hpp"
#include "mapping/xml_repository.hpp"
#include "reporting/agent.hpp"

namespace tamro {

// The monitored devices: one SNMP poller per "device" element of the devices file, keyed by
// its IP address. A reload reconfigures the pollers it still lists in place, so cycles in
// flight survive; a busy poller that is no longer listed is marked dead and swept once idle.
// Used only on the I/O thread.
class agent_repository : public xml_repository<std::string, agent> {
 public:
  agent_repository(boost::asio::io_context& io, mapping_repository& mappings,
                   const host_identity& identity);

  // save(), then forgets the changes that called for it. A failure leaves them pending.
  void save_devices(const std::string& path);
  // True when the file no longer shows what is held (pollers retired by refresh_mappings,
  // intervals set by the server, or a save that failed).
  bool is_modified() const;
  void mark_modified() { modified_ = true; }
  // Erases the dead pollers that are idle.
  void sweep_dead();
  // Gives every poller the current mapping of its mapping's name; retires those whose
  // mapping is gone.
  void refresh_mappings();

 protected:
  void on_item_error(const std::exception& e) override;
  const char* root_name() const override;
  std::string item_key(const std::string& element,
                       const boost::property_tree::ptree& node) override;
  std::shared_ptr<agent> create_item(const std::string& element,
                                     const boost::property_tree::ptree& node) override;
  void write_item(boost::property_tree::ptree& root, const agent& item) const override;
  void remove(const std::string& key) override;

 private:
  boost::asio::io_context& io_;
  mapping_repository& mappings_;
  const host_identity& identity_;
  bool modified_ = false;
};

}  // namespace tamro
