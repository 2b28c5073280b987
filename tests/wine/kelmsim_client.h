// For Wine tests that use the stand-in drivers: run kelmsim from the test
// program's folder and write minimal image files the stand-ins accept.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "common/desvariant.h"
#include "common/win32/handles.h"
#include "common/win32/platform.h"

namespace kelm::test {

struct SimRun {
  DWORD code = 0xFFFFFFFF;
  std::string out;  // standard output, without CR
};

// Runs "kelmsim ARGS" and waits for it; quiet discards its error output.
inline SimRun Kelmsim(const std::string& args, bool quiet = false) {
  char dir[MAX_PATH] = {};
  kelm::win::ModuleDirectory(dir, sizeof dir);
  std::string cmd = std::string("\"") + dir + "\\kelmsim.exe\" " + args;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE rd = nullptr, wr = nullptr;
  SimRun run;
  if (!CreatePipe(&rd, &wr, &sa, 0)) return run;
  kelm::win::UniqueHandle readEnd(rd), writeEnd(wr);
  SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
  kelm::win::UniqueHandle nul(CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = wr;
  si.hStdError = quiet ? nul.get() : GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  // On a loaded machine Wine has been seen to refuse a process start now and
  // then; a start is tried again, a kelmsim that ran and failed is not.
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt) Sleep(200);
    started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, dir, &si, &pi) != FALSE;
  }
  if (!started) return run;
  kelm::win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();
  char buf[512];
  DWORD got = 0;
  while (ReadFile(rd, buf, sizeof buf, &got, nullptr) && got)
    for (DWORD i = 0; i < got; ++i)
      if (buf[i] != '\r') run.out += buf[i];
  WaitForSingleObject(pi.hProcess, 60000);
  GetExitCodeProcess(pi.hProcess, &run.code);
  return run;
}

inline std::string TempPath(const char* name) {
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + name;
}

// An image file as the stand-ins check it: sizeMb + 3 MB long (plus
// lengthDelta bytes), sector 0 a FAT16 (or FAT32) boot sector enciphered
// under password (plain when it is empty); fat false writes no boot
// sector. Returns false when the file could not be written.
inline bool WriteTestImage(const std::string& path, std::uint32_t sizeMb, const char* password,
                           long lengthDelta = 0, bool fat = true, bool fat32 = false) {
  std::uint8_t s[512] = {};
  if (fat) {
    const std::uint8_t head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0', 0x00, 0x02, 4};
    std::memcpy(s, head, sizeof head);
    std::memcpy(s + (fat32 ? 82 : 54), fat32 ? "FAT32   " : "FAT16   ", 8);
    s[510] = 0x55;
    s[511] = 0xAA;
  } else {
    for (int i = 0; i < 512; ++i) s[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  if (*password && !kelm::CipherEncrypt(password, s, sizeof s)) return false;
  kelm::win::UniqueHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!f) return false;
  DWORD n = 0;
  if (!WriteFile(f.get(), s, sizeof s, &n, nullptr) || n != sizeof s) return false;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(sizeMb + 3) * 1048576 + lengthDelta;
  return SetFilePointerEx(f.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(f.get());
}

}  // namespace kelm::test
