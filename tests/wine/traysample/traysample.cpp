// kelmtraysample LOGFILE: a tray icon with two states, like the suite's
// tray program. Ready shows IDI_INFORMATION with the tip "Sample (Ready)",
// Running shows IDI_WARNING with "Sample (Running)". A left click on the
// icon opens a pop-up menu owned by the hidden main window; the menu's
// "Running" item is checked in the Running state; "Enter name..." opens
// a window "Sample Name" with an edit field and an OK button. Every event
// goes to LOGFILE as a line: "started", "click", "command ID", "state
// Running", "name TEXT"... It ends on "Exit", WM_CLOSE, or after five
// minutes.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr UINT kIconId = 1026;
constexpr UINT kCallback = WM_USER + 1;  // 0x0401
constexpr UINT kCmdRunning = 101, kCmdToggle = 102, kCmdDisabled = 103, kCmdExit = 104, kCmdName = 105;
constexpr int kNameEdit = 10;
constexpr UINT_PTR kLifeTimer = 1;

std::string g_log;
bool g_running = false;

void Log(const std::string& line) {
  HANDLE f = CreateFileA(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD n = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  CloseHandle(f);
}

bool Notify(HWND w, DWORD what) {
  NOTIFYICONDATAA nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = w;
  nid.uID = kIconId;
  nid.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  nid.uCallbackMessage = kCallback;
  nid.hIcon = LoadIconA(nullptr, g_running ? IDI_WARNING : IDI_INFORMATION);
  lstrcpynA(nid.szTip, g_running ? "Sample (Running)" : "Sample (Ready)", sizeof nid.szTip);
  return Shell_NotifyIconA(what, &nid) != FALSE;
}

void ShowMenu(HWND w) {
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING, kCmdRunning, "&Running");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kCmdToggle, "&Toggle state");
  AppendMenuA(menu, MF_STRING, kCmdName, "Enter &name...");
  AppendMenuA(menu, MF_STRING | MF_GRAYED, kCmdDisabled, "&Disabled item");
  AppendMenuA(menu, MF_STRING, kCmdExit, "E&xit");
  SetMenuDefaultItem(menu, kCmdToggle, FALSE);
  POINT p;
  GetCursorPos(&p);
  SetForegroundWindow(w);  // so that a click elsewhere closes the menu
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN | TPM_RIGHTALIGN, p.x, p.y, 0, w, nullptr);
  PostMessageA(w, WM_NULL, 0, 0);
  DestroyMenu(menu);
  Log("menu closed");
}

LRESULT CALLBACK NameProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
    char text[256] = {};
    GetDlgItemTextA(w, kNameEdit, text, sizeof text);
    Log(std::string("name ") + text);
    DestroyWindow(w);
    return 0;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

void ShowNameWindow(HINSTANCE inst) {
  HWND w = CreateWindowA("KelmTraySampleName", "Sample Name", WS_POPUP | WS_CAPTION | WS_SYSMENU, 300, 250, 300, 130,
                         nullptr, nullptr, inst, nullptr);
  if (!w) return;
  CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 20, 15, 250, 24, w,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNameEdit)), inst, nullptr);
  CreateWindowA("BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 100, 55, 90, 28, w,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), inst, nullptr);
  ShowWindow(w, SW_SHOW);
  SetForegroundWindow(w);
  Log("name window");
}

LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kCallback:
      if (lp == WM_LBUTTONUP) {
        Log("click");
        ShowMenu(w);
      }
      return 0;
    case WM_INITMENUPOPUP:
      // The check mark is set here, as the menu opens: a reader must see
      // the menu after this handler ran.
      CheckMenuItem(reinterpret_cast<HMENU>(wp), kCmdRunning, MF_BYCOMMAND | (g_running ? MF_CHECKED : MF_UNCHECKED));
      return 0;
    case WM_COMMAND: {
      const UINT id = LOWORD(wp);
      Log("command " + std::to_string(id));
      if (id == kCmdToggle) {
        g_running = !g_running;
        Notify(w, NIM_MODIFY);
        Log(g_running ? "state Running" : "state Ready");
      } else if (id == kCmdName) {
        ShowNameWindow(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(w, GWLP_HINSTANCE)));
      } else if (id == kCmdExit) {
        DestroyWindow(w);
      }
      return 0;
    }
    case WM_TIMER:
      if (wp == kLifeTimer) DestroyWindow(w);
      return 0;
    case WM_DESTROY:
      Notify(w, NIM_DELETE);
      Log("exit");
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(w, msg, wp, lp);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR cmdLine, int) {
  g_log = cmdLine;
  if (g_log.size() >= 2 && g_log.front() == '"' && g_log.back() == '"') g_log = g_log.substr(1, g_log.size() - 2);
  if (g_log.empty()) return 2;
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = inst;
  wc.lpszClassName = "KelmTraySample";
  if (!RegisterClassA(&wc)) return 1;
  WNDCLASSA nc{};
  nc.lpfnWndProc = NameProc;
  nc.hInstance = inst;
  nc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  nc.lpszClassName = "KelmTraySampleName";
  if (!RegisterClassA(&nc)) return 1;
  HWND w = CreateWindowA("KelmTraySample", "Tray Sample", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                         inst, nullptr);
  if (!w) return 1;
  SetTimer(w, kLifeTimer, 5 * 60 * 1000, nullptr);
  Log(Notify(w, NIM_ADD) ? "started" : "started without icon");
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return 0;
}
