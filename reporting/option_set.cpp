#include "reporting/option_set.hpp"

namespace tamro {

option_set::option_set(const option_set& other) { set_options(other); }

option_set& option_set::operator=(const option_set& other) {
  if (this != &other) {
    option_set copy(other);
    *this = std::move(copy);
  }
  return *this;
}

// Unlinks iteratively so that a long chain cannot exhaust the stack.
option_set::~option_set() {
  while (head_) head_ = std::move(head_->next);
}

void option_set::set_options(const option_set& other) {
  for (const auto* link = other.head_.get(); link; link = link->next.get())
    replace_or_append(*link);
}

option_wrapper_base* option_set::find(const std::type_info& type) const {
  for (auto* link = head_.get(); link; link = link->next.get())
    if (link->type() == type) return link;
  return nullptr;
}

void option_set::append(std::unique_ptr<option_wrapper_base> link) {
  auto* slot = &head_;
  while (*slot) slot = &(*slot)->next;
  *slot = std::move(link);
}

void option_set::replace_or_append(const option_wrapper_base& link) {
  auto copy = link.clone();
  for (auto* slot = &head_; *slot; slot = &(*slot)->next) {
    if ((*slot)->type() == link.type()) {
      copy->next = std::move((*slot)->next);
      *slot = std::move(copy);
      return;
    }
  }
  append(std::move(copy));
}

}  // namespace tamro
