#include "reporting/connection_pool.hpp"

#include <algorithm>

#include "reporting/connection.hpp"

namespace tamro {

connection_pool::connection_pool(boost::asio::io_context& io, std::size_t limit,
                                 std::chrono::steady_clock::duration idle_timeout)
    : io_(io), limit_(limit), idle_timeout_(idle_timeout) {}

connection_pool::~connection_pool() { close_all(); }

std::shared_ptr<connection> connection_pool::take(const url& target) {
  for (auto entry = idle_.rbegin(); entry != idle_.rend(); ++entry) {
    const url& kept_for = entry->link->target();
    if (kept_for.protocol() == target.protocol() && kept_for.host() == target.host() &&
        kept_for.port() == target.port()) {
      auto taken = std::move(entry->link);
      idle_.erase(std::next(entry).base());
      return taken;
    }
  }
  return nullptr;
}

void connection_pool::keep(std::shared_ptr<connection> used) {
  if (!keeping_ || idle_.size() >= limit_ || !used->reusable()) return used->close();
  const auto id = next_id_++;
  auto timer = std::make_unique<boost::asio::steady_timer>(io_, idle_timeout_);
  timer->async_wait([pool = weak_from_this(), id](const boost::system::error_code& error) {
    if (error) return;
    if (const auto self = pool.lock()) self->forget(id, true);
  });
  used->watch_idle([pool = weak_from_this(), id] {
    if (const auto self = pool.lock()) self->forget(id, false);
  });
  idle_.push_back({id, std::move(used), std::move(timer)});
}

void connection_pool::close_all() {
  keeping_ = false;
  for (auto& entry : idle_) entry.link->close();
  idle_.clear();
}

void connection_pool::forget(std::uint64_t id, bool close) {
  const auto entry =
      std::find_if(idle_.begin(), idle_.end(), [id](const kept& k) { return k.id == id; });
  if (entry == idle_.end()) return;
  if (close) entry->link->close();
  idle_.erase(entry);
}

}  // namespace tamro
