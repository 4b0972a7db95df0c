#pragma once

#include <boost/property_tree/ptree_fwd.hpp>

namespace tamro::agents {

// Takes the mapping and device lists the server pushes in a status heartbeat reply;
// implemented by the owner of the repositories and their files.
class list_receiver {
 public:
  virtual ~list_receiver() = default;
  virtual void receive_lists(const boost::property_tree::ptree& reply) = 0;
};

}  // namespace tamro::agents
