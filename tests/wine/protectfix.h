// Fixtures of the protection store and folder decoration tests: files and
// folders in the bench prefix, the decoration's files in the Windows
// directory, raw registry values of "Software\kesk".
#pragma once
#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "common/win32/handles.h"

namespace kelmtest {

inline std::string ReadFileBytes(const std::string& path) {
  std::string s;
  kelm::win::UniqueHandle h(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h) return "<none>";
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(h.get(), buf, sizeof buf, &n, nullptr) && n > 0) s.append(buf, n);
  return s;
}

inline bool WriteFileBytes(const std::string& path, const std::string& text) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  kelm::win::UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!h) return false;
  DWORD n = 0;
  return WriteFile(h.get(), text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
}

inline DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

inline bool Exists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

// Removes a folder and everything below it, whatever their attributes.
inline void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA fd;
  kelm::win::FindHandle find(FindFirstFileA((path + "\\*").c_str(), &fd));
  if (find) {
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = path + "\\" + name;
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileA(full.c_str());
    } while (FindNextFileA(find.get(), &fd));
  }
  find.reset();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

inline std::string WindowsDir() {
  char d[MAX_PATH];
  GetWindowsDirectoryA(d, sizeof d);
  return d;
}

inline std::string ProgramDir() {
  char p[MAX_PATH];
  GetModuleFileNameA(nullptr, p, sizeof p);
  std::string s = p;
  return s.substr(0, s.rfind('\\'));
}

// The build's lockfld1.ico, lockfld2.ico and lockcfg.ini put into the
// Windows directory for the tests; what was there before comes back.
class DecorationFiles {
 public:
  static constexpr const char* kNames[] = {"lockfld1.ico", "lockfld2.ico", "lockcfg.ini"};
  bool Install() {
    for (int i = 0; i < 3; ++i) {
      saved_[i] = ReadFileBytes(Path(kNames[i]));
      if (!CopyFileA((ProgramDir() + "\\" + kNames[i]).c_str(), Path(kNames[i]).c_str(), FALSE)) return false;
    }
    return true;
  }
  void Remove() {
    for (int i = 0; i < 3; ++i) {
      if (saved_[i] == "<none>")
        DeleteFileA(Path(kNames[i]).c_str());
      else
        WriteFileBytes(Path(kNames[i]), saved_[i]);
    }
  }
  static std::string Path(const char* name) { return WindowsDir() + "\\" + name; }

 private:
  std::string saved_[3] = {"<none>", "<none>", "<none>"};
};

// Writes a user's list as it is stored: values given as name/text pairs.
inline bool StoreValues(const std::string& userId, const std::vector<std::pair<std::string, std::string>>& values) {
  kelm::win::RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\kesk\\" + userId).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  for (const auto& [name, text] : values)
    if (RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS)
      return false;
  return true;
}

// A REG_SZ value of the user's key; "<missing>" when it cannot be read.
inline std::string StoredText(const std::string& userId, const char* name) {
  kelm::win::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\kesk\\" + userId).c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return "<missing>";
  char buf[2048] = {};
  DWORD len = sizeof buf - 1, type = 0;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &len) != ERROR_SUCCESS)
    return "<missing>";
  return type == REG_SZ ? std::string(buf) : "<not text>";
}

inline bool KeyExists(const char* path) {
  kelm::win::RegKey k;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

inline std::string ProfileText(const char* section, const char* key) {
  char buf[64] = {};
  GetProfileStringA(section, key, "<missing>", buf, sizeof buf);
  return buf;
}

// The decorated Desktop.ini as the writer leaves it after the template.
inline std::string DecoratedIni(const std::string& icon) {
  return "[.ShellClassInfo]\r\nIconFile=" + icon +
         "\r\nConfirmFileOp=0\r\nNoSharing=1\r\nIconIndex=0\r\nInfoTip=Kelm Locked File\r\n\r\n";
}

inline const std::string kClearedIni =
    "[.ShellClassInfo]\r\nIconFile=\r\nConfirmFileOp=0\r\nNoSharing=1\r\nIconIndex=0\r\nInfoTip=No\r\n\r\n";

}  // namespace kelmtest
