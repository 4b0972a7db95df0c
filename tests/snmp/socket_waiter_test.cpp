#include "snmp/netsnmp/socket_waiter.hpp"

#include <gtest/gtest.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

namespace {

using boost::asio::ip::udp;
using clock_type = std::chrono::steady_clock;
using tamro::netsnmp::socket_waiter;

int handle_of(udp::socket& socket) { return static_cast<int>(socket.native_handle()); }

udp::socket loopback_socket(boost::asio::io_context& io) {
  return udp::socket(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
}

// Waits until every wanted key was reported (reading each datagram, as the reactor does) or
// five seconds passed; returns the keys seen.
std::set<std::uint64_t> wait_for(socket_waiter& waiter, std::vector<udp::socket*> by_key,
                                 std::size_t wanted) {
  std::set<std::uint64_t> seen;
  std::vector<std::uint64_t> ready;
  const auto give_up = clock_type::now() + std::chrono::seconds(5);
  while (seen.size() < wanted && clock_type::now() < give_up) {
    waiter.wait(500, ready);
    for (const auto key : ready) {
      char byte = 0;
      if (key < by_key.size() && by_key[key] != nullptr && by_key[key]->available() > 0) {
        by_key[key]->receive(boost::asio::buffer(&byte, 1));
      }
      seen.insert(key);
    }
  }
  return seen;
}

// More sockets than one WaitForMultipleObjects call could take; only those with a datagram
// are reported, by their keys, and a socket watched while a wait runs is picked up by it.
TEST(SocketWaiter, ReportsTheReadableSocketsAmongManyByKey) {
  boost::asio::io_context io;
  socket_waiter waiter;
  std::vector<udp::socket> sockets;
  constexpr int count = 200;
  sockets.reserve(count + 1);
  std::vector<udp::socket*> by_key(count + 2, nullptr);
  for (int i = 0; i < count; ++i) {
    sockets.push_back(loopback_socket(io));
    by_key[i + 1] = &sockets.back();
    ASSERT_TRUE(waiter.watch(handle_of(sockets.back()), i + 1));
  }
  udp::socket sender = loopback_socket(io);
  for (const int key : {1, 64, 65, 200}) {
    sender.send_to(boost::asio::buffer("x", 1), by_key[key]->local_endpoint());
  }
  EXPECT_EQ(wait_for(waiter, by_key, 4), (std::set<std::uint64_t>{1, 64, 65, 200}));

  sockets.push_back(loopback_socket(io));
  udp::socket& late = sockets.back();
  by_key[count + 1] = &late;
  std::thread watcher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    waiter.watch(handle_of(late), count + 1);
    sender.send_to(boost::asio::buffer("x", 1), late.local_endpoint());
  });
  const auto started = clock_type::now();
  const auto seen = wait_for(waiter, by_key, 1);
  watcher.join();
  EXPECT_EQ(seen, (std::set<std::uint64_t>{count + 1}));
  EXPECT_LT(clock_type::now() - started, std::chrono::seconds(2));
}

// The reactor's contract: an interrupt, made during a wait or before it, ends that one wait
// and is consumed by it; several before one wait end only that one. Left unconsumed, every
// later wait would return at once and the reactor spin.
TEST(SocketWaiter, AnInterruptEndsOneWaitAndIsConsumedByIt) {
  boost::asio::io_context io;
  socket_waiter waiter;
  udp::socket quiet = loopback_socket(io);
  ASSERT_TRUE(waiter.watch(handle_of(quiet), 1));
  const auto waits_out = [&](int timeout_ms) {
    std::vector<std::uint64_t> ready{42};
    const auto started = clock_type::now();
    waiter.wait(timeout_ms, ready);
    EXPECT_TRUE(ready.empty());
    return clock_type::now() - started >= std::chrono::milliseconds(timeout_ms * 9 / 10);
  };

  // A watch wakes the Windows waiter (it applies watch changes between waits): let it settle.
  for (int i = 0; i < 10 && !waits_out(100); ++i) {
  }

  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    waiter.interrupt();
  });
  EXPECT_FALSE(waits_out(10000)) << "an interrupt during the wait ends it";
  interrupter.join();
  EXPECT_TRUE(waits_out(100)) << "the interrupt was consumed";

  waiter.interrupt();
  waiter.interrupt();
  EXPECT_FALSE(waits_out(10000)) << "an interrupt before the wait ends it";
  EXPECT_TRUE(waits_out(100)) << "both interrupts were consumed";
}

// A socket closed while still watched is dropped: the others are still reported, and a wait
// with nothing ready runs to its timeout instead of returning at once.
TEST(SocketWaiter, ASocketClosedWithoutUnwatchIsDropped) {
  boost::asio::io_context io;
  socket_waiter waiter;
  udp::socket closed = loopback_socket(io);
  udp::socket open = loopback_socket(io);
  ASSERT_TRUE(waiter.watch(handle_of(closed), 1));
  ASSERT_TRUE(waiter.watch(handle_of(open), 2));
  closed.close();
  udp::socket sender = loopback_socket(io);
  sender.send_to(boost::asio::buffer("x", 1), open.local_endpoint());
  EXPECT_EQ(wait_for(waiter, {nullptr, nullptr, &open}, 1), (std::set<std::uint64_t>{2}));

  std::vector<std::uint64_t> ready;
  waiter.wait(0, ready);  // the drop may take one pass
  const auto started = clock_type::now();
  waiter.wait(100, ready);
  EXPECT_TRUE(ready.empty());
  EXPECT_GE(clock_type::now() - started, std::chrono::milliseconds(90));
}

}  // namespace
