#include <gtest/gtest.h>

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "snmp/netsnmp/error_category.hpp"
#include "snmp/netsnmp/library.hpp"
#include "snmp/netsnmp/library_lock.hpp"
#include "snmp/oid.hpp"
#include "snmp/response.hpp"
#include "snmp/service.hpp"
#include "snmp/settings.hpp"
#include "tests/snmp/library_setup.hpp"
#include "tests/support/open_files.hpp"
#include "tests/support/snmpd.hpp"

namespace tamro::snmp {
namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

constexpr int version_2c = SNMP_VERSION_2c;
const std::string sys_name = ".1.3.6.1.2.1.1.5.0";
const std::string sys_location = ".1.3.6.1.2.1.1.6.0";

// What one completion handler saw.
struct completion {
  int calls = 0;
  boost::system::error_code error;
  std::optional<oid_value_map> values;  // set when a response PDU came
  int response_command = 0;
  std::thread::id thread;
  clock_type::time_point at;
};

auto record(completion& c) {
  return [&c](const boost::system::error_code& error, pdu* response) {
    ++c.calls;
    c.error = error;
    c.thread = std::this_thread::get_id();
    c.at = clock_type::now();
    if (response != nullptr) {
      c.values = response_map(*response->get());
      c.response_command = response->get()->command;
    }
  };
}

pdu get_request(const std::set<std::string>& oids) {
  auto request = pdu::get_request();
  add_oids(request, oids);
  return request;
}

// A UDP socket on 127.0.0.1 that plays a device which never (or only selectively) answers.
class fake_device {
 public:
  std::string peer() const {
    return "127.0.0.1:" + std::to_string(socket_.local_endpoint().port());
  }

  // The next datagram, and where it came from; empty after 5 s of silence.
  std::string receive() {
    std::string message;
    socket_.async_receive_from(boost::asio::buffer(buffer_), from_,
                               [&](const boost::system::error_code& error, std::size_t n) {
                                 if (!error) message.assign(buffer_.data(), n);
                               });
    io_.restart();
    if (io_.run_for(std::chrono::seconds(5)) == 0) {
      socket_.cancel();
      io_.run();
    }
    return message;
  }
  // Answers the last sender with its own request turned into a response (same request id).
  void reflect(std::string message) {
    // SEQUENCE { version, community, PDU }: skip the two leading fields to the PDU's tag.
    std::size_t at = header_length(message, 0);
    at = skip(message, at);
    at = skip(message, at);
    message[at] = static_cast<char>(SNMP_MSG_RESPONSE);
    socket_.send_to(boost::asio::buffer(message), from_);
  }

 private:
  static std::size_t header_length(const std::string& m, std::size_t at) {
    const auto first = static_cast<unsigned char>(m[at + 1]);
    return at + 2 + (first & 0x80 ? first & 0x7F : 0);
  }
  static std::size_t skip(const std::string& m, std::size_t at) {
    const auto first = static_cast<unsigned char>(m[at + 1]);
    std::size_t length = first;
    if (first & 0x80) {
      length = 0;
      for (int i = 0; i < (first & 0x7F); ++i) {
        length = length * 256 + static_cast<unsigned char>(m[at + 2 + i]);
      }
    }
    return header_length(m, at) + length;
  }

  boost::asio::io_context io_;
  boost::asio::ip::udp::socket socket_{
      io_, boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)};
  std::array<char, 65536> buffer_;
  boost::asio::ip::udp::endpoint from_;
};

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    configure_snmp(test::snmp_section(dir));
    global_settings() = settings{};
  }

  service::session_handle open(const std::string& peer) {
    service::session_handle session = nullptr;
    boost::system::error_code error;
    snmp.open(error, session, version_2c, peer, "public");
    EXPECT_FALSE(error) << error.message();
    EXPECT_NE(session, nullptr);
    return session;
  }

  test::temp_dir dir;
  boost::asio::io_context io;
  service& snmp = boost::asio::use_service<service>(io);
};

