#include "reporting/heartbeat_posting.hpp"

#include "reporting/posting_settings.hpp"

namespace tamro {

void heartbeat_posting::configure(const posting_settings& settings) {
  renderer_.load(settings.template_name);
  server_.configure(settings);
  poster_.set_limit(settings.max_concurrent_posts);
  poster_.resume();
}

}  // namespace tamro
