#include <cstdio>

#include "common/win32/handles.h"
#include "service/kelmsvc.h"
#include "service/logic/svcprogram.h"

namespace kelm::svc {

const char* LastErrorText(char* buf) {
  DWORD code = GetLastError();
  char* text = nullptr;
  DWORD len = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, code, LANG_NEUTRAL, reinterpret_cast<char*>(&text), 0, nullptr);
  win::LocalMem owner(text);
  return FormatErrorText(len && text ? std::string_view(text, len) : std::string_view{}, code,
                         buf);
}

void InstallService() {
  char err[kErrorTextSize];
  char path[512];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) {
    std::printf("Unable to install %s - %s\n", kDisplayName, LastErrorText(err));
    return;
  }
  win::ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    std::printf("OpenSCManager failed - %s\n", LastErrorText(err));
    return;
  }
  win::ScHandle service(CreateServiceA(
      manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, path, nullptr, nullptr, "\0\0", nullptr, nullptr));
  if (service)
    std::printf("%s installed.\n", kDisplayName);
  else
    std::printf("CreateService failed - %s\n", LastErrorText(err));
}

void RemoveService() {
  char err[kErrorTextSize];
  win::ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    std::printf("OpenSCManager failed - %s\n", LastErrorText(err));
    return;
  }
  win::ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    std::printf("OpenService failed - %s\n", LastErrorText(err));
    return;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    std::printf("Stopping %s.", kDisplayName);
    std::fflush(stdout);
    Sleep(1000);
    while (QueryServiceStatus(service.get(), &status) &&
           status.dwCurrentState == SERVICE_STOP_PENDING) {
      std::printf(".");
      std::fflush(stdout);
      Sleep(1000);
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
      std::printf("\n%s stopped.\n", kDisplayName);
    else
      std::printf("\n%s failed to stop.\n", kDisplayName);
  }
  if (DeleteService(service.get()))
    std::printf("%s removed.\n", kDisplayName);
  else
    std::printf("DeleteService failed - %s\n", LastErrorText(err));
  std::fflush(stdout);
}

}  // namespace kelm::svc
