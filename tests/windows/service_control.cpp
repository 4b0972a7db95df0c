// service_control NAME paramchange|interrogate|stop: sends one control code to a service
// and prints its state afterwards (wine's sc has no "control").
// service_control NAME query: prints its state and exit codes ("state 1 exit 1066 specific 1").
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: service_control NAME paramchange|interrogate|stop|query\n");
    return 2;
  }
  const bool query = std::strcmp(argv[2], "query") == 0;
  DWORD code = SERVICE_CONTROL_INTERROGATE;
  if (std::strcmp(argv[2], "paramchange") == 0) code = SERVICE_CONTROL_PARAMCHANGE;
  if (std::strcmp(argv[2], "stop") == 0) code = SERVICE_CONTROL_STOP;
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager != nullptr ? ::OpenServiceA(manager, argv[1], SERVICE_ALL_ACCESS) : nullptr;
  SERVICE_STATUS status{};
  const bool done = service != nullptr && (query ? ::QueryServiceStatus(service, &status)
                                                 : ::ControlService(service, code, &status));
  if (!done) std::fprintf(stderr, "%s failed: error %lu\n", argv[2], ::GetLastError());
  std::printf("state %lu", status.dwCurrentState);
  if (query) {
    std::printf(" exit %lu specific %lu", status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
  }
  std::printf("\n");
  if (service != nullptr) ::CloseServiceHandle(service);
  if (manager != nullptr) ::CloseServiceHandle(manager);
  return done ? 0 : 1;
}
