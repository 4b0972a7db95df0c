// service_control NAME paramchange|interrogate|stop: sends one control code to a service
// and prints its state afterwards (wine's sc has no "control").
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: service_control NAME paramchange|interrogate|stop\n");
    return 2;
  }
  DWORD code = SERVICE_CONTROL_INTERROGATE;
  if (std::strcmp(argv[2], "paramchange") == 0) code = SERVICE_CONTROL_PARAMCHANGE;
  if (std::strcmp(argv[2], "stop") == 0) code = SERVICE_CONTROL_STOP;
  SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager != nullptr ? ::OpenServiceA(manager, argv[1], SERVICE_ALL_ACCESS) : nullptr;
  SERVICE_STATUS status{};
  const bool sent = service != nullptr && ::ControlService(service, code, &status);
  if (!sent) std::fprintf(stderr, "control failed: error %lu\n", ::GetLastError());
  std::printf("state %lu\n", status.dwCurrentState);
  if (service != nullptr) ::CloseServiceHandle(service);
  if (manager != nullptr) ::CloseServiceHandle(manager);
  return sent ? 0 : 1;
}
