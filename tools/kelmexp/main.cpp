// kelmexp FOLDER REPORT [--shot-copy PNG]
// A folder window that does for the shell extension what Explorer does:
// the folder's items in a list; a right click on an item builds the menu
// from every handler registered under shellex\ContextMenuHandlers (for "*"
// or "directory"), between Open and Properties, whose sheet holds the
// pages of the PropertySheetHandlers; the chosen row is run with
// InvokeCommand. Wine's own shell loads no such handlers, so the
// demonstration needs this.
//
// So that a script can click like a person, REPORT always holds what this
// program shows, in screen coordinates, rewritten whenever it changes:
//   window TITLE|l t r b
//   item NAME|l t r b                      a row of the folder list
//   menu LEVEL ROW TEXT|grayed|popup|l t r b   rows of the open menus
//   dialog CAPTION|l t r b                 other visible windows
//   control CAPTION ID CLASS TEXT|l t r b  their visible controls
//   listrow CAPTION ROW col0|col1|...      rows of a list view in them
// --shot-copy saves the "Copy" dialog once its bar has moved, from inside
// the program, so that a fast copy is still seen.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "screenshot.h"

namespace {

constexpr UINT kFirstHandlerId = 100;
constexpr UINT kIdsPerHandler = 100;
constexpr UINT kOpenId = 1;
constexpr UINT kPropertiesId = 2;
constexpr int kListId = 10;

HWND g_main = nullptr;
HWND g_list = nullptr;
std::string g_folder;
std::string g_report;
std::string g_lastReport;
std::string g_copyShot;
bool g_copyShotTaken = false;
std::vector<HMENU> g_openMenus;

std::string WindowText(HWND w) {
  char t[512] = {};
  GetWindowTextA(w, t, sizeof t);
  return t;
}

std::string RectText(const RECT& r) {
  char b[64];
  std::snprintf(b, sizeof b, "%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
  return b;
}

std::wstring Wide(const std::string& s) {
  std::vector<wchar_t> w(s.size() + 1);
  MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), static_cast<int>(w.size()));
  return w.data();
}

// --- What this program shows, for the script ---------------------------------

void ReportMenus(std::string& out) {
  for (std::size_t level = 0; level < g_openMenus.size(); ++level) {
    HMENU m = g_openMenus[level];
    const int n = GetMenuItemCount(m);
    for (int i = 0; i < n; ++i) {
      char text[256] = {};
      MENUITEMINFOA mi{};
      mi.cbSize = sizeof mi;
      mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
      mi.dwTypeData = text;
      mi.cch = sizeof text;
      if (!GetMenuItemInfoA(m, i, TRUE, &mi) || (mi.fType & MFT_SEPARATOR)) continue;
      RECT r{};
      if (!GetMenuItemRect(nullptr, m, i, &r)) continue;
      char line[512];
      std::snprintf(line, sizeof line, "menu %u %d %s|%d|%d|%s\n", static_cast<unsigned>(level), i, text,
                    (mi.fState & MFS_GRAYED) ? 1 : 0, mi.hSubMenu ? 1 : 0, RectText(r).c_str());
      out += line;
    }
  }
}

struct DialogWalk {
  std::string caption;
  std::string* out;
};

BOOL CALLBACK ReportControl(HWND c, LPARAM lp) {
  auto* walk = reinterpret_cast<DialogWalk*>(lp);
  if (!IsWindowVisible(c)) return TRUE;
  char cls[64] = {};
  GetClassNameA(c, cls, sizeof cls);
  RECT r;
  GetWindowRect(c, &r);
  *walk->out += "control " + walk->caption + " " + std::to_string(GetDlgCtrlID(c)) + " " + cls + " " +
                WindowText(c) + "|" + RectText(r) + "\n";
  if (std::strcmp(cls, WC_LISTVIEWA) == 0) {
    const int rows = static_cast<int>(SendMessageA(c, LVM_GETITEMCOUNT, 0, 0));
    const HWND header = reinterpret_cast<HWND>(SendMessageA(c, LVM_GETHEADER, 0, 0));
    const int cols = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    for (int i = 0; i < rows; ++i) {
      std::string line = "listrow " + walk->caption + " " + std::to_string(i) + " ";
      for (int col = 0; col < cols; ++col) {
        char text[300] = {};
        LVITEMA it{};
        it.iSubItem = col;
        it.pszText = text;
        it.cchTextMax = sizeof text;
        SendMessageA(c, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&it));
        line += (col ? "|" : "") + std::string(text);
      }
      *walk->out += line + "\n";
    }
  }
  return TRUE;
}

