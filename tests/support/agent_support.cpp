#include "tests/support/agent_support.hpp"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "log/sink.hpp"

namespace tamro::test {

captured_log::captured_log() {
  auto& sink = log::sink::global();
  sink.set_console_stream(out_.rdbuf());
  sink.set_console(true);
  sink.set_threshold(log::debug);
}

captured_log::~captured_log() {
  auto& sink = log::sink::global();
  sink.set_console(false);
  sink.set_console_stream(std::cout.rdbuf());
}

bool captured_log::has(char level, const std::string& message) const {
  return text().find(std::string("[") + level + "] " + message + "\n") != std::string::npos;
}

bool captured_log::has_prefix(char level, const std::string& start) const {
  return text().find(std::string("[") + level + "] " + start) != std::string::npos;
}

int captured_log::count(char level) const {
  const std::string marker = std::string(" [") + level + "] ";
  int n = 0;
  const std::string all = text();
  for (auto at = all.find(marker); at != std::string::npos; at = all.find(marker, at + 1)) ++n;
  return n;
}

management_server::management_server(const temp_dir& dir, std::optional<tls_files> tls,
                                     std::string host)
    : scheme_(tls ? "https" : "http"),
      host_(std::move(host)),
      script_file_(dir.file(scheme_ + "-script.json")),
      record_file_(dir.file(scheme_ + "-requests.jsonl")) {
  script("{}");
  std::vector<std::string> argv = {
      TAMRO_PYTHON3, std::string(TAMRO_SOURCE_DIR) + "/tools/management_server.py",
      "--port",      "0",
      "--host",      host_,
      "--script",    child_path(script_file_),
      "--record",    child_path(record_file_)};
  if (tls) {
    argv.insert(argv.end(),
                {"--cert", child_path(tls->certificate), "--key", child_path(tls->key)});
  }
  process_ = std::make_unique<child_process>(argv, dir.file(scheme_ + "-server.out"));
  const std::string marker = "listening on ";
  if (!wait_until([&] { return output().find('\n') != std::string::npos; },
                  std::chrono::seconds(10)) ||
      output().find(marker) != 0) {
    throw std::runtime_error("management server did not start: " + output());
  }
  port_ = static_cast<unsigned short>(std::stoi(output().substr(marker.size())));
}

std::string management_server::url(const std::string& path) const {
  const bool ipv6 = host_.find(':') != std::string::npos;
  return scheme_ + "://" + (ipv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_) + path;
}

void management_server::script(const std::string& json) const {
  // The server reads the script at every request: never let it see half a file. (Windows'
  // std::rename does not replace an existing file; Boost's does.)
  write_file(script_file_ + ".new", json);
  boost::filesystem::rename(script_file_ + ".new", script_file_);
}

std::vector<recorded_request> management_server::requests() const {
  std::vector<recorded_request> result;
  std::istringstream lines(read_file(record_file_));
  std::string line;
  while (std::getline(lines, line)) {
    boost::property_tree::ptree entry;
    std::istringstream json(line);
    boost::property_tree::read_json(json, entry);
    recorded_request request;
    request.tls = entry.get<bool>("tls");
    request.request_line = entry.get<std::string>("request_line");
    for (const auto& header : entry.get_child("headers")) {
      auto field = header.second.begin();
      const std::string name = field->second.data();
      request.headers.emplace_back(name, (++field)->second.data());
    }
    request.body = entry.get<std::string>("body");
    request.status = entry.get<int>("status");
    request.connection = entry.get<int>("connection");
    request.on_connection = entry.get<int>("on_connection");
    result.push_back(std::move(request));
  }
  return result;
}

namespace {

void run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("failed: " + command);
  }
}

tls_files signed_certificate(const temp_dir& dir, const std::string& stem,
                             const std::string& alt_name, const test_pki& pki) {
  const tls_files files{dir.file(stem + ".pem"), dir.file(stem + ".key")};
  write_file(dir.file(stem + ".ext"), "subjectAltName=" + alt_name + "\n");
  run("openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=" + stem +
      " -keyout " + files.key + " -out " + dir.file(stem + ".csr"));
  run("openssl x509 -req -days 2 -in " + dir.file(stem + ".csr") + " -CA " + pki.ca_certificate +
      " -CAkey " + dir.file("ca.key") + " -CAcreateserial -extfile " + dir.file(stem + ".ext") +
      " -out " + files.certificate);
  return files;
}

}  // namespace

test_pki make_test_pki(const temp_dir& dir) {
  test_pki pki;
  pki.ca_certificate = dir.file("ca.pem");
  run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
      "-subj /CN=tamro-test-ca -keyout " +
      dir.file("ca.key") + " -out " + pki.ca_certificate);
  pki.ip_host = signed_certificate(dir, "ip-host", "IP:127.0.0.1,IP:::1", pki);
  pki.other_host = signed_certificate(dir, "other-host", "DNS:tamro.invalid", pki);
  return pki;
}

}  // namespace tamro::test
