// Running kelmsh.dll's host program (shhost.exe) from the Wine tests, and
// the registration the installer writes.
#pragma once
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "protectfix.h"

namespace kelmtest {

inline constexpr char kClsid[] = "{5e2a7c41-93d0-4b6e-8f17-2c9ab04d6e53}";

// Runs shhost.exe with args; pumps this thread's messages meanwhile (the
// extension sends to the window above). Its stdout.
inline std::string Host(const std::string& args) {
  // Output to a file: a pipe's write end can outlive the host in Wine's
  // console process and never report its end.
  const char* outFile = "C:\\shxhost\\out.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE wr = CreateFileA(outFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                          CREATE_ALWAYS, 0, nullptr);
  if (wr == INVALID_HANDLE_VALUE) return "<no output file>";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = wr;
  si.hStdError = wr;
  si.hStdInput = nullptr;
  PROCESS_INFORMATION pi{};
  // The host runs from a folder of its own, so that the library comes from
  // the Windows directory through the registration.
  std::string cmd = "\"C:\\shxhost\\shhost.exe\" " + args;
  std::fprintf(stderr, "host %s\n", args.c_str());
  const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, "C:\\shxhost", &si, &pi);
  CloseHandle(wr);
  if (!started) return "<no start>";
  CloseHandle(pi.hThread);
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 180000, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      continue;
    }
    if (r == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    break;
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  std::string out;
  {
    kelm::win::UniqueHandle h(CreateFileA(outFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    char buf[4096];
    DWORD n = 0;
    while (h && ReadFile(h.get(), buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  }
  for (auto& c : out)
    if (c == '\r') c = ' ';
  // Lines without their trailing blanks.
  std::string clean;
  for (char c : out) {
    if (c == '\n')
      while (!clean.empty() && clean.back() == ' ') clean.pop_back();
    clean += c;
  }
  if (code != 0) clean += "exit " + std::to_string(code) + "\n";
  return clean;
}

inline bool Has(const std::string& out, const std::string& line) { return out.find(line + "\n") != std::string::npos; }

inline std::vector<std::string> Lines(const std::string& out, const std::string& prefix) {
  std::vector<std::string> v;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);)
    if (l.rfind(prefix, 0) == 0) v.push_back(l);
  return v;
}

inline void SetDefault(HKEY root, const std::string& path, const char* value) {
  kelm::win::RegKey k;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr), ERROR_SUCCESS) << path;
  RegSetValueExA(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(std::strlen(value) + 1));
}

// The registration exactly as the installer writes it.
inline void Register() {
  const std::string clsid = std::string("CLSID\\") + kClsid;
  SetDefault(HKEY_CLASSES_ROOT, clsid, "Kelm Shell Extension");
  SetDefault(HKEY_CLASSES_ROOT, clsid + "\\InProcServer32", "kelmsh.dll");
  kelm::win::RegKey k;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (clsid + "\\InProcServer32").c_str(), 0, KEY_SET_VALUE, k.put()), ERROR_SUCCESS);
  RegSetValueExA(k.get(), "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
  SetDefault(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\KelmMenu", kClsid);
  SetDefault(HKEY_CLASSES_ROOT, "*\\shellex\\PropertySheetHandlers\\KelmPage", kClsid);
  SetDefault(HKEY_CLASSES_ROOT, "directory\\shellex\\ContextMenuHandlers\\KelmMenu", kClsid);
  SetDefault(HKEY_CLASSES_ROOT, "directory\\shellex\\PropertySheetHandlers\\KelmPage", kClsid);
  kelm::win::RegKey a;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, a.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(a.get(), kClsid, 0, REG_SZ, reinterpret_cast<const BYTE*>("Kelm Shell Extensio"), 20);
  ASSERT_TRUE(CopyFileA((ProgramDir() + "\\kelmsh.dll").c_str(), (WindowsDir() + "\\kelmsh.dll").c_str(), FALSE));
}

inline void SetUser(const char* id) { ASSERT_TRUE(WriteProfileStringA("kelmkey", "keyid", id)); }

inline void ResetStore() {
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\kesk");
}


// The host in a folder of its own (C:\\shxhost), beside no copy of the library.
inline void InstallHost() {
  CreateDirectoryA("C:\\shxhost", nullptr);
  ASSERT_TRUE(CopyFileA((ProgramDir() + "\\shhost.exe").c_str(), "C:\\shxhost\\shhost.exe", FALSE));
}

}  // namespace kelmtest
