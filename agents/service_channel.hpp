#pragma once

#include <boost/asio/io_context.hpp>

#include "agents/snmp_channel.hpp"

namespace tamro::agents {

// The SNMP service of an io_context, reached the first time a poller needs it: its reactor
// thread starts with it, and a run that polls nothing needs none.
class service_channel : public snmp_channel {
 public:
  explicit service_channel(boost::asio::io_context& io) : io_(io) {}

  boost::system::error_code open(session_handle& session,
                                 const snmp::session_options& options) override;
  void close(session_handle& session) override;
  void cancel(session_handle session) override;
  bool needs_engine(session_handle session) const override;
  boost::system::error_code adopt_engine(session_handle session, const snmp::pdu* report) override;
  void send(session_handle session, snmp::pdu& request, completion done) override;

 private:
  snmp::service& service() const;

  boost::asio::io_context& io_;
  mutable snmp::service* service_ = nullptr;
};

}  // namespace tamro::agents
