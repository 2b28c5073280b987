#include "cfg/mainwindow.h"

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cfg/logic/servicelines.h"
#include "cfg/logic/trayclient.h"
#include "cfg/configdialog.h"
#include "cfg/logindialog.h"
#include "cfg/servicelink.h"
#include "cfg/warningdialog.h"
#include "common/devices.h"
#include "common/storefields.h"
#include "common/textutil.h"
#include "common/win32/cfgpassword.h"
#include "common/win32/diskstore.h"
#include "common/win32/filemon.h"
#include "common/win32/handles.h"
#include "common/win32/language.h"
#include "common/win32/platform.h"
#include "common/win32/vdisk.h"
#include "hotkey/kelmhkey.h"
#include "kelmcfg.h"

namespace kelm::cfg {

namespace {

constexpr char kMutexName[] = "CMainCtrlcfg";
constexpr UINT_PTR kTrayTimer = 34662;
constexpr UINT_PTR kPollTimer = 34663;
constexpr UINT_PTR kHideTimer = 0;
constexpr UINT kTrayId = 1026;
constexpr unsigned kHotKeyVk = 113;

// Everything the main window owns; it lives as long as the process and is
// only touched on the user-interface thread.
struct Program {
  HINSTANCE instance = nullptr;
  HWND main = nullptr;
  win::UniqueHandle mutex;
  int osKind = kOsOther;
  ClientState state;
  std::unique_ptr<ServiceLink> link;
  WarningDialog warning;
  bool loginOpen = false;
  bool configuring = false;
};

Program& P() {
  static Program p;
  return p;
}

bool IsNt(int os) { return os == kOsWin2000 || os == kOsWinXp; }

constexpr char kMonitorWindow[] = "KelmMonitor";
constexpr UINT kMsgMonitorRequest = 0x8000;

// Windows 98: the request as a message to KelmCtl's window; dropped when
// that window does not exist. Its answer, or -1 when dropped.
LRESULT SendToMonitor(std::uint32_t code, WPARAM argument = 0) {
  const HWND monitor = FindWindowA(nullptr, kMonitorWindow);
  if (!monitor) return -1;
  return SendMessageA(monitor, kMsgMonitorRequest, argument, static_cast<LPARAM>(code));
}

// One request to the service (Windows 2000/XP) or to KelmCtl (Windows 98);
// false when it was not delivered.
bool SendRequest(std::uint32_t code, std::uint32_t argument = 0) {
  Program& p = P();
  if (p.osKind == kOsWin98) return SendToMonitor(code, argument) != -1;
  if (!IsNt(p.osKind) || !p.link) return false;
  return p.link->Send(code == kReqToggleMount ? FormatRequest(code, argument) : FormatRequest(code));
}

// SETUSER with the id as typed: a text on the pipe, its number (low 16
// bits) in the message.
bool SendSetUser(const char* userId) {
  Program& p = P();
  if (p.osKind == kOsWin98) return SendToMonitor(kReqSetUser, ParseDecimal(userId) & 0xFFFF) != -1;
  if (!IsNt(p.osKind) || !p.link) return false;
  return p.link->Send(FormatRequest(kReqSetUser, std::string_view(userId)));
}

void SetTrayIcon(DWORD op, int iconId, const char* tipKey, const char* tipBuiltin) {
  Program& p = P();
  NOTIFYICONDATAA nid{};
  nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
  nid.hWnd = p.main;
  nid.uID = kTrayId;
  nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  nid.uCallbackMessage = kMsgTrayCallback;
  nid.hIcon = static_cast<HICON>(LoadImageA(p.instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  char tip[256];
  win::LanguageLookup(tipKey, tipBuiltin, tip, sizeof tip);
  CopyBounded(nid.szTip, 64, tip);  // the tip of the first tray record: 63 characters
  Shell_NotifyIconA(op, &nid);
  if (nid.hIcon) DestroyIcon(nid.hIcon);
}

void TrayRunning() { SetTrayIcon(NIM_MODIFY, IDI_MOUNTED, "TrayMessage3", "Umbrel Hard Disk (Running)"); }
void TrayStopped() { SetTrayIcon(NIM_MODIFY, IDI_NOTMOUNTED, "TrayMessage2", "Umbrel Hard Disk (Stopped)"); }

void RemoveTrayIcon() {
  NOTIFYICONDATAA nid{};
  nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
  nid.hWnd = P().main;
  nid.uID = kTrayId;
  Shell_NotifyIconA(NIM_DELETE, &nid);
}

void ReleaseInstanceMutex() {
  Program& p = P();
  if (!p.mutex) return;
  ReleaseMutex(p.mutex.get());
  p.mutex.reset();
}

bool Connect() {
  Program& p = P();
  return p.link && p.link->Connect();
}

// The pipe broke or stopped taking requests.
void ServiceLost() {
  Program& p = P();
  p.state.Disconnected();
  TrayStopped();
}

// HKLM\SOFTWARE must be writable: creates and deletes "KelmdbgInfo".
bool RegistryWritable() {
  auto remove = [] {
    win::RegKey software;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, store::kSoftwareKey, 0, KEY_ALL_ACCESS, software.put()) != ERROR_SUCCESS)
      return false;
    return RegDeleteKeyA(software.get(), "KelmdbgInfo") == ERROR_SUCCESS;
  };
  auto create = [] {
    win::RegKey software, key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, store::kSoftwareKey, 0, KEY_CREATE_SUB_KEY, software.put()) !=
        ERROR_SUCCESS)
      return false;
    return RegCreateKeyExA(software.get(), "KelmdbgInfo", 0, const_cast<char*>(""), 0, KEY_CREATE_SUB_KEY, nullptr,
                           key.put(), nullptr) == ERROR_SUCCESS;
  };
  win::RegKey left;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KelmdbgInfo", 0, KEY_CREATE_SUB_KEY, left.put()) ==
      ERROR_SUCCESS) {
    left.reset();
    if (!remove()) return false;
  }
  if (!create()) return false;
  return remove();
}

