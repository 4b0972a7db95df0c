#pragma once

#include <cstdint>
#include <string>

namespace ctemplate {
class TemplateDictionary;
}

namespace tamro {

// The heartbeat template in force and the text it makes of a dictionary. The template lives
// in the template engine's process-wide cache.
class heartbeat_renderer {
 public:
  // Parses the template in a cache of its own, leaving the one in force alone; throws
  // std::runtime_error "unable to load and parse template file NAME".
  static void check(const std::string& template_name);
  // Drops every template of the process-wide cache (at the end of the program).
  static void clear_cache();

  // Puts a template in force, read from its file again: the cache would hand back the one of
  // the previous load, and an edited template must take effect at the reload. Throws as
  // check() does.
  void load(const std::string& template_name);
  const std::string& template_name() const { return template_name_; }

  // The heartbeat text, with HEARTBEAT_COUNTER set to counter; empty when the template
  // expanded to nothing (or failed to).
  std::string render(ctemplate::TemplateDictionary& dictionary, std::int32_t counter) const;

 private:
  std::string template_name_;
};

}  // namespace tamro