TEST_F(Service, GetIsAnsweredWithTheResponseMapOnTheIoThreadAcrossRestarts) {
  const std::string alarm = ".1.3.6.1.4.1.99999.1.0";
  test::snmpd_options options;
  options.extra_lines.push_back(test::snmpd::writable_integer(alarm, 3));
  test::snmpd daemon(options);
  for (const std::string value : {"3", "-7"}) {  // a reload restarts the I/O service
    auto session = open(daemon.peer());
    completion done;
    auto request =
        get_request({sys_name, sys_location, ".1.3.6.1.2.1.1.2.0", ".1.3.6.1.2.1.1.99.0", alarm});
    snmp.async_send(session, request, record(done));
    EXPECT_FALSE(request);
    io.run();  // returns only once the request has completed
    EXPECT_EQ(done.calls, 1);
    EXPECT_FALSE(done.error) << done.error.message();
    EXPECT_EQ(done.thread, std::this_thread::get_id());
    ASSERT_TRUE(done.values);
    const oid_value_map expected{{sys_name, "tamro-test-device"},
                                 {sys_location, "test bench"},
                                 {".1.3.6.1.2.1.1.2.0", ".1.3.6.1.4.1.8072.3.2.10"},
                                 {alarm, value}};
    EXPECT_EQ(*done.values, expected);
    EXPECT_FALSE(snmp.close(session));
    EXPECT_EQ(session, nullptr);
    io.restart();
    daemon.set_integer(alarm, -7);
  }
  EXPECT_EQ(daemon.get(alarm), "-7");
}

TEST_F(Service, SilentPeerTimesOutAfterTimeoutAndRetries) {
  global_settings() = settings{1, 1};
  fake_device device;
  auto session = open(device.peer());
  completion done;
  auto request = get_request({sys_name});
  const auto start = clock_type::now();
  snmp.async_send(session, request, record(done));
  io.run();
  EXPECT_EQ(done.calls, 1);
  EXPECT_EQ(done.error, netsnmp::make_error_code(-24));
  EXPECT_EQ(done.error.message(), "Timeout");
  EXPECT_STREQ(done.error.category().name(), "netsnmp");
  EXPECT_FALSE(done.values);
  EXPECT_GE(done.at - start, 1900ms);  // one time-out, one re-send, one more time-out
  EXPECT_LT(done.at - start, 3500ms);
  const auto first = device.receive();
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(device.receive(), first);  // the re-send is the same message
  snmp.close(session);
}

TEST_F(Service, AnAnswerToTheResendCompletesTheRequest) {
  global_settings() = settings{1, 2};
  fake_device device;
  auto session = open(device.peer());
  completion done;
  auto request = get_request({sys_name});
  const auto start = clock_type::now();
  snmp.async_send(session, request, record(done));
  std::thread peer([&device] {
    device.receive();                  // the first transmission goes unanswered
    device.reflect(device.receive());  // the re-send is answered
  });
  io.run();
  peer.join();
  EXPECT_EQ(done.calls, 1);
  EXPECT_FALSE(done.error) << done.error.message();
  EXPECT_EQ(done.response_command, SNMP_MSG_RESPONSE);
  EXPECT_GE(done.at - start, 900ms);
  EXPECT_LT(done.at - start, 1900ms);
  snmp.close(session);
}

TEST_F(Service, TwoRequestsOnOneSessionGoOutInStartOrderAndCloseCancelsBoth) {
  fake_device device;
  auto session = open(device.peer());
  completion first, second;
  auto a = get_request({sys_name});
  auto b = get_request({sys_location});
  snmp.async_send(session, a, record(first));
  snmp.async_send(session, b, record(second));
  const std::string encoded_name("\x2b\x06\x01\x02\x01\x01\x05\x00", 8);
  const std::string encoded_location("\x2b\x06\x01\x02\x01\x01\x06\x00", 8);
  const auto one = device.receive();
  const auto two = device.receive();
  EXPECT_NE(one.find(encoded_name), std::string::npos);
  EXPECT_NE(two.find(encoded_location), std::string::npos);

  EXPECT_FALSE(snmp.close(session));
  io.run();
  for (const auto* c : {&first, &second}) {
    EXPECT_EQ(c->calls, 1);
    EXPECT_EQ(c->error, netsnmp::make_error_code(-22));
    EXPECT_FALSE(c->values);
  }
  EXPECT_LE(first.at, second.at);
}

TEST_F(Service, CancelCompletesWithAbortAndNullHandlesGiveBadSession) {
  fake_device device;
  auto session = open(device.peer());
  completion done;
  auto request = get_request({sys_name});
  snmp.async_send(session, request, record(done));
  device.receive();
  EXPECT_FALSE(snmp.cancel(session));
  io.run();
  EXPECT_EQ(done.calls, 1);
  EXPECT_EQ(done.error, netsnmp::make_error_code(-22));
  EXPECT_FALSE(snmp.close(session));

  service::session_handle none = nullptr;
  EXPECT_EQ(snmp.cancel(none), netsnmp::make_error_code(-4));
  EXPECT_EQ(snmp.close(none), netsnmp::make_error_code(-4));
  io.restart();
  EXPECT_EQ(io.run(), 0u);
}

