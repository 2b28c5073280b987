#include "common/win32/language.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/textutil.h"
#include "common/win32/platform.h"

namespace kelm::win {
namespace {

constexpr std::size_t kValueBuffer = 256;  // a value is cut to 255 characters
constexpr std::size_t kPathBuffer = MAX_PATH + 32;

LanguageFileKind g_kind = LanguageFileKind::ProgramDir;
unsigned g_langId = 0;
bool g_inited = false;

bool FilePath(char* path, std::size_t cap) {
  path[0] = '\0';
  const char* tail = "\\KelmCfg.lg";
  char dir[kPathBuffer];
  switch (g_kind) {
    case LanguageFileKind::SetupDir:
      tail = "\\kelmcfg.lg";
      [[fallthrough]];
    case LanguageFileKind::ProgramDir:
      if (!ModuleDirectory(dir, sizeof dir)) return false;
      break;
    case LanguageFileKind::SystemKelm: {
      const UINT n = GetSystemDirectoryA(dir, sizeof dir);
      if (n == 0 || n >= sizeof dir) return false;
      tail = "\\kelm\\KelmCfg.lg";
      break;
    }
  }
  const int w = std::snprintf(path, cap, "%s%s", dir, tail);
  return w > 0 && static_cast<std::size_t>(w) < cap;
}

bool ReadValue(const char* section, const char* key, const char* file, char (&buf)[kValueBuffer]) {
  buf[0] = '\0';
  return GetPrivateProfileStringA(section, key, "", buf, sizeof buf, file) > 0;
}

}  // namespace

void LanguageInit(LanguageFileKind kind) {
  g_kind = kind;
  g_langId = GetSystemDefaultLangID();
  g_inited = true;
}

unsigned LanguageId() { return g_inited ? g_langId : 0; }

void LanguageSetIdForTest(unsigned langId) {
  g_langId = langId & 0xFFFF;
  g_inited = true;
}

void LanguageLookup(const char* key, const char* builtin, char* dst, std::size_t cap) {
  if (!dst || cap == 0) return;
  CopyBounded(dst, cap, builtin ? builtin : "");
  if (!key) return;
  if (!g_inited) LanguageInit(g_kind);
  char file[kPathBuffer];
  if (!FilePath(file, sizeof file)) return;
  char section[8];
  std::snprintf(section, sizeof section, "%04X", g_langId & 0xFFFF);
  char buf[kValueBuffer];
  if (ReadValue(section, key, file, buf) || ReadValue("0409", key, file, buf))
    CopyBounded(dst, cap, buf);
}

}  // namespace kelm::win
