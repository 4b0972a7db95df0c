#include "tests/support/child_process.hpp"

#include <windows.h>
#include <cstdio>
#include <stdexcept>

#include "tests/support/temp_dir.hpp"

namespace tamro::test {
namespace {

using std::chrono::milliseconds;

constexpr int linux_sigkill = 9;

// Wine's kernel32 translates between Windows names and the host's Unix names. Without it
// there is no Linux to run the peers on.
template <class Function>
Function wine_function(const char* name) {
  const auto found = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name);
  if (found == nullptr) {
    throw std::runtime_error("the tests' peers are Linux programs: run the tests under wine");
  }
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

std::wstring wide(const std::string& text) {
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring result(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1) ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), size);
  return result;
}

// A Linux program's Windows name, for CreateProcess.
std::wstring windows_name(const std::string& unix_name) {
  static const auto convert = wine_function<WCHAR*(CDECL*)(LPCSTR)>("wine_get_dos_file_name");
  WCHAR* name = convert(unix_name.c_str());
  if (name == nullptr) throw std::runtime_error("no Windows name for " + unix_name);
  std::wstring result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// Starts a Linux program. Wine hands back no process handle for it, so the programs of the
// tests report through files instead.
void launch(const std::string& program, const std::vector<std::string>& arguments) {
  std::wstring line = L"\"" + windows_name(program) + L"\"";
  for (const auto& argument : arguments) {
    // Wine splits the line Windows-style: a quote or a final backslash would be taken apart.
    if (argument.find('"') != std::string::npos || (!argument.empty() && argument.back() == '\\')) {
      throw std::runtime_error("cannot pass " + argument + " to " + program);
    }
    line += L" \"" + wide(argument) + L"\"";
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    throw std::runtime_error("cannot start " + program + ": error " +
                             std::to_string(::GetLastError()));
  }
  // For a Linux program wine leaves hProcess null and the other fields made up: closing that
  // "thread handle" would close whatever handle of ours has its value.
  if (process.hProcess != nullptr) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

std::string shell_word(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A shell line that writes the value of `expression` to `file` whole: readers never see it
// half written.
std::string publish(const std::string& expression, const std::string& file) {
  const auto target = shell_word(child_path(file));
  const auto draft = shell_word(child_path(file + ".new"));
  return "echo " + expression + " >" + draft + " && mv " + draft + " " + target + "\n";
}

std::string pid_file(const std::string& output_file) { return output_file + ".pid"; }
std::string status_file(const std::string& output_file) { return output_file + ".status"; }

}  // namespace

// The program runs in the background of a shell script, which records its process id and,
// once it ended, its exit status (128 + signal when a signal ended it) in files beside the
// output file.
child_process::child_process(const std::vector<std::string>& argv, const std::string& output_file,
                             const std::map<std::string, std::string>& environment)
    : output_file_(output_file) {
  std::remove(pid_file(output_file_).c_str());
  std::remove(status_file(output_file_).c_str());
  std::string script = "exec </dev/null >" + shell_word(child_path(output_file_)) + " 2>&1\n";
  for (const auto& [name, value] : environment) {
    script +=
        value.empty() ? "unset " + name + "\n" : "export " + name + "=" + shell_word(value) + "\n";
  }
  for (const auto& word : argv) script += shell_word(word) + " ";
  script += "&\n" + publish("$!", pid_file(output_file_)) + "wait $!\n" +
            publish("$?", status_file(output_file_));
  const auto script_file = output_file_ + ".sh";
  write_file(script_file, script);
  launch("/bin/sh", {child_path(script_file)});
  if (!wait_until([this] { return !read_file(pid_file(output_file_)).empty(); },
                  milliseconds(10000))) {
    throw std::runtime_error("the shell did not start " + argv.front() + ": " + output());
  }
  pid_ = std::stoi(read_file(pid_file(output_file_)));
}

child_process::~child_process() { kill(); }

void child_process::kill() {
  if (status_ || pid_ <= 0) return;
  signal(linux_sigkill);
  wait(milliseconds(10000));
}

void child_process::signal(int number) const {
  // Once the status is written the shell has reaped the program, and its PID may be reused.
  if (!status_ && pid_ > 0 && read_file(status_file(output_file_)).empty()) {
    launch("/bin/kill", {"-" + std::to_string(number), std::to_string(pid_)});
  }
}

std::optional<int> child_process::wait(std::chrono::milliseconds limit) {
  wait_until(
      [this] {
        if (!status_) {
          const auto text = read_file(status_file(output_file_));
          if (!text.empty()) status_ = std::stoi(text);
        }
        return status_.has_value();
      },
      limit);
  return status_;
}

std::string child_path(const std::string& path) {
  static const auto convert = wine_function<char*(CDECL*)(LPCWSTR)>("wine_get_unix_file_name");
  char* name = convert(wide(path).c_str());
  if (name == nullptr) throw std::runtime_error("no Unix name for " + path);
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  // snmpd takes a colon in its search paths for a separator, and C:'s Unix name has one
  // (".../dosdevices/c:"): the tests' wine prefix has the host's temporary folder instead.
  if (result.find(':') != std::string::npos) {
    throw std::runtime_error(result +
                             ": a colon in a peer's path (see tests/windows/wine_prefix.sh)");
  }
  return result;
}

}  // namespace tamro::test
