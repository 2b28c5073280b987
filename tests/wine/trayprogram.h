// KelmCfg.exe as the tests start it: its own process from a folder of its
// own, with the service's log, kelmsim and the store to watch it by.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "common/storefields.h"
#include "common/win32/diskstore.h"
#include "common/win32/handles.h"
#include "kelmsim_client.h"
#include "procwindows.h"
#include "svcclient.h"

namespace kelm::test {

using kelm::win::RegKey;

inline constexpr char kLog[] = "C:\\kelmlog.txt";
inline constexpr char kCfgDir[] = "C:\\kelmcfgtest";
inline constexpr char kMainCaption[] = "Virtual Disk Manager";
inline constexpr UINT kMsgTrayCallback = 0x0401;
inline constexpr UINT kMsgDriveLetters = 0x7000;
inline constexpr UINT kMsgHotKey = 13410;

inline std::string ReadLog() {
  std::ifstream f(kLog, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void Sim(const std::string& args) { ASSERT_EQ(Kelmsim(args).code, 0u) << args; }

inline int AttachedCount() {
  SimRun r = Kelmsim("status");
  std::istringstream in(r.out);
  int n = 0;
  for (std::string l; std::getline(in, l);)
    if (l.rfind("attached ", 0) == 0) ++n;
  return r.code == 0 ? n : -1;
}

inline void SetRootText(const char* name, const char* value) {
  RegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(),
                            nullptr),
            ERROR_SUCCESS);
  if (value)
    RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
  else
    RegDeleteValueA(k.get(), name);
}

inline bool CopyInto(const std::string& dir, const char* file) {
  return CopyFileA((BinDir() + "\\" + file).c_str(), (dir + "\\" + file).c_str(), FALSE) != FALSE;
}

// kCfgDir as the installer leaves it: KelmCfg.exe with its hot-key DLL and
// language file. With countdownSeconds above 0 the key-loss warning counts
// down that long instead of the shipped 30 seconds.
inline void PrepareTrayFolder(int countdownSeconds = 0) {
  CreateDirectoryA(kCfgDir, nullptr);
  for (const char* f : {"KelmCfg.exe", "kelmhkey.dll", "KelmCfg.lg"}) ASSERT_TRUE(CopyInto(kCfgDir, f)) << f;
  if (countdownSeconds <= 0) return;
  const std::string value = std::to_string(countdownSeconds);
  ASSERT_TRUE(WritePrivateProfileStringA("0409", "m_delayvalue", value.c_str(),
                                         (std::string(kCfgDir) + "\\KelmCfg.lg").c_str()));
}

// What a suite leaves in HKLM\SOFTWARE\kelm for the next: neither the
// installation's type nor the configured mark.
inline void ClearInstallMarks() {
  SetRootText("INSTALLTYPE", nullptr);
  SetRootText("configed", nullptr);
}

// The letter the service gives the first disk: the one after the highest
// letter in use now; whenNoneUsed when no letter is.
inline char FirstFreeLetter(char whenNoneUsed) {
  const DWORD used = GetLogicalDrives();
  for (int i = 25; i >= 0; --i)
    if (used & (1u << i)) return static_cast<char>('A' + i + 1);
  return whenNoneUsed;
}

// Slot letters from a pattern of offsets from first: "01--" is first,
// first + 1 and two empty slots.
inline std::string SlotLetters(char first, const char* pattern) {
  std::string r;
  for (const char* p = pattern; *p; ++p) r += *p == '-' ? '-' : static_cast<char>(first + (*p - '0'));
  return r;
}

// KelmCfg.exe as the user starts it: its own process, from its own folder.
class TrayProgram {
 public:
  bool Start() {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmd = std::string("\"") + kCfgDir + "\\KelmCfg.exe\"";
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, kCfgDir, &si, &pi)) return false;
    process_.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    pid_ = pi.dwProcessId;
    return Poll([&] { return (main_ = MainWindow()) != nullptr; }, 10000);
  }
  // The main window of this copy ("Virtual Disk Manager", never visible).
  HWND MainWindow() const {
    for (const TopWindow& w : ProcessWindows(pid_))
      if (w.caption == kMainCaption) return w.hwnd;
    return nullptr;
  }
  // What the shell extension asks: the four slot letters, packed.
  std::string Letters() const {
    DWORD_PTR packed = 0;
    if (!SendMessageTimeoutA(main_, kMsgDriveLetters, 0, 0, SMTO_ABORTIFHUNG, 3000, &packed)) return "<no answer>";
    std::string s;
    for (int slot = 0; slot < 4; ++slot) {
      const char c = static_cast<char>((packed >> (8 * slot)) & 0xFF);
      s += c ? c : '-';
    }
    return s;
  }
  bool WaitLetters(const std::string& want, DWORD ms = 10000) const {
    return Poll([&] { return Letters() == want; }, ms);
  }
  // Ends it the way the uninstaller does.
  void Close() {
    if (!process_) return;
    if (main_) PostMessageA(main_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "KelmCfg did not end after WM_CLOSE";
      TerminateProcess(process_.get(), 1);
    }
    process_.reset();
    main_ = nullptr;
  }
  bool Exited(DWORD ms) const { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
  DWORD pid() const { return pid_; }
  HWND main() const { return main_; }
  ~TrayProgram() { Close(); }

 private:
  UniqueHandle process_;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
};

inline void SaveImages(const char* user, std::initializer_list<unsigned> autoSlots, unsigned manualSlot) {
  auto save = [&](unsigned slot, bool autoMount) {
    char name[64];
    std::snprintf(name, sizeof name, "kelmcfg_%s_%u.img", user, slot);
    const std::string path = TempPath(name);
    ASSERT_TRUE(WriteTestImage(path, 33 + slot, "pw")) << path;
    kelm::win::SlotSettings s;
    s.valid = true;
    s.imagePath = path;
    s.sizeMb = 33 + slot;
    s.autoMount = autoMount;
    s.password = "pw";
    ASSERT_EQ(kelm::win::SaveSlot(user, slot, s, "2", nullptr), kelm::win::SaveSlotResult::Saved);
  };
  for (unsigned s : autoSlots) save(s, true);
  if (manualSlot < 4) save(manualSlot, false);
}

inline void StartService() {
  ASSERT_EQ(Svc("-install").exitCode, 0u);
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle s(OpenServiceA(scm.get(), "KelmSvr", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(s && StartServiceA(s.get(), 0, nullptr)) << GetLastError();
  ASSERT_TRUE(Poll(
      [] {
        SERVICE_STATUS st{};
        return QueryState(st) && st.dwCurrentState == SERVICE_RUNNING;
      },
      10000));
}

// A software installation's user: slot 0 of the test images as its one
// auto-mount disk, and its log-in password.
inline void SaveSoftwareUser(const char* user, const char* loginPassword) {
  kelm::store::UserPasswordTable passwords{};
  passwords.Clear();
  passwords.Put(user, loginPassword);
  kelm::win::SlotSettings s;
  s.valid = s.autoMount = true;
  const std::string path = TempPath((std::string("kelmcfg_") + user + "_0.img").c_str());
  s.imagePath = path;
  s.sizeMb = 33;
  s.password = "pw";
  ASSERT_EQ(kelm::win::SaveSlot(user, 0, s, "2", &passwords), kelm::win::SaveSlotResult::Saved);
}

}  // namespace kelm::test