void LoadSlotSettings(std::uint32_t user) {
  Program& p = P();
  std::memset(p.state.slots, 0, sizeof p.state.slots);
  char id[16];
  std::snprintf(id, sizeof id, "%u", static_cast<unsigned>(user));
  for (unsigned n = 0; n < kSlots; ++n) {
    SlotView& s = p.state.slots[n];
    win::GetText(id, store::SlotValueName("Valid", n).text, s.valid, sizeof s.valid);
    DWORD len = 0;
    if (win::GetValue(id, store::SlotValueName("ImageFile", n).text, s.imageFile, &len, sizeof s.imageFile - 1) !=
        ERROR_SUCCESS)
      s.imageFile[0] = '\0';
    s.imageFile[sizeof s.imageFile - 1] = '\0';
    win::GetNumber(id, store::SlotValueName("ImageFileSize", n).text, s.sizeMb);
    win::GetText(id, store::SlotValueName("AutoMount", n).text, s.autoMount, sizeof s.autoMount);
  }
}

void StartWarning(std::uint32_t code) {
  Program& p = P();
  // On Windows 98 the key's return is told only while KelmCtl is there to
  // hear it; the time-out ends the warning either way.
  p.warning.Start(
      p.main, code, [](std::uint32_t request) { SendRequest(request); },
      [] {
        const int os = P().osKind;
        return IsNt(os) || (os == kOsWin98 && FindWindowA(nullptr, kMonitorWindow) != nullptr);
      });
}

LRESULT OnServiceNotify(WPARAM kind, LPARAM value) {
  Program& p = P();
  const NotifyEffect e =
      HandleNotification(p.state, {static_cast<std::uint8_t>(kind & 0xFF), static_cast<std::uint32_t>(value)});
  if (e.icon == TrayIcon::Running) TrayRunning();
  if (e.icon == TrayIcon::Stopped) TrayStopped();
  if (e.loadSlots) LoadSlotSettings(p.state.user);
  if (e.request) SendRequest(e.request);
  if (e.warn) StartWarning(e.warningCode);
  return 1;
}