BOOL CALLBACK ReportTopLevel(HWND w, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || w == g_main || !IsWindowVisible(w)) return TRUE;
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (std::strcmp(cls, "#32768") == 0) return TRUE;  // menus are reported by their rows
  auto* out = reinterpret_cast<std::string*>(lp);
  RECT r;
  GetWindowRect(w, &r);
  DialogWalk walk{WindowText(w), out};
  *out += "dialog " + walk.caption + "|" + RectText(r) + "\n";
  EnumChildWindows(w, ReportControl, reinterpret_cast<LPARAM>(&walk));
  return TRUE;
}

void WriteReport() {
  std::string out;
  RECT r;
  GetWindowRect(g_main, &r);
  out += "window " + WindowText(g_main) + "|" + RectText(r) + "\n";
  const int rows = static_cast<int>(SendMessageA(g_list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < rows; ++i) {
    char name[MAX_PATH] = {};
    ListView_GetItemText(g_list, i, 0, name, sizeof name);
    RECT ir{};
    ir.left = LVIR_LABEL;
    if (!SendMessageA(g_list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&ir))) continue;
    MapWindowPoints(g_list, nullptr, reinterpret_cast<POINT*>(&ir), 2);
    out += "item " + std::string(name) + "|" + RectText(ir) + "\n";
  }
  ReportMenus(out);
  EnumWindows(ReportTopLevel, reinterpret_cast<LPARAM>(&out));
  if (out == g_lastReport) return;
  // Written aside and moved into place, so a reader never sees half of it.
  const std::string tmp = g_report + ".tmp";
  kelm::win::UniqueHandle f(CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!f) return;
  DWORD n = 0;
  const bool written = WriteFile(f.get(), out.data(), static_cast<DWORD>(out.size()), &n, nullptr) && n == out.size();
  f.reset();
  if (written && MoveFileExA(tmp.c_str(), g_report.c_str(), MOVEFILE_REPLACE_EXISTING)) g_lastReport = out;
}

VOID CALLBACK ReportTimer(HWND, UINT, UINT_PTR, DWORD) { WriteReport(); }

// Whether the screen already shows the bar with some of it filled: Wine
// hands a window's drawing to the X server some time after it is painted.
bool BarShowsFill(HWND bar) {
  RECT r;
  if (!GetWindowRect(bar, &r)) return false;
  const COLORREF c = GetSysColor(COLOR_HIGHLIGHT);
  const std::uint32_t fill = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  const kelmtest::Image img = kelmtest::CaptureScreen(&r);
  for (std::uint32_t px : img.px)
    if (px == fill) return true;
  return false;
}

// Sees every position the copy thread sends to the "Copy" dialog's bar on
// this thread. The copy waits for the answer, so the picture cannot be
// missed: this thread paints meanwhile until the screen shows the bar.
LRESULT CALLBACK CopyProbe(int code, WPARAM w, LPARAM l) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(l);
  if (code == HC_ACTION && m && m->message == PBM_SETPOS && !g_copyShotTaken && m->wParam >= 30) {
    const HWND dlg = GetParent(m->hwnd);
    if (dlg && IsWindowVisible(dlg) && WindowText(dlg) == "Copy") {
      g_copyShotTaken = true;
      const HWND bar = m->hwnd;
      RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
      bool shown = false;
      for (int i = 0; i < 100 && !shown; ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
          if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the main loop
            break;
          }
          TranslateMessage(&msg);
          DispatchMessageA(&msg);
        }
        shown = BarShowsFill(bar);
      }
      std::printf("copy shot %d (bar on screen %d)\n", kelmtest::SaveWindowPng(g_copyShot, dlg) ? 1 : 0, shown ? 1 : 0);
      std::fflush(stdout);
    }
  }
  return CallNextHookEx(nullptr, code, w, l);
}

// --- The shell's objects -----------------------------------------------------

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : p(o.p) { o.p = nullptr; }
  ~ComPtr() {
    if (p) p->Release();
  }
  T** put() { return &p; }
  void** putVoid() { return reinterpret_cast<void**>(&p); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

struct CoMem {
  void* p = nullptr;
  CoMem() = default;
  CoMem(const CoMem&) = delete;
  CoMem& operator=(const CoMem&) = delete;
  ~CoMem() { CoTaskMemFree(p); }
};

// The data object the shell gives for items of the folder, as Explorer
// hands it to the handlers.
bool DataFor(const std::vector<std::string>& names, ComPtr<IDataObject>& data, CoMem& folderPidl) {
  ComPtr<IShellFolder> desktop;
  if (FAILED(SHGetDesktopFolder(desktop.put()))) return false;
  std::wstring wf = Wide(g_folder);
  PIDLIST_RELATIVE fp = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wf.data(), nullptr, &fp, nullptr))) return false;
  folderPidl.p = fp;
  ComPtr<IShellFolder> folder;
  if (FAILED(desktop->BindToObject(fp, nullptr, IID_IShellFolder, folder.putVoid()))) return false;
  std::vector<CoMem> owned(names.size());
  std::vector<PCUITEMID_CHILD> children;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::wstring wn = Wide(names[i]);
    PIDLIST_RELATIVE c = nullptr;
    if (FAILED(folder->ParseDisplayName(nullptr, nullptr, wn.data(), nullptr, &c, nullptr))) return false;
    owned[i].p = c;
    children.push_back(reinterpret_cast<PCUITEMID_CHILD>(c));
  }
  return SUCCEEDED(folder->GetUIObjectOf(g_main, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                         nullptr, data.putVoid()));
}

