// The service under the service control manager: status reports, the
// control handler and the service body with its once-a-second loop.
#include <atomic>
#include <cstdio>

#include "common/textutil.h"
#include "common/win32/handles.h"
#include "common/win32/platform.h"
#include "service/kelmsvc.h"
#include "service/logic/svcprogram.h"

namespace kelm::svc {

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
StatusReporter g_status;        // the status record, kept between reports
Lock g_statusLock;              // the handler and the service thread report
std::atomic<DWORD> g_lastError{0};
std::atomic<HANDLE> g_stopEvent{nullptr};  // owned by ServiceBody

constexpr DWORD kStartHint = 3000;
constexpr DWORD kStepMs = 1000;
constexpr DWORD kStartupRequest = 0x8000e020;

BOOL ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
  SERVICE_STATUS st{};
  {
    LockGuard guard(g_statusLock);
    const StatusRecord& r = g_status.Prepare(state, exitCode, waitHint);
    st.dwServiceType = r.serviceType;
    st.dwCurrentState = r.currentState;
    st.dwControlsAccepted = r.controlsAccepted;
    st.dwWin32ExitCode = r.win32ExitCode;
    st.dwServiceSpecificExitCode = r.serviceExitCode;
    st.dwCheckPoint = r.checkPoint;
    st.dwWaitHint = r.waitHint;
  }
  BOOL ok = SetServiceStatus(g_statusHandle, &st);
  if (!ok) LogEventError("SetServiceStatus");
  return ok;
}

DWORD CurrentState() {
  LockGuard guard(g_statusLock);
  return g_status.record().currentState;
}

void WINAPI ServiceControlHandler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
    if (HANDLE stop = g_stopEvent.load()) SetEvent(stop);
    return;
  }
  ReportStatus(CurrentState(), NO_ERROR, 0);
}

ServiceMode ReadServiceMode() {
  char value[150] = {};
  win::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    DWORD type = 0, size = sizeof value - 1;
    if (RegQueryValueExA(key.get(), "INSTALLTYPE", nullptr, &type,
                         reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
      value[0] = '\0';
    value[sizeof value - 1] = '\0';
  }
  return EqualsNoCase(value, "SOFTWARE") ? ServiceMode::Software : ServiceMode::RfKey;
}

// The file-monitor driver must run for the protection to apply.
void StartMonitorDriver() {
  win::ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  win::ScHandle mon(OpenServiceA(manager.get(), "kelmmon", SERVICE_ALL_ACCESS));
  if (!mon) return;
  SERVICE_STATUS st{};
  if (QueryServiceStatus(mon.get(), &st) && st.dwCurrentState == SERVICE_RUNNING) return;
  StartServiceA(mon.get(), 0, nullptr);  // "already running" is as good
}

// Windows XP: the virtual disk driver wants one start-up request.
void SendDriverStartup() {
  win::UniqueHandle dev(CreateFileA("\\\\.\\kelmgui", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_NO_BUFFERING, nullptr));
  if (!dev) return;
  char x = 'X';
  DWORD returned = 0;
  DeviceIoControl(dev.get(), kStartupRequest, &x, 1, nullptr, 0, &returned, nullptr);
}

void RunningPhase() {
  {
    LockGuard guard(CommandLock());
    Operations().ClearUserConfig();
  }
  WriteProfileStringA("kelmkey", "keyid", "0");
  {
    LockGuard guard(CommandLock());
    Operations().ReloadUserIds();
  }
  StartMonitorDriver();
  if (win::ServicePlatformVersion() == 2001) SendDriverStartup();

  PipeMarkNotConnected();
  win::UniqueHandle thread(CreateThread(nullptr, 0, PipeServer, nullptr, 0, nullptr));

  for (;;) {
    DWORD r = WaitForSingleObject(g_stopEvent, kStepMs);
    if (r == WAIT_OBJECT_0) break;
    if (r == WAIT_TIMEOUT) KeyWatchStep();
    else Sleep(kStepMs);  // a failed wait must not spin
  }
  FinalDismount();
}

void ServiceBody() {
  if (ReportStatus(SERVICE_START_PENDING, NO_ERROR, kStartHint)) {
    win::UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stop) {
      g_stopEvent = stop.get();
      if (ReportStatus(SERVICE_START_PENDING, NO_ERROR, kStartHint) &&
          ReportStatus(SERVICE_RUNNING, NO_ERROR, 0))
        RunningPhase();
      g_stopEvent = nullptr;
    }
  }
  PipeShutdown();
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceControlHandler);
  if (!g_statusHandle) return;
  if (ReportStatus(SERVICE_START_PENDING, NO_ERROR, kStartHint)) {
    State().kw.mode = ReadServiceMode();
    ServiceBody();
  }
  ReportStatus(SERVICE_STOPPED, g_lastError.load(), 0);
}

}  // namespace

void LogEventError(const char* message) {
  DWORD code = GetLastError();
  g_lastError = code;
  win::EventSource source(RegisterEventSourceA(nullptr, kServiceName));
  if (!source) return;
  char first[256];
  std::snprintf(first, sizeof first, "%s error: %d", kServiceName, static_cast<int>(code));
  const char* strings[2] = {first, message};
  ReportEventA(source.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
}

int ServiceEntry() {
  static char name[] = "KelmSvr";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) LogEventError("StartServiceCtrlDispatcher failed.");
  return 0;
}

}  // namespace kelm::svc
