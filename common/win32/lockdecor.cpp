#include "common/win32/lockdecor.h"

#include <shlwapi.h>

#include <memory>
#include <new>
#include <string>

#include "common/profiletext.h"
#include "common/protection.h"
#include "common/win32/handles.h"
#include "common/win32/language.h"

namespace kelm::win {
namespace {

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kLockAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kCopyChunk = 64 * 1024;  // write size of the INI rewrite

bool IsFile(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Sets path's attributes to its own with `add` added and `remove` taken away.
bool ChangeAttributes(const char* path, DWORD add, DWORD remove) {
  const DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  DWORD b = ((a & kSettableAttributes) | add) & ~remove;
  if (b == 0) b = FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesA(path, b) != FALSE;
}

bool WriteAll(HANDLE h, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD want = size > kCopyChunk ? kCopyChunk : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(h, data, want, &done, nullptr) || done != want) return false;
    data += done;
    size -= done;
  }
  return true;
}

int WriteDecoration(const char* ini, bool decorated, const char* icon) {
  protect::IniValue values[protect::kDecorationValues];
  protect::DecorationValues(decorated, icon, values);
  for (const protect::IniValue& v : values)
    if (!MyWritePrivateProfileString(protect::kShellClassInfo, v.key, v.value, ini)) return 0;
  return 1;
}

int RewriteFile(const char* section, const char* key, const char* value, const char* file) {
  if (!IsFile(file)) {
    UniqueHandle created(CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!created) return 0;
  }
  UniqueHandle h(CreateFileA(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h) return 0;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h.get(), &size) || size.QuadPart > kMaxProfileFile) return 0;
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    DWORD n = 0;
    if (!ReadFile(h.get(), text.data() + got, static_cast<DWORD>(text.size() - got), &n, nullptr)) return 0;
    if (n == 0) break;
    got += n;
  }
  text.resize(got);
  const std::string out = profile::RewriteProfileText(text, section, key, value);
  if (SetFilePointer(h.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
  if (!WriteAll(h.get(), out.data(), out.size()) || !SetEndOfFile(h.get())) return 0;
  return 1;
}

}  // namespace

int MyWritePrivateProfileString(const char* section, const char* key, const char* value, const char* file) {
  if (section == nullptr || key == nullptr || value == nullptr || file == nullptr || file[0] == '\0') return 0;
  try {
    return RewriteFile(section, key, value, file);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int ShowLockStatus(const char* folder, int level) {
  if (folder == nullptr || folder[0] == '\0') return 0;
  char windir[MAX_PATH];
  const UINT n = GetWindowsDirectoryA(windir, sizeof windir);
  if (n == 0 || n >= sizeof windir) return 0;
  char icon[protect::kPathBuffer], ini[protect::kPathBuffer];
  if (!protect::JoinPath(windir, protect::LevelIconName(level), icon, sizeof icon) || !IsFile(icon)) return 0;
  if (!PathMakeSystemFolderA(folder)) return 0;
  ChangeAttributes(folder, FILE_ATTRIBUTE_SYSTEM, 0);
  if (!protect::DesktopIniPath(folder, ini, sizeof ini)) return 0;
  if (IsFile(ini)) {
    if (!ChangeAttributes(ini, 0, kLockAttributes)) return 0;
  } else {
    char templ[protect::kPathBuffer];
    if (!protect::JoinPath(windir, protect::kTemplateIni, templ, sizeof templ) || !IsFile(templ)) return 0;
    if (!MyCopyFile(templ, ini)) return 0;
    if (!ChangeAttributes(ini, 0, kLockAttributes)) return 0;
  }
  return WriteDecoration(ini, true, icon);
}

int ClearLockStatus(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  ChangeAttributes(path, 0, kLockAttributes);
  char ini[protect::kPathBuffer];
  if (!protect::DesktopIniPath(path, ini, sizeof ini) || !IsFile(ini)) return 0;
  if (!SetFileAttributesA(ini, FILE_ATTRIBUTE_NORMAL)) return 0;
  return WriteDecoration(ini, false, nullptr);
}

int MyCopyFile(const char* from, const char* to, HWND owner, CopyProgressFn progress, void* context) {
  if (from == nullptr || to == nullptr) return 0;
  UniqueHandle src(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!src) return 0;
  UniqueHandle dst(CreateFileA(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!dst) return 0;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(src.get(), &size)) return 0;
  if (size.QuadPart == 0) return 1;

  char root[4] = {};
  for (int i = 0; i < 3 && to[i] != '\0'; ++i) root[i] = to[i];
  ULARGE_INTEGER freeBytes{};
  if (!GetDiskFreeSpaceExA(root, nullptr, nullptr, &freeBytes) ||
      freeBytes.QuadPart / 1024 < static_cast<ULONGLONG>(size.QuadPart) / 1024) {
    char text[256];
    LanguageLookup("cfgdlg_set3", "Disk Space is not enough", text, sizeof text);
    MessageBoxA(owner, text, "Warning", MB_OK | MB_ICONWARNING);
    return 0;
  }

  // Bounded pieces instead of one buffer of the file's size: a file larger
  // than the host can allocate still copies, and memory stays flat.
  std::unique_ptr<char[]> buf(new (std::nothrow) char[kCopyPiece]);
  if (!buf) return 0;
  const ULONGLONG total = static_cast<ULONGLONG>(size.QuadPart);
  ULONGLONG done = 0;
  bool ok = true, stopped = false;
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(src.get(), buf.get(), kCopyPiece, &n, nullptr)) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(dst.get(), buf.get(), n)) {
      ok = false;
      break;
    }
    done += n;
    if (progress != nullptr && !progress(context, done, total)) {
      stopped = true;
      break;
    }
  }
  if (stopped) {
    dst.reset();
    DeleteFileA(to);
    return 0;
  }
  FlushFileBuffers(dst.get());
  return ok ? 1 : 0;
}

}  // namespace kelm::win
