#include "snmp/netsnmp/master_keys.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace tamro::netsnmp {
namespace {

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) text += {digits[byte >> 4], digits[byte & 15]};
  return text;
}

// Each hash and passphrase is derived once, on the keys' own thread, and shared by all who
// ask; a passphrase the library refuses ends as an error rather than a wait.
TEST(MasterKeys, EachKeyIsDerivedOnceOnAThreadOfItsOwn) {
  std::mutex mutex;
  std::condition_variable changed;
  int derived = 0;
  std::set<std::thread::id> threads;
  master_keys keys([&] {
    std::lock_guard<std::mutex> lock(mutex);
    ++derived;
    threads.insert(std::this_thread::get_id());
    changed.notify_all();
  });
  const auto sha = keys.get(snmp::auth_protocol::sha, "maplesyrup");
  const auto again = keys.get(snmp::auth_protocol::sha, "maplesyrup");
  const auto md5 = keys.get(snmp::auth_protocol::md5, "maplesyrup");
  const auto refused = keys.get(snmp::auth_protocol::sha, "short");
  EXPECT_EQ(sha, again);
  EXPECT_NE(sha, md5);
  {
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return derived >= 3; }));
    EXPECT_EQ(derived, 3);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
  }
  ASSERT_TRUE(sha->ready() && md5->ready() && refused->ready());
  // RFC 3414, A.3.
  EXPECT_EQ(hex(sha->bytes), "9fb5cc0381497b3793528939ff788d5d79145211");
  EXPECT_EQ(hex(md5->bytes), "9faf3283884e92834ebc9847d8edd963");
  EXPECT_NE(refused->error, 0);
}

}  // namespace
}  // namespace tamro::netsnmp
