#include "reporting/option_set.hpp"

namespace tamro {

void option_set::set_options(const option_set& other) {
  if (!head_) {
    head_ = other.head_;
    return;
  }
  for (const auto* link = other.head_.get(); link; link = link->next.get()) prepend(link->clone());
}

const option_wrapper_base* option_set::find(const void* tag) const {
  for (const auto* link = head_.get(); link; link = link->next.get())
    if (link->tag == tag) return link;
  return nullptr;
}

void option_set::prepend(std::shared_ptr<option_wrapper_base> link) {
  link->next = without(head_, link->tag);
  head_ = std::move(link);
}

// The links before the one of the tag are copied; the rest of the chain stays shared.
option_set::chain option_set::without(const chain& links, const void* tag) {
  if (!links) return links;
  if (links->tag == tag) return links->next;
  const chain rest = without(links->next, tag);
  if (rest == links->next) return links;
  auto copy = links->clone();
  copy->next = rest;
  return copy;
}

}  // namespace tamro