void ShowBox(const char* key, const char* builtin, const char* caption, UINT icon) {
  char text[256];
  win::LanguageLookup(key, builtin, text, sizeof text);
  MessageBoxA(P().main, text, caption, MB_OK | icon | MB_SETFOREGROUND);
}

win::UniqueHandle OpenMonitorForConfig() {
  Program& p = P();
  if (p.osKind == kOsWin98) return win::OpenFileMonitor(win::MonitorDevice::Win98, win::MonitorFailureBox::None);
  if (!IsNt(p.osKind)) return {};
  return win::OpenFileMonitor(win::MonitorDevice::Nt, win::MonitorFailureBox::Modal);
}

void SendConfiguring(HANDLE monitor, bool configuring) {
  const auto text = dev::MonitorConfiguringText(configuring);
  win::SendRequest(monitor, dev::kIoctlMonitorConfiguring, text.data(), static_cast<DWORD>(text.size()));
  if (!configuring) win::SendRequest(monitor, dev::kIoctlMonitorApply);
}

// Behind "Config" and the hot key of a suite never configured: the disks
// are dismounted and protection is in configuring mode while the
// configuration dialog is open.
void ConfigurationSequence() {
  Program& p = P();
  if (p.configuring) return;
  p.configuring = true;
  struct Done {
    ~Done() { P().configuring = false; }
  } done;
  if (win::AskPasswordDialog(p.main) != win::kPasswordVerified) return;
  char text[256];
  win::LanguageLookup("maictrl_msg",
                      "Before config the Umbrel disk, this tool will umount all mounted virtual hard disk,do you want "
                      "to continue?",
                      text, sizeof text);
  if (MessageBoxA(p.main, text, "Warning", MB_YESNO | MB_ICONWARNING | MB_SETFOREGROUND) != IDYES) return;
  const bool win98 = p.osKind == kOsWin98;
  if (win98 && !FindWindowA(nullptr, kMonitorWindow)) return;
  win::UniqueHandle monitor = OpenMonitorForConfig();
  if (!monitor) {
    ShowBox("maictrl_msgw0", "I Can not connect to Umbrel hard disk service.", "Warning", MB_ICONWARNING);
    return;
  }
  SendConfiguring(monitor.get(), true);
  monitor.reset();
  if (win98) {
    if (SendToMonitor(kReqUnmountAll) != 1) {
      ShowBox("maictrl_msg0", "I Can not unmount all Umbrel hard disk. Can not config.", "Warning", MB_ICONWARNING);
      return;
    }
  } else {
    SendRequest(kReqUnmountAll);
  }
  ConfigDialog();
  monitor = OpenMonitorForConfig();
  if (!monitor) {
    ShowBox("maictrl_msgw0", "I Can not connect to Umbrel hard disk service.", "Warning", MB_ICONWARNING);
    return;
  }
  SendConfiguring(monitor.get(), false);
  monitor.reset();
  SendRequest(kReqReload);
}

void LoginSequence() {
  Program& p = P();
  if (win::ReadInstallType() != store::kInstallSoftware) return;
  // While configuring, a log-in would mount the disks the sequence has
  // just dismounted.
  if (p.configuring) return;
  char configed[store::kTextReadLimit];
  win::GetText(nullptr, "configed", configed, sizeof configed);
  if (!store::IsYes(configed)) {
    ConfigurationSequence();
    return;
  }
  // Press, repeat and release each bring a hot-key message; one dialog.
  if (p.loginOpen) return;
  p.loginOpen = true;
  LoginFieldsText fields;
  if (LoginDialog(p.main, LoginMode::Existing, fields) == 1) {
    if (!CheckLoginPassword(fields.userId, fields.password)) {
      ShowBox("PASSERROR", "UserId or password error.", "Error", MB_ICONWARNING);
    } else {
      SendSetUser(fields.userId);
    }
  }
  SecureZeroMemory(fields.password, sizeof fields.password);
  p.loginOpen = false;
}

