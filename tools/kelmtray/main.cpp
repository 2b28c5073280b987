// kelmtray: what a person sees of the tray program KelmCfg, for the
// demonstration's script (Windows only, equipment like kelmshot).
//   kelmtray [--desktop NAME] tip           the tip of KelmCfg's tray icon
//   kelmtray [--desktop NAME] icon EXE      "running" or "not mounted": which
//                                           of EXE's state icons the tray shows
//   kelmtray [--desktop NAME] letters       the slot letters KelmCfg answers
//   kelmtray [--desktop NAME] warning       "none" or the warning's lines and bar
//   kelmtray [--desktop NAME] keys-on TITLE KEY...
//                                           real keys on a window's middle
//   kelmtray [--desktop NAME] login ID PASSWORD
//                                           fills and confirms the log-in dialog
//   kelmtray [--desktop NAME] shown TITLE   "shown" or "none": a visible window
//   kelmtray [--desktop NAME] close         ends KelmCfg as the uninstaller does
//   kelmtray [--desktop NAME] exists TITLE  "exists" or "none": a window, shown or not
//   kelmtray [--desktop NAME] command ID    a menu command to KelmCfg's window
// And for any visible window TITLE of the desktop, control ID:
//   set TITLE ID TEXT, click TITLE ID, check TITLE ID, text TITLE ID,
//   select TITLE ID ENTRY (a list's entry, as a person's choice),
//   answer CAPTION ok|yes (a message box: prints its text, presses the button)
// Prints one line; exit code 0 when there was something to see, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/procwindows.h"
#include "tests/wine/tray.h"
#include "tests/wine/xinput.h"

namespace {

constexpr char kMain[] = "Virtual Disk Manager";

int Usage() {
  std::fprintf(stderr,
               "usage: kelmtray [--desktop NAME] tip | icon EXE | letters | warning | keys-on TITLE KEY... | "
               "login ID PASSWORD | shown TITLE | close | command ID | set|click|check|text|select TITLE ID [TEXT] | "
               "answer CAPTION ok|yes\n");
  return 2;
}

DWORD KelmCfgProcess() {
  DWORD pid = 0;
  if (HWND w = FindWindowA(nullptr, kMain)) GetWindowThreadProcessId(w, &pid);
  return pid;
}

HWND Visible(const char* caption) {
  struct Ctx {
    const char* caption;
    HWND found;
  } ctx{caption, nullptr};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(lp);
        char text[256] = {};
        GetWindowTextA(w, text, sizeof text);
        // IsWindowVisible is false across desktops: the style tells.
        if ((GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) && std::string(text) == c->caption) {
          c->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

int Tip() {
  const int cell = kelmtest::tray::FindIconByTip("Umbrel", 3000);
  if (cell < 0) {
    std::printf("no KelmCfg icon in the tray\n");
    return 1;
  }
  std::printf("%s\n", kelmtest::tray::ReadTip(cell).c_str());
  return 0;
}

int Icon(const std::string& exe) {
  const int cell = kelmtest::tray::FindIconByTip("Umbrel", 3000);
  HICON running = kelmtest::tray::LoadIconFromFile(exe, 136), notMounted = kelmtest::tray::LoadIconFromFile(exe, 144);
  int rc = 1;
  if (cell < 0 || !running || !notMounted) {
    std::printf("no KelmCfg icon in the tray\n");
  } else if (kelmtest::tray::IconDistance(cell, running) == 0) {
    std::printf("running\n");
    rc = 0;
  } else if (kelmtest::tray::IconDistance(cell, notMounted) == 0) {
    std::printf("not mounted\n");
    rc = 0;
  } else {
    std::printf("another picture\n");
  }
  if (running) DestroyIcon(running);
  if (notMounted) DestroyIcon(notMounted);
  return rc;
}

int Letters() {
  HWND main = FindWindowA(nullptr, kMain);
  DWORD_PTR packed = 0;
  if (!main || !SendMessageTimeoutA(main, 0x7000, 0, 0, SMTO_ABORTIFHUNG, 5000, &packed)) {
    std::printf("no answer from KelmCfg\n");
    return 1;
  }
  std::string s;
  for (int slot = 0; slot < 4; ++slot) {
    const char c = static_cast<char>((packed >> (8 * slot)) & 0xFF);
    s += c ? c : '-';
  }
  std::printf("%s\n", s.c_str());
  return 0;
}

int Warning() {
  HWND w = Visible("Warning");
  if (!w || !KelmCfgProcess()) {
    std::printf("none\n");
    return 0;
  }
  std::printf("%s / %s / %s [bar %d]\n", kelm::test::ControlText(w, 1012).c_str(),
              kelm::test::ControlText(w, 1013).c_str(), kelm::test::ControlText(w, 1014).c_str(),
              kelm::test::ProgressPosition(GetDlgItem(w, 1015)));
  return 0;
}

int KeysOn(const char* title, const std::vector<std::string>& keys) {
  HWND w = Visible(title);
  RECT r{};
  if (!w || !GetWindowRect(w, &r)) {
    std::printf("no window \"%s\"\n", title);
    return 1;
  }
  // A click first, as a person's: a window that lost the foreground to
  // another program's dialog does not get keys by the pointer alone.
  const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
  kelmtest::x::Click(x, y);
  if (!kelmtest::x::KeysAt(x, y, keys)) {
    std::printf("xdotool failed\n");
    return 1;
  }
  std::printf("pressed on \"%s\"\n", title);
  return 0;
}

int Login(const char* id, const char* password) {
  HWND dlg = Visible("Kelm Mount/Umount Control");
  if (!dlg) {
    std::printf("no log-in dialog\n");
    return 1;
  }
  kelm::test::SetControlText(dlg, 1004, id);
  kelm::test::SetControlText(dlg, 1007, password);
  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
  std::printf("user %s typed in\n", id);
  return 0;
}

int Shown(const char* title) {
  std::printf("%s\n", Visible(title) ? "shown" : "none");
  return 0;
}

int Command(unsigned id) {
  HWND main = FindWindowA(nullptr, kMain);
  if (!main) {
    std::printf("KelmCfg is not running\n");
    return 1;
  }
  PostMessageA(main, WM_COMMAND, id, 0);
  std::printf("command %u sent\n", id);
  return 0;
}

// The control of a visible window, or null (with the reason printed).
HWND Control(const char* title, const char* id) {
  HWND w = Visible(title);
  HWND c = w ? GetDlgItem(w, std::atoi(id)) : nullptr;
  if (!c) std::printf("no control %s in a window \"%s\"\n", id, title);
  return c;
}

int Dialog(const std::string& cmd, int argc, char** argv, int i) {
  if (cmd == "answer" && i + 2 < argc) {
    HWND box = Visible(argv[i + 1]);
    if (!box) {
      std::printf("no box \"%s\"\n", argv[i + 1]);
      return 1;
    }
    std::printf("%s\n", kelm::test::ControlText(box, 0xFFFF).c_str());
    PostMessageA(box, WM_COMMAND, std::string(argv[i + 2]) == "yes" ? IDYES : IDOK, 0);
    return 0;
  }
  if (i + 2 >= argc) return Usage();
  HWND c = Control(argv[i + 1], argv[i + 2]);
  if (!c) return 1;
  const HWND dlg = GetParent(c);
  const int id = std::atoi(argv[i + 2]);
  if (cmd == "text") {
    std::printf("%s\n", kelm::test::TextOf(c).c_str());
  } else if (cmd == "set" && i + 3 < argc) {
    SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[i + 3]));
    std::printf("set\n");
  } else if (cmd == "click") {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c));
    std::printf("clicked\n");
  } else if (cmd == "check") {
    SendMessageA(c, BM_SETCHECK, BST_CHECKED, 0);
    std::printf("checked\n");
  } else if (cmd == "select" && i + 3 < argc) {
    // Wine carries the list's strings across processes whole only in their wide form.
    WCHAR wide[128] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[i + 3], -1, wide, 128);
    if (SendMessageW(c, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide)) == CB_ERR) {
      std::printf("no entry %s\n", argv[i + 3]);
      return 1;
    }
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
    std::printf("selected %s\n", argv[i + 3]);
  } else {
    return Usage();
  }
  return 0;
}

