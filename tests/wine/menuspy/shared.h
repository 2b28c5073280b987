// What kelmmenuspy.dll (inside the menu's owner) and MenuSpy (in the test)
// share: a named mapping per owner thread, written under a named mutex.
#pragma once
#include <windows.h>

#include <string>

namespace kelmtest::menuspy {

inline std::string MappingName(DWORD threadId) { return "KelmMenuSpy.map." + std::to_string(threadId); }
inline std::string MutexName(DWORD threadId) { return "KelmMenuSpy.lock." + std::to_string(threadId); }

struct Shared {
  LONG opened;    // WM_INITMENUPOPUP seen
  LONG recorded;  // the opening whose menu text holds
  ULONGLONG recordedWindow;  // and the menu window it was on
  LONG shown;     // menus recorded on screen (first WM_ENTERIDLE of each opening)
  LONG closed;    // WM_EXITMENULOOP seen
  LONG length;    // of text
  // The last menu seen on screen, one line per item:
  // "item POS ID FLAGS LEFT TOP RIGHT BOTTOM TEXT" (FLAGS: letters of
  // S separator, C checked, G grayed, D default, P submenu, R radio, or -).
  char text[60000];
};

}  // namespace kelmtest::menuspy
