// For Wine tests that talk to the real service: start programs and read
// their output, the service's state, and one client of the service pipe.
#pragma once
#include <windows.h>

#include <string>

#include "common/win32/handles.h"
#include "common/win32/pipeclient.h"

namespace kelm::test {

using kelm::win::ScHandle;
using kelm::win::UniqueHandle;

inline constexpr char kPipeName[] = "\\\\.\\PIPE\\kelmpip";

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;  // CR LF of the console runtime folded to LF
};

inline std::string BinDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string p(path, n);
  return p.substr(0, p.rfind('\\'));
}

inline std::string ServicePath() { return BinDir() + "\\kelmsvc.exe"; }

inline RunResult RunProgram(const std::string& cmdline, DWORD timeoutMs = 30000) {
  RunResult res;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE rd = nullptr, wr = nullptr;
  if (!CreatePipe(&rd, &wr, &sa, 0)) return res;
  UniqueHandle readEnd(rd), writeEnd(wr);
  SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = wr;
  si.hStdError = wr;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cl = cmdline;
  if (!CreateProcessA(nullptr, cl.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return res;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();
  char buf[512];
  DWORD n = 0;
  std::string raw;
  while (ReadFile(rd, buf, sizeof buf, &n, nullptr) && n) raw.append(buf, n);
  WaitForSingleObject(pi.hProcess, timeoutMs);
  GetExitCodeProcess(pi.hProcess, &res.exitCode);
  for (std::size_t i = 0; i < raw.size(); ++i)
    if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) res.out += raw[i];
  return res;
}

inline RunResult Svc(const char* arg) { return RunProgram("\"" + ServicePath() + "\" " + arg); }

inline bool QueryState(SERVICE_STATUS& st) {
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return false;
  ScHandle svc(OpenServiceA(scm.get(), "KelmSvr", SERVICE_QUERY_STATUS));
  return svc && QueryServiceStatus(svc.get(), &st);
}

// One client connection to the service pipe.
class Client {
 public:
  DWORD Open() { return c_.Open(kPipeName); }
  // Retries while the one instance is busy or being remade.
  bool OpenWithin(DWORD ms) { return c_.Open(kPipeName, ms) == 0; }
  void Close() { c_.Close(); }
  bool Send(const std::string& text) { return c_.Write(text); }
  // One message within ms; "" when nothing came, "<broken>" when the
  // service closed the instance.
  std::string Read(DWORD ms = 2000) {
    std::string message;
    switch (c_.Read(message, ms)) {
      case kelm::win::PipeRead::Message: return message;
      case kelm::win::PipeRead::Nothing: return "";
      case kelm::win::PipeRead::Closed: break;
    }
    return "<broken>";
  }

 private:
  kelm::win::PipeConnection c_;
};

}  // namespace kelm::test
