// Reading a pop-up menu that another process shows. Its items live in the
// owner's memory (GetMenuItemCount on a foreign HMENU fails under Wine), so
// MenuSpy hooks the owner's thread with kelmmenuspy.dll, which records the
// menu from inside once it is on screen. Link: the test's NAME_test.cmake
// adds `add_dependencies(${KELM_TEST_TARGET} kelmmenuspy)`; the DLL lands in
// the same bin folder as the test.
//
//   kelmtest::MenuSpy spy(GetWindowThreadProcessId(owner, nullptr));
//   ... open the menu (e.g. click the tray icon) ...
//   auto items = spy.WaitMenu(5000);           // in order, with states
//   kelmtest::MenuSpy::ChooseByClick(items[2]); // real input
//   spy.WaitClosed(5000);
#pragma once
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "menuspy/shared.h"
#include "xinput.h"

namespace kelmtest {

struct MenuItem {
  int pos = 0;
  UINT id = 0;
  std::string text;  // as the program gave it, "&" and "\t..." included
  bool separator = false, checked = false, grayed = false, isDefault = false, submenu = false, radio = false;
  RECT rect{};  // on the screen

  // What the menu shows: without the "&" marks and the accelerator part.
  std::string Label() const {
    std::string out;
    for (std::size_t i = 0; i < text.size() && text[i] != '\t'; ++i) {
      if (text[i] == '&' && i + 1 < text.size()) ++i;
      out += text[i];
    }
    return out;
  }
};

inline std::vector<MenuItem> ParseMenuText(const std::string& text) {
  std::vector<MenuItem> items;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    MenuItem it;
    char flags[16] = {};
    int used = 0;
    long l = 0, t = 0, r = 0, b = 0;
    if (std::sscanf(line.c_str(), "item %d %u %15s %ld %ld %ld %ld %n", &it.pos, &it.id, flags, &l, &t, &r, &b,
                    &used) < 7)
      continue;
    it.rect = RECT{l, t, r, b};
    it.text = used > 0 && static_cast<std::size_t>(used) <= line.size() ? line.substr(used) : "";
    const std::string f = flags;
    it.separator = f.find('S') != std::string::npos;
    it.checked = f.find('C') != std::string::npos;
    it.grayed = f.find('G') != std::string::npos;
    it.isDefault = f.find('D') != std::string::npos;
    it.submenu = f.find('P') != std::string::npos;
    it.radio = f.find('R') != std::string::npos;
    items.push_back(it);
  }
  return items;
}

inline std::string ExeDir() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string p(path, n);
  return p.substr(0, p.rfind('\\'));
}

class MenuSpy {
 public:
  explicit MenuSpy(DWORD ownerThreadId, const std::string& dll = ExeDir() + "\\kelmmenuspy.dll")
      : tid_(ownerThreadId) {
    map_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(menuspy::Shared),
                                  menuspy::MappingName(tid_).c_str()));
    lock_.reset(CreateMutexA(nullptr, FALSE, menuspy::MutexName(tid_).c_str()));
    if (!map_ || !lock_) return;
    shared_ = static_cast<menuspy::Shared*>(MapViewOfFile(map_.get(), FILE_MAP_WRITE, 0, 0, 0));
    module_ = LoadLibraryA(dll.c_str());
    if (!shared_ || !module_) return;
    ZeroMemory(shared_, sizeof(menuspy::Shared));
    // Through void* as a FARPROC cannot be cast to another function type directly.
    auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module_, "KelmMenuSpyProc")));
    if (proc) hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, proc, module_, tid_);
  }
  MenuSpy(const MenuSpy&) = delete;
  MenuSpy& operator=(const MenuSpy&) = delete;
  ~MenuSpy() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (shared_) UnmapViewOfFile(shared_);
    if (module_) FreeLibrary(module_);
  }

  bool ok() const { return hook_ != nullptr; }

  // The next menu shown since the last WaitMenu (or since the spy began);
  // empty when none appeared within ms.
  std::vector<MenuItem> WaitMenu(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
      Snapshot s = Read();
      if (s.shown > shownTaken_) {
        shownTaken_ = s.shown;
        return ParseMenuText(s.text);
      }
      if (GetTickCount() - start >= ms) return {};
      Sleep(20);
    }
  }

  // True once every menu shown so far has closed again.
  bool WaitClosed(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
      Snapshot s = Read();
      if (s.closed >= s.shown && s.closed >= 1) return true;
      if (GetTickCount() - start >= ms) return false;
      Sleep(20);
    }
  }

  LONG Opened() { return Read().opened; }
  LONG Closed() { return Read().closed; }

  // Escape posted to a window of the owner's thread ends TrackPopupMenu.
  static void Close(HWND ownerWindow) { PostMessageA(ownerWindow, WM_KEYDOWN, VK_ESCAPE, 0); }

  // A real click in the middle of the item.
  static bool ChooseByClick(const MenuItem& item) {
    if (item.rect.right <= item.rect.left || item.rect.bottom <= item.rect.top) return false;
    return x::Click((item.rect.left + item.rect.right) / 2, (item.rect.top + item.rect.bottom) / 2);
  }

  // Real keys pressed on the open menu, the pointer resting on `at` (which
  // the menu then highlights, so "Down" goes on from there).
  static bool PressKeys(const MenuItem& at, const std::vector<std::string>& keys) {
    if (at.rect.right <= at.rect.left) return false;
    return x::KeysAt((at.rect.left + at.rect.right) / 2, (at.rect.top + at.rect.bottom) / 2, keys);
  }

 private:
  struct Snapshot {
    LONG opened = 0, shown = 0, closed = 0;
    std::string text;
  };
  Snapshot Read() {
    Snapshot s;
    if (!shared_ || WaitForSingleObject(lock_.get(), 2000) == WAIT_TIMEOUT) return s;
    s.opened = shared_->opened;
    s.shown = shared_->shown;
    s.closed = shared_->closed;
    const LONG n = shared_->length;
    if (n > 0 && static_cast<std::size_t>(n) < sizeof shared_->text) s.text.assign(shared_->text, n);
    ReleaseMutex(lock_.get());
    return s;
  }

  DWORD tid_;
  kelm::win::UniqueHandle map_, lock_;
  menuspy::Shared* shared_ = nullptr;
  HMODULE module_ = nullptr;
  HHOOK hook_ = nullptr;
  LONG shownTaken_ = 0;
};

}  // namespace kelmtest
