#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agents/agent_repository.hpp"
#include "agents/alarm_state_store.hpp"
#include "agents/host_identity.hpp"
#include "agents/list_change_log.hpp"
#include "agents/pushed_lists.hpp"
#include "agents/service_channel.hpp"
#include "agents/status_reporter.hpp"
#include "app/metrics/metrics_page.hpp"
#include "app/metrics/metrics_server.hpp"
#include "app/service_host.hpp"
#include "app/ticker.hpp"
#include "mapping/mapping_repository.hpp"
#include "reporting/heartbeat_posting.hpp"

namespace tamro {

// The root of the running agent: owns the I/O service, the repositories,
// the status reporter and the scheduling tick, and runs the main loop until a stop.
class application {
 public:
  using clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds default_tick_period{30};

  static application& instance();
  static void destroy_instance();

  // A tick period other than the default is only for tests.
  explicit application(clock::duration tick_period = default_tick_period);
  ~application();
  application(const application&) = delete;
  application& operator=(const application&) = delete;

  int run(int argc, const char* const argv[]);
  void main_loop();

  const std::string& configuration_file() const { return configuration_file_; }
  const std::string& mappings_file() const { return mappings_file_; }
  const std::string& devices_file() const { return devices_file_; }
  const host_identity& identity() const { return identity_; }

 private:
  void process_options(int argc, const char* const argv[]);
  void check_configuration();
  void poll_once();
  void report_error(const std::string& message);

  struct staged_configuration;
  // Start: loads the configuration or throws. Reload: the same, and a failure keeps the
  // configuration in force.
  void reload_configuration();
  void reload_or_keep_configuration();
  staged_configuration read_configuration();
  void read_reporting(const boost::property_tree::ptree& reporting, staged_configuration& staged);
  void apply_configuration(staged_configuration& staged);
  void apply_logging(const boost::property_tree::ptree& logging);
  void save_reporting_interval(long seconds);

  void run_io_cycle();
  // now: the tick's scheduled time, in whole seconds of UTC.
  bool on_tick(boost::posix_time::ptime now);
  void on_stop_signal(const boost::system::error_code& error);
  void on_reload_signal(const boost::system::error_code& error);
  void cancel_signal_waits();
  void stop_ticking();
  void save_changes();
  void start_due_devices(boost::posix_time::ptime now);
  void start_reporter_if_due(boost::posix_time::ptime now);
  void report_status();
  std::vector<device_sample> device_samples() const;
  std::string render_metrics() const;
  bool loop_turns() const;
  void open_metrics();

  int exit_code_ = 0;
  std::string configuration_file_;
  std::optional<std::string> configuration_option_;  // -c as given, for the service's command
  boost::optional<boost::property_tree::ptree> logging_in_force_;
  bool foreground_ = false;
  bool verbose_ = false;
  bool check_ = false;
  std::string check_persistent_directory_;  // the SNMP library's, during a check
  bool once_ = false;
  bool post_ = false;
  bool install_service_ = false;
  bool remove_service_ = false;
  bool announce_start_ = false;  // the start banner waits for the log file
  bool reload_requested_ = false;
  bool stop_requested_ = false;
  boost::asio::io_context io_service_;
  // Before the agents, which post and poll through them.
  heartbeat_posting posting_{io_service_};
  agents::service_channel snmp_channel_{io_service_};
  std::string mappings_file_;
  std::string devices_file_;
  mapping_repository mappings_;
  agent_repository devices_{io_service_, posting_.poster(), snmp_channel_, mappings_, identity_};
  agents::alarm_state_store alarm_states_;
  bool alarm_states_restored_ = false;
  agents::device_file_saver device_file_saver_;
  agents::pushed_lists pushed_lists_{mappings_, devices_, mappings_file_, devices_file_};
  boost::asio::signal_set stop_signals_;
  boost::asio::signal_set reload_signals_;
  clock::duration tick_period_;
  clock::time_point last_tick_;
  ticker<clock> heartbeat_timer_;
  std::unique_ptr<ticker<clock>> watchdog_timer_;  // only when the service manager watches
  std::string reload_failure_;                     // until a reload succeeds
  std::optional<std::chrono::system_clock::time_point> configuration_loaded_;  // last success
  clock::time_point start_time_;
  host_identity identity_;
  agents::status_reporter reporter_;
  std::unique_ptr<service_host> service_;
  std::optional<boost::asio::ip::tcp::endpoint> metrics_endpoint_;
  metrics_server metrics_;
};

}  // namespace tamro