// The class ids registered for the item's kind under shellex\KIND.
std::vector<CLSID> Handlers(bool directory, const char* kind) {
  std::vector<CLSID> out;
  const std::string path = std::string(directory ? "directory" : "*") + "\\shellex\\" + kind;
  kelm::win::RegKey root;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, root.put()) != ERROR_SUCCESS) return out;
  char name[260];
  for (DWORD i = 0; RegEnumKeyA(root.get(), i, name, sizeof name) == ERROR_SUCCESS; ++i) {
    char value[260] = {};
    LONG size = sizeof value;
    if (RegQueryValueA(root.get(), name, value, &size) != ERROR_SUCCESS || !*value) std::strcpy(value, name);
    CLSID id;
    if (SUCCEEDED(CLSIDFromString(Wide(value).c_str(), &id))) out.push_back(id);
  }
  return out;
}

ComPtr<IShellExtInit> Initialized(const CLSID& id, IDataObject* data, CoMem& folderPidl) {
  ComPtr<IShellExtInit> init;
  if (FAILED(CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.putVoid()))) return init;
  if (FAILED(init->Initialize(static_cast<PCIDLIST_ABSOLUTE>(folderPidl.p), data, nullptr))) return {};
  return init;
}

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM lp) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(lp)->push_back(page);
  return TRUE;
}

void ShowProperties(const std::vector<std::string>& names, bool directory) {
  ComPtr<IDataObject> data;
  CoMem folderPidl;
  if (!DataFor(names, data, folderPidl)) return;
  std::vector<HPROPSHEETPAGE> pages;
  for (const CLSID& id : Handlers(directory, "PropertySheetHandlers")) {
    ComPtr<IShellExtInit> init = Initialized(id, data.p, folderPidl);
    ComPtr<IShellPropSheetExt> ext;
    if (init && SUCCEEDED(init->QueryInterface(IID_IShellPropSheetExt, ext.putVoid())))
      ext->AddPages(AddPage, reinterpret_cast<LPARAM>(&pages));
  }
  if (pages.empty()) return;
  PROPSHEETHEADERA h{};
  h.dwSize = sizeof h;
  h.dwFlags = PSH_NOAPPLYNOW | PSH_PROPTITLE;
  h.hwndParent = g_main;
  h.pszCaption = names.front().c_str();
  h.nPages = static_cast<UINT>(pages.size());
  h.phpage = pages.data();
  PropertySheetA(&h);
}