TEST_F(Service, RefusedSendCompletesWithTheLibraryError) {
  fake_device device;
  auto session = open(device.peer());
  std::set<std::string> many;  // more than a UDP datagram can carry
  for (int i = 0; i < 6000; ++i) many.insert(".1.3.6.1.4.1.99999.1." + std::to_string(i));
  completion done;
  auto request = get_request(many);
  snmp.async_send(session, request, record(done));
  io.run();
  EXPECT_EQ(done.calls, 1);
  EXPECT_EQ(done.error, netsnmp::make_error_code(SNMPERR_TOO_LONG));
  EXPECT_FALSE(done.values);
  snmp.close(session);
}

TEST_F(Service, OpenFailureReportsTheLibraryError) {
  service::session_handle session = nullptr;
  boost::system::error_code error;
  snmp.open(error, session, version_2c, "unix:/nonexistent/folder/socket", "public");
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(error.category(), netsnmp::error_category());
  EXPECT_LT(error.value(), 0);
  // The text, with what the library said of this failure, was kept where it arose: a message
  // is formatted without the library's lock, which its caller may hold.
  std::lock_guard<std::mutex> lock(netsnmp::library_mutex());
  EXPECT_NE(error.message().find("/nonexistent/folder/socket"), std::string::npos)
      << error.message();
  EXPECT_EQ(netsnmp::make_error_code(-24).message(), "Timeout");
}

TEST_F(Service, StopDrainCompletesEveryRequestOnceAndLaterOnesAtOnce) {
  fake_device device;
  std::vector<service::session_handle> sessions;
  std::vector<completion> done(20);
  for (auto& c : done) {
    sessions.push_back(open(device.peer()));
    auto request = get_request({sys_name});
    snmp.async_send(sessions.back(), request, record(c));
  }
  for (std::size_t i = 0; i < done.size(); ++i) device.receive();  // all in flight

  snmp.shutdown_reactor();
  completion late;
  auto request = get_request({sys_name});
  snmp.async_send(sessions.front(), request, record(late));
  io.run();  // must end: nothing is left in flight
  for (const auto& c : done) {
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(c.error, netsnmp::make_error_code(-22));
    EXPECT_EQ(c.thread, std::this_thread::get_id());
  }
  EXPECT_EQ(late.calls, 1);
  EXPECT_EQ(late.error, netsnmp::make_error_code(-22));
  for (auto& s : sessions) EXPECT_FALSE(snmp.close(s));
}

TEST_F(Service, DestroyingTheIoServiceFreesRequestsWithoutCallingHandlers) {
  fake_device device;
  completion done;
  service::session_handle session = nullptr;
  {
    boost::asio::io_context other;
    auto& other_snmp = boost::asio::use_service<service>(other);
    boost::system::error_code error;
    other_snmp.open(error, session, version_2c, device.peer(), "public");
    auto request = get_request({sys_name});
    other_snmp.async_send(session, request, record(done));
    device.receive();
  }
  EXPECT_EQ(done.calls, 0);
  snmp_sess_close(session);  // the library calls back for the request it still held
}

TEST_F(Service, ThousandsInFlightAllComplete) {
  constexpr int count = 2000;
  if (!test::allow_open_files(count + 200)) GTEST_SKIP() << "not enough file descriptors";

  test::snmpd_options options;
  options.extra_lines.push_back("[snmp] serverRecvBuf 4194304");  // a burst of 2,000 requests
  test::snmpd daemon(options);
  global_settings() = settings{2, 2};
  std::vector<service::session_handle> sessions(count);
  std::vector<completion> done(count);
  int left = count;
  for (int i = 0; i < count; ++i) {
    sessions[i] = open(daemon.peer());
    auto request = get_request({sys_name, sys_location});
    snmp.async_send(sessions[i], request,
                    [this, i, &sessions, &done, &left](const boost::system::error_code& e, pdu* r) {
                      EXPECT_FALSE(snmp.close(sessions[i]));  // as the poller does
                      record(done[i])(e, r);
                      --left;
                    });
  }
  io.run();
  EXPECT_EQ(left, 0);
  int answered = 0;
  for (const auto& c : done) {
    EXPECT_EQ(c.calls, 1);
    answered += c.values && c.values->size() == 2 ? 1 : 0;
  }
  EXPECT_EQ(answered, count);
}

}  // namespace
}  // namespace tamro::snmp