void ShowTrayMenu() {
  Program& p = P();
  if (IsWindowVisible(p.main)) {
    ShowWindow(p.main, SW_HIDE);
    return;
  }
  SetForegroundWindow(p.main);
  POINT at{};
  GetCursorPos(&at);
  struct MenuOwner {
    HMENU m;
    ~MenuOwner() {
      if (m) DestroyMenu(m);
    }
  } resource{LoadMenuA(p.instance, MAKEINTRESOURCEA(IDR_TRAYMENU))};
  const HMENU menu = resource.m ? GetSubMenu(resource.m, 0) : nullptr;
  if (!menu) return;
  for (unsigned u = 0; u < 3; ++u) {
    char key[16], text[256];
    std::snprintf(key, sizeof key, "Menu%u", u);
    win::LanguageLookup(key, "", text, sizeof text);
    if (!text[0]) continue;
    MENUITEMINFOA mi{};
    mi.cbSize = sizeof mi;
    mi.fMask = MIIM_TYPE;
    mi.fType = MFT_STRING;
    mi.dwTypeData = text;
    SetMenuItemInfoA(menu, 2 * u, TRUE, &mi);
  }
  char login[256];
  const bool software = win::ReadInstallType() == store::kInstallSoftware;
  login[0] = '\0';
  if (software) win::LanguageLookup("F2MENU", "", login, sizeof login);
  const std::vector<MenuEntry> top = TrayMenuTop(p.state, software, login);
  for (auto it = top.rbegin(); it != top.rend(); ++it) {
    if (it->separator) {
      InsertMenuA(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
      continue;
    }
    InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING | (it->checked ? MF_CHECKED : MF_UNCHECKED), it->id,
                it->text.c_str());
  }
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, p.main, nullptr);
  // Lets the menu close when the user clicks elsewhere next time.
  PostMessageA(p.main, WM_NULL, 0, 0);
}

void StartUninstaller() {
  char dir[MAX_PATH];
  if (!win::ModuleDirectory(dir, sizeof dir)) return;
  char path[MAX_PATH + 16], cmd[MAX_PATH + 20];
  if (std::snprintf(path, sizeof path, "%s\\kelmuinst.exe", dir) >= static_cast<int>(sizeof path)) return;
  std::snprintf(cmd, sizeof cmd, "\"%s\"", path);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA(path, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

LRESULT ReloadProtection() {
  Program& p = P();
  if (p.osKind == kOsOther) return 0;
  // The sender (the shell extension, inside Explorer) waits for the answer:
  // a failure box must not hold it.
  win::UniqueHandle monitor = win::OpenFileMonitor(
      p.osKind == kOsWin98 ? win::MonitorDevice::Win98 : win::MonitorDevice::Nt, win::MonitorFailureBox::NoWait);
  if (!monitor) return 0;
  win::SendRequest(monitor.get(), dev::kIoctlMonitorApply);
  return 1;
}

void CALLBACK TrayTimer(HWND hwnd, UINT, UINT_PTR, DWORD) {
  if (!ShowWindow(hwnd, SW_HIDE)) {
    KillTimer(hwnd, kTrayTimer);
    SetTrayIcon(NIM_ADD, IDI_NOTMOUNTED, "TrayMessage1", "Umbrel hard disk(Ready)");
  }
  if (IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_HIDE);
}

void CALLBACK PollTimer(HWND, UINT, UINT_PTR, DWORD) {
  Program& p = P();
  const bool nt = IsNt(p.osKind);
  if (nt && !p.link->connected()) Connect();
  if (nt && !p.link->connected()) return;
  SendRequest(kReqGetState);
}

bool Initialise(HWND hwnd) {
  Program& p = P();
  p.mutex.reset(CreateMutexA(nullptr, FALSE, kMutexName));
  if (!p.mutex) return false;
  const DWORD w = WaitForSingleObject(p.mutex.get(), 3000);
  if (w != WAIT_OBJECT_0 && w != WAIT_ABANDONED) {
    p.mutex.reset();
    return false;
  }
  p.osKind = DetectOsKind();
  p.main = hwnd;
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  win::LanguageInit(win::LanguageFileKind::ProgramDir);
  if (!RegistryWritable()) {
    ShowBox("maictrl_msg1", "You have no right to write data to registry,can not install.", "Information",
            MB_ICONINFORMATION);
    ReleaseInstanceMutex();
    return false;
  }
  SetTimer(hwnd, kTrayTimer, 100, TrayTimer);
  p.link = std::make_unique<ServiceLink>(hwnd, ServiceLost);
  if (IsNt(p.osKind)) Connect();
  SetTimer(hwnd, kPollTimer, 3000, PollTimer);
  if (win::ReadInstallType() == store::kInstallSoftware)
    HookHotKey(static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(hwnd)), kMsgHotKey, kHotKeyVk);
  SetTimer(hwnd, kHideTimer, 5000, nullptr);
  return true;
}

BOOL Result(HWND hwnd, LRESULT value) {
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, value);
  return TRUE;
}

