#include <gtest/gtest.h>

#include <csignal>

#include "tests/app/agent_files.hpp"
#include "tests/support/child_process.hpp"

namespace tamro::test {
namespace {

using namespace std::chrono_literals;

struct run_result {
  int exit_code;
  std::string output;
};

run_result run_tamro(const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment = {}) {
  temp_dir scratch;
  std::vector<std::string> argv{TAMRO_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto env = environment;
  env.emplace("NOTIFY_SOCKET", "");
  child_process tamro(argv, scratch.file("out"), env);
  const auto code = tamro.wait(30s);
  return {code.value_or(-1), tamro.output()};
}

TEST(CommandLine, VersionAndHelpPrintAndExit) {
  const auto version = run_tamro({"-V"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.output, "TAMRO v1.0.2.48224\n");

  for (const auto& args : {std::vector<std::string>{"-h"}, {"--help", "-V"}, {"-V", "-h"}}) {
    const auto help = run_tamro(args);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.output.rfind("TAMRO v1.0.2.48224\n\nCommand line options:\n", 0), 0u)
        << help.output;
    for (const char* text : {"--foreground", "run in the foreground instead of as a service",
                             "--configuration", "print log messages to standard output at debug"}) {
      EXPECT_NE(help.output.find(text), std::string::npos) << text;
    }
  }
}

TEST(CommandLine, ErrorsAreReportedWithExitCodeOne) {
  const auto unknown = run_tamro({"--bogus"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_EQ(unknown.output.rfind("Error: unrecognised option '--bogus'", 0), 0u) << unknown.output;

  const auto missing_argument = run_tamro({"-c"});
  EXPECT_EQ(missing_argument.exit_code, 1);
  EXPECT_EQ(missing_argument.output.rfind("Error: ", 0), 0u);

  const auto no_file = run_tamro({"-f", "-c", "/nonexistent/configuration.xml"});
  EXPECT_EQ(no_file.exit_code, 1);
  EXPECT_NE(no_file.output.find("Error: configuration: /nonexistent/configuration.xml"),
            std::string::npos)
      << no_file.output;
  EXPECT_NE(no_file.output.find("cannot open file"), std::string::npos);

  const auto not_service = run_tamro({"-c", "/nonexistent/configuration.xml"});
  EXPECT_EQ(not_service.exit_code, 1);
  EXPECT_EQ(not_service.output,
            "Error: this application should be started as a service unless the -f option is "
            "specified.\n");
}

TEST(CommandLine, DefaultConfigurationLivesUnderTheHome) {
  const auto result = run_tamro({"-f"}, {{"TAMRO_HOME", "/nonexistent/home"}});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("Error: configuration: /nonexistent/home/config/configuration.xml"),
            std::string::npos)
      << result.output;
}

// The Windows modes exclude the others; on Linux they say where the service comes from.
TEST(CommandLine, ServiceRegistrationIsWindowsOnly) {
  const auto mixed = run_tamro({"--install-service", "--once"});
  EXPECT_EQ(mixed.exit_code, 1);
  EXPECT_NE(mixed.output.find("exclude each other"), std::string::npos) << mixed.output;

  for (const char* mode : {"--install-service", "--remove-service"}) {
    const auto result = run_tamro({mode});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.output.find("Error: service registration is for Windows"), std::string::npos)
        << result.output;
  }
}

}  // namespace
}  // namespace tamro::test