int Exists(const char* title) {
  std::printf("%s\n", FindWindowA(nullptr, title) ? "exists" : "none");
  return 0;
}

int Close() {
  HWND main = FindWindowA(nullptr, kMain);
  if (!main) {
    std::printf("KelmCfg is not running\n");
    return 1;
  }
  PostMessageA(main, WM_CLOSE, 0, 0);
  std::printf("asked KelmCfg to end\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "--desktop") {
    HDESK d = OpenDesktopA(argv[i + 1], 0, FALSE, GENERIC_ALL);
    if (!d || !SetThreadDesktop(d)) {
      std::fprintf(stderr, "kelmtray: cannot use desktop %s\n", argv[i + 1]);
      return 1;
    }
    i += 2;
  }
  if (i >= argc) return Usage();
  const std::string cmd = argv[i];
  if (cmd == "tip") return Tip();
  if (cmd == "icon" && i + 1 < argc) return Icon(argv[i + 1]);
  if (cmd == "letters") return Letters();
  if (cmd == "warning") return Warning();
  if (cmd == "keys-on" && i + 2 < argc) return KeysOn(argv[i + 1], std::vector<std::string>(argv + i + 2, argv + argc));
  if (cmd == "login" && i + 2 < argc) return Login(argv[i + 1], argv[i + 2]);
  if (cmd == "shown" && i + 1 < argc) return Shown(argv[i + 1]);
  if (cmd == "close") return Close();
  if (cmd == "exists" && i + 1 < argc) return Exists(argv[i + 1]);
  if (cmd == "command" && i + 1 < argc) return Command(static_cast<unsigned>(std::atoi(argv[i + 1])));
  if (cmd == "set" || cmd == "click" || cmd == "check" || cmd == "text" || cmd == "select" || cmd == "answer")
    return Dialog(cmd, argc, argv, i);
  return Usage();
}
