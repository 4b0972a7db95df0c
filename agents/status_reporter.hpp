#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <memory>
#include <string>

#include "agents/host_identity.hpp"
#include "agents/list_receiver.hpp"
#include "reporting/agent.hpp"

namespace tamro::agents {

// Reports this service itself, from its host identity, without any SNMP traffic. Like a
// device, it is not started again while its post is in flight: a slow reply is still read
// and applied.
class status_reporter : public agent {
 public:
  // The interval is written back to the configuration file, which accepts no more.
  static constexpr std::int32_t longest_interval = 7200;

  status_reporter(boost::asio::io_context& io, heartbeat_poster& poster,
                  const host_identity& identity);

  void start_heartbeat() override;
  std::string name() const override;
  void on_reply(const boost::property_tree::ptree& reply) override;

  // Where pushed lists go; none by default (they are then ignored).
  void set_list_receiver(list_receiver* receiver) { receiver_ = receiver; }

 protected:
  std::unique_ptr<ctemplate::TemplateDictionary> make_heartbeat() override;
  bool waits_for_post_slot() const override { return false; }

 private:
  const host_identity* identity_;
  list_receiver* receiver_ = nullptr;
};

}  // namespace tamro::agents
