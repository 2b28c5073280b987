// A host that does what Explorer does with a shell extension: the object
// from COM by its registered class id, Initialize with the data object that
// the shell itself gives for real items, a real menu, InvokeCommand, a real
// property sheet. One command per run (a fresh library load each time);
// what it sees goes to stdout, one fact per line.
//   shhost menu PATH [PATH2]          the menu rows
//   shhost invoke PATH OFFSET         build the menu, run the command
//   shhost list PATH SHOT [CANCELROW] "Show all": the dialog's rows
//   shhost page PATH [SHOT]           the Protection page's texts
//   shhost copy PATH OFFSET [CANCEL] [SHOT|-] [SECOND]  run a copy to its end;
//        CANCEL 1 presses Cancel once the bar moves, a name presses it once
//        that file is being copied; SECOND is a path whose copy is asked
//        for while the first runs
//   shhost track PATH SHOT            the menu on screen with its submenu
//   shhost cycles N                   handles, GDI objects, memory
//   shhost unload PATH                DllCanUnloadNow along a page's life
//   shhost race N PATH1 PATH2         menus on one thread, protect on another
//   shhost winemenu PATH              the menu Wine's own shell builds
//   shhost bench ...                  figures of bench-shellext.sh
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "screenshot.h"

namespace {

const CLSID kClsid = {0x5e2a7c41, 0x93d0, 0x4b6e, {0x8f, 0x17, 0x2c, 0x9a, 0xb0, 0x4d, 0x6e, 0x53}};
constexpr UINT kFirst = 100;
HWND g_host = nullptr;

void Out(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vprintf(fmt, ap);
  va_end(ap);
  std::fflush(stdout);
}

std::wstring Wide(const char* s) {
  wchar_t w[MAX_PATH * 2];
  MultiByteToWideChar(CP_ACP, 0, s, -1, w, MAX_PATH * 2);
  return w;
}

IDataObject* DataFor(const std::vector<const char*>& paths) {
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop))) return nullptr;
  std::vector<PIDLIST_ABSOLUTE> abs;
  for (const char* p : paths) {
    PIDLIST_RELATIVE pidl = nullptr;
    std::wstring w = Wide(p);
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, w.data(), nullptr, &pidl, nullptr))) {
      Out("parse failed %s\n", p);
      return nullptr;
    }
    abs.push_back(reinterpret_cast<PIDLIST_ABSOLUTE>(pidl));
  }
  IShellFolder* parent = nullptr;
  PCUITEMID_CHILD child = nullptr;
  if (FAILED(SHBindToParent(abs[0], IID_IShellFolder, reinterpret_cast<void**>(&parent), &child))) return nullptr;
  std::vector<PCUITEMID_CHILD> children;
  for (auto* a : abs) children.push_back(ILFindLastID(a));
  IDataObject* data = nullptr;
  HRESULT hr = parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                     nullptr, reinterpret_cast<void**>(&data));
  if (FAILED(hr)) Out("GetUIObjectOf failed %lx\n", hr);
  parent->Release();
  desktop->Release();
  for (auto* a : abs) CoTaskMemFree(a);
  return data;
}

IShellExtInit* Create(const std::vector<const char*>& paths) {
  IShellExtInit* init = nullptr;
  HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  if (FAILED(hr)) {
    Out("create failed %lx\n", hr);
    return nullptr;
  }
  IDataObject* data = paths.empty() ? nullptr : DataFor(paths);
  init->Initialize(nullptr, data, nullptr);
  if (data) data->Release();
  return init;
}

