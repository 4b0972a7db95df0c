#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "snmp/session_options.hpp"

namespace tamro::netsnmp {

// The master key (Ku) of one passphrase for one hash protocol. Its fields are written once,
// before ready() turns true, and only read after.
class master_key {
 public:
  bool ready() const { return ready_.load(std::memory_order_acquire); }

  std::string bytes;  // the key, when error is 0
  int error = 0;      // the library's code of a failed derivation

 private:
  friend class master_keys;
  std::atomic<bool> ready_{false};
};

// Derives master keys once each: a key costs a megabyte of hashing, tens of milliseconds, so
// it is done on a thread of its own (started with the first key) and kept for every session
// with the same hash and passphrase. Ku does not depend on the engine; localizing it to one
// costs two short hashes and happens when the engine is known.
class master_keys {
 public:
  // `derived` is called on the deriving thread after each key is ready.
  explicit master_keys(std::function<void()> derived);
  ~master_keys();  // drops the keys not derived yet and joins the thread
  master_keys(const master_keys&) = delete;
  master_keys& operator=(const master_keys&) = delete;

  // The key, ready or on its way. Any thread.
  std::shared_ptr<const master_key> get(snmp::auth_protocol hash, const std::string& passphrase);

 private:
  using name = std::pair<snmp::auth_protocol, std::string>;

  void run();
  void forget_unused();

  std::function<void()> derived_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<name, std::shared_ptr<master_key>> keys_;
  std::deque<std::pair<name, std::shared_ptr<master_key>>> queue_;
  std::size_t kept_ = 0;  // keys after the last clean-up
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tamro::netsnmp