void ShowMenu(const std::vector<std::string>& names, bool directory, POINT at) {
  ComPtr<IDataObject> data;
  CoMem folderPidl;
  if (!DataFor(names, data, folderPidl)) return;
  kelm::win::UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuA(menu.get(), MF_STRING, kOpenId, "&Open");
  SetMenuDefaultItem(menu.get(), kOpenId, FALSE);
  std::vector<ComPtr<IContextMenu>> handlers;
  UINT first = kFirstHandlerId;
  for (const CLSID& id : Handlers(directory, "ContextMenuHandlers")) {
    ComPtr<IShellExtInit> init = Initialized(id, data.p, folderPidl);
    ComPtr<IContextMenu> cm;
    if (!init || FAILED(init->QueryInterface(IID_IContextMenu, cm.putVoid()))) continue;
    cm->QueryContextMenu(menu.get(), GetMenuItemCount(menu.get()), first, first + kIdsPerHandler - 1, CMF_NORMAL);
    handlers.push_back(std::move(cm));
    first += kIdsPerHandler;
  }
  AppendMenuA(menu.get(), MF_STRING, kPropertiesId, "&Properties");
  SetForegroundWindow(g_main);
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, at.x, at.y, 0, g_main, nullptr));
  PostMessageA(g_main, WM_NULL, 0, 0);
  if (chosen == kOpenId) {
    ShellExecuteA(g_main, nullptr, (g_folder + "\\" + names.front()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } else if (chosen == kPropertiesId) {
    ShowProperties(names, directory);
  } else if (chosen >= kFirstHandlerId) {
    const std::size_t which = (chosen - kFirstHandlerId) / kIdsPerHandler;
    if (which < handlers.size()) {
      CMINVOKECOMMANDINFO ci{};
      ci.cbSize = sizeof ci;
      ci.hwnd = g_main;
      ci.lpVerb = MAKEINTRESOURCEA((chosen - kFirstHandlerId) % kIdsPerHandler);
      ci.nShow = SW_SHOWNORMAL;
      std::printf("invoke %u %lx\n", (chosen - kFirstHandlerId) % kIdsPerHandler,
                  static_cast<unsigned long>(handlers[which]->InvokeCommand(&ci)));
      std::fflush(stdout);
    }
  }
}

void Fill() {
  ListView_DeleteAllItems(g_list);
  WIN32_FIND_DATAA fd;
  kelm::win::FindHandle find(FindFirstFileA((g_folder + "\\*").c_str(), &fd));
  if (!find) return;
  int row = 0;
  do {
    if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
    LVITEMA it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = row++;
    it.pszText = fd.cFileName;
    it.lParam = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    const int at = ListView_InsertItem(g_list, &it);
    char size[32];
    if (it.lParam) std::strcpy(size, "folder");
    else std::snprintf(size, sizeof size, "%llu KB", ((static_cast<unsigned long long>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow) / 1024);
    ListView_SetItemText(g_list, at, 1, size);
  } while (FindNextFileA(find.get(), &fd));
}

void OnRightClick() {
  POINT at;
  GetCursorPos(&at);
  LVHITTESTINFO hit{};
  hit.pt = at;
  ScreenToClient(g_list, &hit.pt);
  const int row = ListView_HitTest(g_list, &hit);
  if (row < 0) return;
  ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
  ListView_SetItemState(g_list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  char name[MAX_PATH] = {};
  ListView_GetItemText(g_list, row, 0, name, sizeof name);
  LVITEMA it{};
  it.mask = LVIF_PARAM;
  it.iItem = row;
  ListView_GetItem(g_list, &it);
  ShowMenu({name}, it.lParam != 0, at);
  Fill();
}

LRESULT CALLBACK MainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NOTIFY: {
      const auto* h = reinterpret_cast<const NMHDR*>(lp);
      if (h->idFrom == kListId && h->code == NM_RCLICK) OnRightClick();
      return 0;
    }
    case WM_INITMENUPOPUP:
      g_openMenus.push_back(reinterpret_cast<HMENU>(wp));
      break;
    case WM_UNINITMENUPOPUP:
      for (std::size_t i = 0; i < g_openMenus.size(); ++i)
        if (g_openMenus[i] == reinterpret_cast<HMENU>(wp)) {
          g_openMenus.resize(i);
          break;
        }
      break;
    case WM_EXITMENULOOP:
      g_openMenus.clear();
      break;
    case WM_SIZE:
      if (g_list) MoveWindow(g_list, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(w, msg, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kelmexp FOLDER REPORT [--shot-copy PNG]\n");
    return 2;
  }
  g_folder = argv[1];
  g_report = argv[2];
  if (argc > 4 && std::strcmp(argv[3], "--shot-copy") == 0) g_copyShot = argv[4];
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSA wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "KelmExplorer";
  RegisterClassA(&wc);
  const std::string title = g_folder + " - Kelm Explorer";
  g_main = CreateWindowExA(0, "KelmExplorer", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 520, 260,
                           nullptr, nullptr, wc.hInstance, nullptr);
  if (!g_main) return 1;
  RECT c;
  GetClientRect(g_main, &c);
  g_list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0,
                           c.right, c.bottom, g_main, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)),
                           wc.hInstance, nullptr);
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT | LVCF_WIDTH;
  col.cx = 300;
  col.pszText = const_cast<char*>("Name");
  ListView_InsertColumn(g_list, 0, &col);
  col.cx = 160;
  col.pszText = const_cast<char*>("Size");
  ListView_InsertColumn(g_list, 1, &col);
  Fill();
  HHOOK probe = g_copyShot.empty() ? nullptr : SetWindowsHookExA(WH_CALLWNDPROC, CopyProbe, nullptr, GetCurrentThreadId());
  // A thread timer: it also runs inside the menu's and the sheet's loops.
  SetTimer(nullptr, 0, 100, ReportTimer);
  WriteReport();
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    // The extension's modeless dialogs get their keys as dialogs do.
    const HWND active = GetActiveWindow();
    if (active == g_main || !active || !IsDialogMessageA(active, &m)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  if (probe) UnhookWindowsHookEx(probe);
  CoUninitialize();
  return 0;
}