void PrintMenu(HMENU m, const char* prefix) {
  const int n = GetMenuItemCount(m);
  for (int i = 0; i < n; ++i) {
    char text[512] = {};
    MENUITEMINFOA mi{};
    mi.cbSize = sizeof mi;
    mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_CHECKMARKS;
    mi.dwTypeData = text;
    mi.cch = sizeof text;
    GetMenuItemInfoA(m, i, TRUE, &mi);
    if (mi.fType & MFT_SEPARATOR) {
      Out("%s %d sep\n", prefix, i);
      continue;
    }
    Out("%s %d id=%d grayed=%d checks=%d popup=%d text=%s\n", prefix, i, mi.hSubMenu ? -1 : static_cast<int>(mi.wID) - static_cast<int>(kFirst),
        (mi.fState & MFS_GRAYED) ? 1 : 0, (mi.hbmpChecked && mi.hbmpUnchecked) ? 1 : 0, mi.hSubMenu ? 1 : 0, text);
    if (mi.hSubMenu) PrintMenu(mi.hSubMenu, "sub");
  }
}

HMENU BuildMenu(IShellExtInit* init, IContextMenu** cmOut, UINT flags = CMF_NORMAL) {
  IContextMenu* cm = nullptr;
  init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm));
  HMENU m = CreatePopupMenu();
  HRESULT hr = cm->QueryContextMenu(m, 0, kFirst, kFirst + 100, flags);
  Out("ids %u\n", static_cast<unsigned>(HRESULT_CODE(hr)));
  *cmOut = cm;
  return m;
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  }
}

// everyMessage looks at done after each message, not only once the queue
// is empty: for a moment that later messages would carry past.
template <typename F>
bool PumpUntil(F done, DWORD ms, bool everyMessage = false) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      if (everyMessage && done()) return true;
    }
    if (done()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
}

// This thread's top-level windows with the caption, in Z order.
std::vector<HWND> ThreadWindows(const char* caption) {
  struct C {
    const char* cap;
    std::vector<HWND> found;
  } c{caption, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM lp) -> BOOL {
        auto* c = reinterpret_cast<C*>(lp);
        char t[128] = {};
        GetWindowTextA(w, t, sizeof t);
        if (std::strcmp(t, c->cap) == 0) c->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&c));
  return c.found;
}

HWND FindDialog(const char* caption) {
  const std::vector<HWND> all = ThreadWindows(caption);
  return all.empty() ? nullptr : all.front();
}

void Invoke(IContextMenu* cm, unsigned offset) {
  CMINVOKECOMMANDINFO ci{};
  ci.cbSize = sizeof ci;
  ci.hwnd = g_host;
  ci.lpVerb = MAKEINTRESOURCEA(offset);
  ci.nShow = SW_SHOWNORMAL;
  Out("invoke %lx\n", cm->InvokeCommand(&ci));
}

// Threads of this process: the copy runs on a thread of its own, which a
// hidden dialog and DllCanUnloadNow do not show the end of.
int OwnThreads() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  int n = 0;
  for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

HRESULT CanUnload() {
  using Fn = HRESULT(WINAPI*)();
  HMODULE dll = GetModuleHandleA("kelmsh.dll");
  if (!dll) return 0x7FFFFFFF;
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  return fn ? fn() : 0x7FFFFFFF;
}

std::string ListText(HWND list, int row, int col) {
  char text[512] = {};
  LVITEMA it{};
  it.iSubItem = col;
  it.pszText = text;
  it.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&it));
  return text;
}

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM lp) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(lp)->push_back(page);
  return TRUE;
}

std::string Item(HWND dlg, int id) {
  char t[512] = {};
  GetDlgItemTextA(dlg, id, t, sizeof t);
  return t;
}

std::string g_shot;

