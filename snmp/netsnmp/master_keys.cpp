#include "snmp/netsnmp/master_keys.hpp"

#include <iterator>

#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/usm_protocols.hpp"

namespace tamro::netsnmp {
namespace {

// Pure computation: it needs no library lock.
void derive(master_key& key, snmp::auth_protocol hash, std::string passphrase) {
  const protocol_oid protocol = oid_of(hash);
  u_char bytes[USM_AUTH_KU_LEN];
  std::size_t length = sizeof bytes;
  key.error =
      generate_Ku(protocol.value, static_cast<u_int>(protocol.length),
                  reinterpret_cast<u_char*>(passphrase.data()), passphrase.size(), bytes, &length);
  if (key.error == SNMPERR_SUCCESS) key.bytes.assign(reinterpret_cast<char*>(bytes), length);
}

}  // namespace

master_keys::master_keys(std::function<void()> derived) : derived_(std::move(derived)) {}

master_keys::~master_keys() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const master_key> master_keys::get(snmp::auth_protocol hash,
                                                   const std::string& passphrase) {
  std::lock_guard<std::mutex> lock(mutex_);
  name wanted{hash, passphrase};
  const auto found = keys_.find(wanted);
  if (found != keys_.end()) return found->second;
  forget_unused();
  auto key = std::make_shared<master_key>();
  keys_.emplace(wanted, key);
  queue_.emplace_back(std::move(wanted), key);
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  wake_.notify_one();
  return key;
}

void master_keys::forget_unused() {
  // Passphrases of devices since removed or changed: dropped once the keys have doubled,
  // which keeps the clean-ups rare.
  if (keys_.size() < 2 * kept_ + 16) return;
  for (auto at = keys_.begin(); at != keys_.end();) {
    at = at->second.use_count() == 1 ? keys_.erase(at) : std::next(at);
  }
  kept_ = keys_.size();
}

void master_keys::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    auto [wanted, key] = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    derive(*key, wanted.first, std::move(wanted.second));
    key->ready_.store(true, std::memory_order_release);
    derived_();
    lock.lock();
  }
}

}  // namespace tamro::netsnmp
