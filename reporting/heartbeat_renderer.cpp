#include "reporting/heartbeat_renderer.hpp"

#include <ctemplate/template.h>

#include <stdexcept>

namespace tamro {
namespace {

constexpr ctemplate::Strip template_strip = ctemplate::STRIP_BLANK_LINES;

[[noreturn]] void unusable(const std::string& template_name) {
  throw std::runtime_error("unable to load and parse template file " + template_name);
}

}  // namespace

void heartbeat_renderer::check(const std::string& template_name) {
  ctemplate::TemplateCache trial;
  if (!trial.LoadTemplate(template_name, template_strip)) unusable(template_name);
}

void heartbeat_renderer::clear_cache() {
  ctemplate::mutable_default_template_cache()->ClearCache();
}

void heartbeat_renderer::load(const std::string& template_name) {
  clear_cache();
  if (!ctemplate::mutable_default_template_cache()->LoadTemplate(template_name, template_strip))
    unusable(template_name);
  template_name_ = template_name;
}

std::string heartbeat_renderer::render(ctemplate::TemplateDictionary& dictionary,
                                       std::int32_t counter) const {
  dictionary.SetIntValue("HEARTBEAT_COUNTER", counter);
  std::string text;
  if (!ctemplate::mutable_default_template_cache()->ExpandWithData(template_name_, template_strip,
                                                                   &dictionary, nullptr, &text))
    text.clear();
  return text;
}

}  // namespace tamro
