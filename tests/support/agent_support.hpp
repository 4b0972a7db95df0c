#pragma once

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace tamro::test {

// Sends every log line, debug included, to a string while it lives.
class captured_log {
 public:
  captured_log();
  ~captured_log();
  captured_log(const captured_log&) = delete;
  captured_log& operator=(const captured_log&) = delete;

  std::string text() const { return out_.str(); }
  // Whether a line of the level ('D', 'I', 'W', 'E') ends with exactly this message.
  bool has(char level, const std::string& message) const;
  // Whether a line of the level has a message starting with this text.
  bool has_prefix(char level, const std::string& start) const;
  int count(char level) const;

 private:
  std::stringstream out_;
};

struct recorded_request {
  bool tls = false;
  std::string request_line;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string body;
  int status = 200;       // what the server answered it with; 0 for no answer
  int connection = 0;     // which connection carried it, from 1 in the order accepted
  int on_connection = 0;  // its place on that connection, from 1
};

struct tls_files {
  std::string certificate;
  std::string key;
};

// The management-server simulator of tools/, started on 127.0.0.1 (or the loopback address
// given) with a free port and ended by its PID.
class management_server {
 public:
  explicit management_server(const temp_dir& dir, std::optional<tls_files> tls = {},
                             std::string host = "127.0.0.1");

  unsigned short port() const { return port_; }
  std::string url(const std::string& path = "/heartbeat") const;
  // Replaces the JSON script that shapes the next replies.
  void script(const std::string& json) const;
  std::vector<recorded_request> requests() const;
  std::string output() const { return process_->output(); }

 private:
  std::string scheme_;
  std::string host_;
  std::string script_file_;
  std::string record_file_;
  std::unique_ptr<child_process> process_;
  unsigned short port_ = 0;
};

struct test_pki {
  std::string ca_certificate;
  tls_files ip_host;     // subject alternative names IP:127.0.0.1 and IP:::1
  tls_files other_host;  // only the name tamro.invalid
};

// A certificate authority and two server certificates it signed, made with openssl.
test_pki make_test_pki(const temp_dir& dir);

}  // namespace tamro::test