INT_PTR CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Program& p = P();
  switch (msg) {
    case WM_INITDIALOG:
      if (!Initialise(hwnd)) EndDialog(hwnd, 0);
      return TRUE;
    case WM_WINDOWPOSCHANGING:
      // Never shown, not even for the moment before the first timer tick.
      reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~SWP_SHOWWINDOW;
      return FALSE;
    case WM_CLOSE:
      ReleaseInstanceMutex();
      return FALSE;  // the dialog's own handling ends it through IDCANCEL
    case WM_DESTROY:
      ReleaseInstanceMutex();
      if (p.main) RemoveTrayIcon();
      UnHookHotKey();
      return FALSE;
    case WM_TIMER:
      if (wp == kHideTimer) {
        if (IsWindowVisible(hwnd))
          ShowWindow(hwnd, SW_HIDE);
        else
          KillTimer(hwnd, kHideTimer);
      }
      return TRUE;
    case kMsgTrayCallback:
      if (lp == WM_LBUTTONDOWN) ShowTrayMenu();
      return TRUE;
    case kMsgHotKey:
      LoginSequence();
      return TRUE;
    case kMsgServiceNotify:
      return Result(hwnd, OnServiceNotify(wp, lp));
    case kMsgDriveLetters:
      return Result(hwnd, static_cast<LRESULT>(p.state.PackedLetters()));
    case kMsgReloadProtection:
      return Result(hwnd, ReloadProtection());
    case kMsgReaderEnded:
      if (p.link) p.link->ReaderEnded(wp);
      return TRUE;
    case WM_COMMAND: {
      const unsigned id = LOWORD(wp);
      if (id >= kCmdSlotBase && id < kCmdSlotBase + kSlots) {
        SendRequest(kReqToggleMount, static_cast<std::uint32_t>(id - kCmdSlotBase));
      } else if (id == kCmdConfig) {
        ConfigurationSequence();
      } else if (id == kCmdUninstall) {
        StartUninstaller();
      } else if (id == kCmdHide) {
        ShowWindow(hwnd, SW_HIDE);
      } else if (id == kCmdLogin) {
        LoginSequence();
      } else if (id == IDCANCEL) {
        EndDialog(hwnd, 0);
      }
      return TRUE;
    }
    default:
      break;
  }
  return FALSE;
}

}  // namespace

int DetectOsKind() {
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExA(&vi)) return kOsOther;
  if (vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return kOsWin98;
  if (vi.dwPlatformId == VER_PLATFORM_WIN32_NT && vi.dwMajorVersion == 5) {
    if (vi.dwMinorVersion == 0) return kOsWin2000;
    if (vi.dwMinorVersion == 1) return kOsWinXp;
  }
  return kOsOther;
}

INT_PTR RunMainWindow(HINSTANCE instance) {
  P().instance = instance;
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainProc, 0);
}

}  // namespace kelm::cfg