VOID CALLBACK TrackTimer(HWND, UINT, UINT_PTR id, DWORD) {
  static int step = 0;
  ++step;
  if (step <= 5) {
    PostMessageA(g_host, WM_KEYDOWN, VK_DOWN, 0);
  } else if (step == 6) {
    PostMessageA(g_host, WM_KEYDOWN, VK_RIGHT, 0);
  } else if (step == 8) {
    RECT all{10000, 10000, -10000, -10000};
    int menus = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32768", nullptr); w; w = FindWindowExA(nullptr, w, "#32768", nullptr)) {
      if (!IsWindowVisible(w)) continue;
      RECT r;
      GetWindowRect(w, &r);
      UnionRect(&all, menus ? &all : &r, &r);
      ++menus;
    }
    Out("menuwindows %d\n", menus);
    if (menus) Out("shot %d\n", kelmtest::SaveScreenPng(g_shot, &all) ? 1 : 0);
    PostMessageA(g_host, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(g_host, WM_KEYDOWN, VK_ESCAPE, 0);
  } else if (step > 12) {
    KillTimer(nullptr, id);
    EndMenu();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  g_host = CreateWindowExA(0, "STATIC", "Kelm host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr, nullptr, nullptr);
  const std::string cmd = argv[1];
  std::vector<const char*> paths;
  if (argc > 2) paths.push_back(argv[2]);

  if (cmd == "menu") {
    if (argc > 3) paths.push_back(argv[3]);
    IShellExtInit* init = Create(paths);
    if (!init) return 3;
    IContextMenu* cm;
    HMENU m = BuildMenu(init, &cm);
    PrintMenu(m, "row");
    // Non-normal flags add nothing.
    IContextMenu* cm2;
    HMENU m2 = BuildMenu(init, &cm2, CMF_DEFAULTONLY);
    Out("defaultonly rows %d\n", GetMenuItemCount(m2));
    DestroyMenu(m2);
    cm2->Release();
    DestroyMenu(m);
    cm->Release();
    init->Release();
  } else if (cmd == "invoke" && argc > 3) {
    IShellExtInit* init = Create(paths);
    if (!init) return 3;
    IContextMenu* cm;
    HMENU m = BuildMenu(init, &cm);
    Invoke(cm, static_cast<unsigned>(std::atoi(argv[3])));
    CMINVOKECOMMANDINFO ci{};
    ci.cbSize = sizeof ci;
    ci.lpVerb = "open";
    Out("stringverb %lx\n", cm->InvokeCommand(&ci));
    DestroyMenu(m);
    cm->Release();
    init->Release();
  } else if (cmd == "list" && argc > 3) {
    IShellExtInit* init = Create(paths);
    if (!init) return 3;
    IContextMenu* cm;
    HMENU m = BuildMenu(init, &cm);
    Invoke(cm, 3);
    HWND dlg = nullptr;
    PumpUntil([&] { return (dlg = FindDialog("Locked Files")) != nullptr && IsWindowVisible(dlg); }, 5000);
    if (!dlg) return 4;
    Pump(300);
    HWND list = GetDlgItem(dlg, 1012);
    const int n = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    Out("user %s\n", Item(dlg, 1011).c_str());
    Out("buttons %s|%s\n", Item(dlg, 1013).c_str(), Item(dlg, 1014).c_str());
    for (int i = 0; i < n; ++i)
      Out("listrow %s|%s|%s\n", ListText(list, i, 0).c_str(), ListText(list, i, 1).c_str(), ListText(list, i, 2).c_str());
    Out("shot %d\n", kelmtest::SaveWindowPng(argv[3], dlg) ? 1 : 0);
    Out("canunload visible %lx\n", CanUnload());
    if (argc > 4) {
      ListView_SetItemState(list, std::atoi(argv[4]), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1013, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, 1013)));
      Out("rows after %d\n", static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)));
    }
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1014, BN_CLICKED), 0);
    Out("hidden %d\n", IsWindowVisible(dlg) ? 0 : 1);
    DestroyMenu(m);
    cm->Release();
    init->Release();
    Out("canunload released %lx\n", CanUnload());
  } else if (cmd == "page") {
    // A second argument not naming a picture is a second selected item.
    const bool shot = argc > 3 && std::strstr(argv[3], ".png") != nullptr;
    if (argc > 3 && !shot) paths.push_back(argv[3]);
    IShellExtInit* init = Create(paths);
    if (!init) return 3;
    IShellPropSheetExt* ps = nullptr;
    init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&ps));
    std::vector<HPROPSHEETPAGE> pages;
    ps->AddPages(AddPage, reinterpret_cast<LPARAM>(&pages));
    Out("pages %d\n", static_cast<int>(pages.size()));
    ps->Release();
    init->Release();
    Out("canunload page alive %lx\n", CanUnload());
    if (!pages.empty()) {
      PROPSHEETHEADERA h{};
      h.dwSize = sizeof h;
      h.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
      h.hwndParent = g_host;
      h.pszCaption = "Item";
      h.nPages = static_cast<UINT>(pages.size());
      h.phpage = pages.data();
      HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&h));
      Pump(300);
      HWND tab = PropSheet_GetCurrentPageHwnd(sheet);
      char title[128] = {};
      TCITEMA ti{};
      ti.mask = TCIF_TEXT;
      ti.pszText = title;
      ti.cchTextMax = sizeof title;
      SendMessageA(PropSheet_GetTabControl(sheet), TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&ti));
      Out("tab %s\n", title);
      for (int id : {1015, 1001, 1002, 1003, 1004, 1005}) Out("ctl %d %s\n", id, Item(tab, id).c_str());
      if (shot) Out("shot %d\n", kelmtest::SaveWindowPng(argv[3], sheet) ? 1 : 0);
      // OK: nothing to apply.
      PropSheet_PressButton(sheet, PSBTN_OK);
      PumpUntil([&] { return PropSheet_GetCurrentPageHwnd(sheet) == nullptr; }, 3000);
      DestroyWindow(sheet);
      Pump(100);
    }
    Out("canunload after %lx\n", CanUnload());
  } else if (cmd == "copy" && argc > 3) {
    IShellExtInit* init = Create(paths);
    if (!init) return 3;
    IContextMenu* cm;
    HMENU m = BuildMenu(init, &cm);
    PrintMenu(m, "row");
    IShellExtInit* init2 = nullptr;
    IContextMenu* cm2 = nullptr;
    HMENU m2 = nullptr;
    if (argc > 6) {
      std::vector<const char*> second{argv[6]};
      if ((init2 = Create(second)) != nullptr) m2 = BuildMenu(init2, &cm2);
    }
    const int threadsBefore = OwnThreads();
    Invoke(cm, static_cast<unsigned>(std::atoi(argv[3])));
    const std::string cancelAt = argc > 4 && std::strcmp(argv[4], "0") != 0 ? argv[4] : "";
    HWND dlg = nullptr;
    PumpUntil([&] { return (dlg = FindDialog("Copy")) != nullptr; }, 3000);
    Out("dialog %d\n", dlg ? 1 : 0);
    if (dlg) {
      auto barMoved = [&] { return SendDlgItemMessageA(dlg, 1008, PBM_GETPOS, 0, 0) > 0; };
      if (argc > 5 && std::strcmp(argv[5], "-") != 0) {
        PumpUntil(barMoved, 10000);
        Out("shot %d\n", kelmtest::SaveWindowPng(argv[5], dlg) ? 1 : 0);
      }
      if (init2) {
        // The second copy asked for while this one runs; its menu was built
        // before, as building one waits on KelmCfg and lets the copy run on.
        const int before = OwnThreads();
        Invoke(cm2, static_cast<unsigned>(std::atoi(argv[3])));
        const std::vector<HWND> copies = ThreadWindows("Copy");
        Out("second copy threads %d dialogs %d\n", OwnThreads() - before,
            static_cast<int>(std::count_if(copies.begin(), copies.end(), IsWindowVisible)));
      }
      if (!cancelAt.empty()) {
        // Looked at after every message, so that Cancel lands while the bar
        // is on its way, not after the copy thread has run on to the end.
        // The text of a file comes before its bar is set back to 0: a bar at
        // 100 is still the file before.
        PumpUntil(
            [&] {
              const LRESULT pos = SendDlgItemMessageA(dlg, 1008, PBM_GETPOS, 0, 0);
              return (cancelAt == "1" || Item(dlg, 1007).find(cancelAt) != std::string::npos) && pos > 0 && pos < 100;
            },
            20000, true);
        Out("cancel during %s\n", Item(dlg, 1007).c_str());
        Out("pos before cancel %d\n", static_cast<int>(SendDlgItemMessageA(dlg, 1008, PBM_GETPOS, 0, 0)));
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), 0);
        Out("hidden at cancel %d\n", IsWindowVisible(dlg) ? 0 : 1);
      }
      PumpUntil([&] { return !IsWindowVisible(dlg); }, 120000);
      Out("dialog hidden %d\n", IsWindowVisible(dlg) ? 0 : 1);
      Out("text %s\n", Item(dlg, 1007).c_str());
      // Leaving earlier would end a cancelled copy before it has cleaned up.
      Out("copy thread ended %d\n", PumpUntil([&] { return OwnThreads() <= threadsBefore; }, 120000) ? 1 : 0);
    }
    if (init2) {
      DestroyMenu(m2);
      cm2->Release();
      init2->Release();
    }
    DestroyMenu(m);
    cm->Release();
    init->Release();
    PumpUntil([&] { return CanUnload() == S_OK; }, 60000);
    Out("canunload %lx\n", CanUnload());
  } else if (cmd == "track" && argc > 3) {
    IShellExtInit* init = Create(paths);
    if (!init) return 3;
    IContextMenu* cm;
    HMENU m = BuildMenu(init, &cm);
    g_shot = argv[3];
    ShowWindow(g_host, SW_SHOW);
    SetForegroundWindow(g_host);
    SetTimer(nullptr, 0, 150, TrackTimer);
    TrackPopupMenu(m, TPM_LEFTALIGN | TPM_RETURNCMD, 50, 50, 0, g_host, nullptr);
    DestroyMenu(m);
    cm->Release();
    init->Release();
  } else if (cmd == "cycles" && argc > 2) {
    const int n = std::atoi(argv[2]);
    std::vector<const char*> item{argc > 3 ? argv[3] : "C:\\"};
    // Wine answers 0 to GetProcessHandleCount and GetGuiResources, so the
    // tables are looked at directly: kernel handles by probing every value,
    // USER and GDI tables by the slot a fresh object gets (a leak drains the
    // free slots and pushes new objects to higher ones).
    auto measure = [](const char* tag) {
      unsigned long handles = 0;
      for (ULONG_PTR v = 4; v < 0x10000; v += 4) {
        DWORD f = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &f)) ++handles;
      }
      HMENU probeMenu = CreateMenu();
      HBRUSH probeBrush = CreateSolidBrush(RGB(1, 2, 3));
      const unsigned long userSlot = static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(probeMenu) & 0xFFFF);
      const unsigned long gdiSlot = static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(probeBrush) & 0xFFFF);
      DestroyMenu(probeMenu);
      DeleteObject(probeBrush);
      PROCESS_MEMORY_COUNTERS pmc{};
      pmc.cb = sizeof pmc;
      GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
      Out("%s handles=%lu gdi=%lu user=%lu pagefile=%llu\n", tag, handles, gdiSlot / 4, userSlot / 4,
          static_cast<unsigned long long>(pmc.PagefileUsage));
    };
    IDataObject* data = DataFor(item);
    auto cycle = [&] {
      IShellExtInit* init = nullptr;
      CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, reinterpret_cast<void**>(&init));
      init->Initialize(nullptr, data, nullptr);
      IContextMenu* cm = nullptr;
      init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm));
      HMENU m = CreatePopupMenu();
      cm->QueryContextMenu(m, 0, kFirst, kFirst + 100, CMF_NORMAL);
      DestroyMenu(m);
      cm->Release();
      init->Release();
    };
    for (int i = 0; i < 20; ++i) cycle();  // warm-up: first-use allocations
    measure("before");
    for (int i = 0; i < n; ++i) cycle();
    measure("after");
    data->Release();
    Out("canunload %lx\n", CanUnload());
  } else if (cmd == "race" && argc > 4) {
    // The shell calls from several threads: menus built on one thread while
    // another protects and releases an item, each thread with its own object.
    const int n = std::atoi(argv[2]);
    struct Args {
      const char* path;
      int n;
      bool protect;
      int built = 0;
    } a{argv[3], n, false}, b{argv[4], n, true};
    auto run = [](LPVOID p) -> DWORD {
      auto* a = static_cast<Args*>(p);
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      IDataObject* data = DataFor({a->path});
      for (int i = 0; i < a->n; ++i) {
        IShellExtInit* init = nullptr;
        CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, reinterpret_cast<void**>(&init));
        init->Initialize(nullptr, data, nullptr);
        IContextMenu* cm = nullptr;
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm));
        HMENU m = CreatePopupMenu();
        if (HRESULT_CODE(cm->QueryContextMenu(m, 0, kFirst, kFirst + 100, CMF_NORMAL)) > 0) ++a->built;
        if (a->protect) {
          CMINVOKECOMMANDINFO ci{};
          ci.cbSize = sizeof ci;
          ci.lpVerb = MAKEINTRESOURCEA(i % 2 == 0 ? 0 : 2);
          cm->InvokeCommand(&ci);
        }
        DestroyMenu(m);
        cm->Release();
        init->Release();
      }
      if (data) data->Release();
      CoUninitialize();
      return 0;
    };
    HANDLE t[2] = {CreateThread(nullptr, 0, run, &a, 0, nullptr), CreateThread(nullptr, 0, run, &b, 0, nullptr)};
    WaitForMultipleObjects(2, t, TRUE, INFINITE);
    CloseHandle(t[0]);
    CloseHandle(t[1]);
    Out("race built %d %d\n", a.built, b.built);
    Out("canunload %lx\n", CanUnload());
  } else if (cmd == "winemenu") {
    // The menu Wine's own shell builds for the item, and its Properties.
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    PIDLIST_RELATIVE pidl = nullptr;
    std::wstring w = Wide(argv[2]);
    desktop->ParseDisplayName(nullptr, nullptr, w.data(), nullptr, &pidl, nullptr);
    IShellFolder* parent = nullptr;
    PCUITEMID_CHILD child = nullptr;
    SHBindToParent(reinterpret_cast<PIDLIST_ABSOLUTE>(pidl), IID_IShellFolder, reinterpret_cast<void**>(&parent), &child);
    IContextMenu* cm = nullptr;
    HRESULT hr = parent->GetUIObjectOf(g_host, 1, &child, IID_IContextMenu, nullptr, reinterpret_cast<void**>(&cm));
    Out("shell menu %lx\n", hr);
    if (cm) {
      HMENU m = CreatePopupMenu();
      hr = cm->QueryContextMenu(m, 0, 1, 0x7FFF, CMF_NORMAL);
      Out("ids %u\n", static_cast<unsigned>(HRESULT_CODE(hr)));
      PrintMenu(m, "row");
      Out("kelmsh loaded %d\n", GetModuleHandleA("kelmsh.dll") ? 1 : 0);
      DestroyMenu(m);
      cm->Release();
    }
    parent->Release();
    desktop->Release();
    CoTaskMemFree(pidl);
  } else if (cmd == "bench" && argc > 2) {
    const std::string what = argv[2];
    auto now = [] {
      LARGE_INTEGER c, f;
      QueryPerformanceCounter(&c);
      QueryPerformanceFrequency(&f);
      return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
    };
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    auto peak = [] {
      PROCESS_MEMORY_COUNTERS pmc{};
      pmc.cb = sizeof pmc;
      GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
      return static_cast<unsigned long long>(pmc.PeakPagefileUsage);
    };
    if (what == "fill" && argc > 4) {
      // users x entries, as KelmCfg and kelmsh store them.
      const int users = std::atoi(argv[3]), entries = std::atoi(argv[4]);
      SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\kesk");
      for (int u = 0; u < users; ++u) {
        HKEY k;
        const std::string key = "Software\\kesk\\" + std::to_string(1000 + u);
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        auto set = [&](const std::string& n, const std::string& v) {
          RegSetValueExA(k, n.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()), static_cast<DWORD>(v.size() + 1));
        };
        set("lockfile", "yes");
        set("fileNum", std::to_string(entries));
        for (int e = 0; e < entries; ++e) {
          set("filelevel" + std::to_string(e), e % 2 ? "2" : "1");
          set("filename" + std::to_string(e), "C:\\Users Data\\user" + std::to_string(u) + "\\folder " + std::to_string(e));
        }
        RegCloseKey(k);
      }
      Out("filled %d x %d\n", users, entries);
    } else if (what == "load" && argc > 3) {
      const int rounds = std::atoi(argv[3]);
      std::vector<double> lib, plain;
      for (int r = 0; r < rounds; ++r) {
        double t = now();
        HMODULE m = LoadLibraryA("kelmsh.dll");
        lib.push_back(now() - t);
        FreeLibrary(m);
        t = now();
        HKEY root;
        unsigned long values = 0;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\kesk", &root) == ERROR_SUCCESS) {
          char name[250];
          for (DWORD i = 0; RegEnumKeyA(root, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
            HKEY u;
            if (RegOpenKeyA(root, name, &u) != ERROR_SUCCESS) continue;
            char vname[64], data[500];
            for (DWORD j = 0;; ++j) {
              DWORD nl = sizeof vname, dl = sizeof data;
              if (RegEnumValueA(u, j, vname, &nl, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dl) != ERROR_SUCCESS) break;
              ++values;
            }
            RegCloseKey(u);
          }
          RegCloseKey(root);
        }
        plain.push_back(now() - t);
        if (r == 0) Out("values %lu\n", values);
      }
      Out("load library+GetRawConfig median %.2f ms; plain enumeration median %.2f ms\n", median(lib), median(plain));
    } else if (what == "menu" && argc > 4) {
      WriteProfileStringA("kelmkey", "keyid", "1234");
      const int rounds = std::atoi(argv[3]);
      IShellExtInit* init = Create({argv[4]});
      if (!init) return 3;
      IContextMenu* cm = nullptr;
      init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm));
      std::vector<double> t;
      UINT ids = 0;
      for (int r = 0; r < rounds; ++r) {
        HMENU m = CreatePopupMenu();
        const double s0 = now();
        ids = HRESULT_CODE(cm->QueryContextMenu(m, 0, kFirst, kFirst + 100, CMF_NORMAL));
        t.push_back(now() - s0);
        DestroyMenu(m);
      }
      Out("QueryContextMenu median %.3f ms (ids %u)\n", median(t), ids);
      cm->Release();
      init->Release();
    } else if (what == "copy" && argc > 4) {
      // A copy through the menu's copy entry (the letter from a window of
      // this process that answers as KelmCfg does), to its end.
      WriteProfileStringA("kelmkey", "keyid", "1234");
      static char letter = argv[4][0];
      WNDCLASSA wc{};
      wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == 0x7000) return static_cast<unsigned char>(letter);
        return DefWindowProcA(w, m, wp, lp);
      };
      wc.lpszClassName = "ShhostMain";
      RegisterClassA(&wc);
      HWND main = CreateWindowA("ShhostMain", "Virtual Disk Manager", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
      IShellExtInit* init = Create({argv[3]});
      if (!init) return 3;
      IContextMenu* cm;
      HMENU m = BuildMenu(init, &cm);
      const unsigned long long before = peak();
      const double t0 = now();
      Invoke(cm, 4);
      HWND dlg = nullptr;
      PumpUntil([&] { return (dlg = FindDialog("Copy")) != nullptr; }, 5000);
      PumpUntil([&] { return dlg && !IsWindowVisible(dlg); }, 600000);
      const double ms = now() - t0;
      Out("kelmsh copy %.0f ms, peak pagefile %llu MB (before %llu MB)\n", ms, peak() >> 20, before >> 20);
      DestroyMenu(m);
      cm->Release();
      init->Release();
      DestroyWindow(main);
    } else if (what == "copyfile" && argc > 4) {
      const unsigned long long before = peak();
      const double t0 = now();
      const BOOL ok = CopyFileA(argv[3], argv[4], FALSE);
      Out("CopyFileA %d %.0f ms, peak pagefile %llu MB (before %llu MB)\n", ok, now() - t0, peak() >> 20, before >> 20);
    }
  } else if (cmd == "unload") {
    Out("canunload start %lx\n", CanUnload());
    IShellExtInit* init = Create(paths);
    Out("canunload object %lx\n", CanUnload());
    IUnknown* unk = nullptr;
    init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk));
    Out("unknown is init %d\n", static_cast<void*>(unk) == static_cast<void*>(init) ? 1 : 0);
    unk->Release();
    // Initialize twice: the first data object is released.
    IDataObject* d1 = DataFor(paths);
    init->Initialize(nullptr, d1, nullptr);
    d1->AddRef();
    const ULONG before = d1->Release();
    init->Initialize(nullptr, nullptr, nullptr);
    d1->AddRef();
    const ULONG after = d1->Release();
    Out("dataobject refs %lu -> %lu\n", before, after);
    d1->Release();
    IExtractIconA* ei = nullptr;
    init->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(&ei));
    char file[MAX_PATH] = {};
    int index = -1;
    UINT flags = 0;
    HRESULT hr = ei->GetIconLocation(0, file, sizeof file, &index, &flags);
    Out("geticon %lx index %d file %s\n", hr, index, file);
    Out("extract %lx\n", ei->Extract(file, 0, nullptr, nullptr, 0));
    IPersistFile* pf = nullptr;
    ei->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf));
    CLSID c;
    Out("persist %lx %lx %lx %lx %lx %lx\n", pf->GetClassID(&c), pf->IsDirty(), pf->Load(L"C:\\kelmsh_icon.ini", 0),
        pf->Save(nullptr, FALSE), pf->SaveCompleted(nullptr), pf->GetCurFile(nullptr));
    hr = ei->GetIconLocation(0, file, sizeof file, &index, &flags);
    Out("geticon after load %lx index %d\n", hr, index);
    void* hook = reinterpret_cast<void*>(1);
    const IID copyHook = {0x000214EF, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    hr = init->QueryInterface(copyHook, &hook);
    Out("copyhook %lx %p\n", hr, hook);
    IShellPropSheetExt* ps = nullptr;
    init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&ps));
    Out("replace %lx\n", ps->ReplacePage(0, nullptr, 0));
    ps->Release();
    pf->Release();
    ei->Release();
    init->Release();
    Out("canunload released %lx\n", CanUnload());
    // The class object itself.
    IClassFactory* cf = nullptr;
    Out("getclass %lx\n", CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&cf)));
    Out("canunload factory %lx\n", CanUnload());
    IUnknown* agg = reinterpret_cast<IUnknown*>(1);
    Out("aggregate %lx\n", cf->CreateInstance(reinterpret_cast<IUnknown*>(cf), IID_IUnknown, reinterpret_cast<void**>(&agg)));
    cf->Release();
    Out("canunload end %lx\n", CanUnload());
    using GetClass = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto gco = reinterpret_cast<GetClass>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kelmsh.dll"), "DllGetClassObject")));
    void* other = reinterpret_cast<void*>(1);
    hr = gco(IID_IUnknown, IID_IClassFactory, &other);
    Out("otherclass %lx %p\n", hr, other);
  } else {
    return 2;
  }
  DestroyWindow(g_host);
  CoUninitialize();
  return 0;
}
