// kelmsim: installs, removes and drives the stand-in drivers in a Wine
// prefix, and prints what they recorded. Test equipment only.
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/byteorder.h"
#include "common/win32/handles.h"
#include "common/win32/platform.h"
#include "standin_protocol.h"

namespace {

using kelm::win::RegKey;
using kelm::win::ScHandle;
using kelm::win::UniqueHandle;

struct DevInfoTraits {
  static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HDEVINFO h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HDEVINFO h) { ::SetupDiDestroyDeviceInfoList(h); }
};
using DevInfo = kelm::win::Owner<HDEVINFO, DevInfoTraits>;

const GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

struct Driver {
  const char* service;
  const char* display;
  const char* file;
};
const Driver kDisk{KELM_DISK_SERVICE, "Virtual Disk Driver", "kelm.sys"};
const Driver kDisk98{KELM_DISK98_SERVICE, "Virtual Disk Driver (Windows 98 form)", "kelm98.sys"};
const Driver kMonitor{KELM_MON_SERVICE, "Kelm File Monitor Service", "kelmfmon.sys"};
const char* const kDriverFiles[] = {"kelm.sys", "kelm98.sys", "kelmfmon.sys", "kelmrecv.sys"};
const char* const kFailNames[] = {"create-link", "open-file", "link-removal", "close-all", "start-up", "volume"};
const char* const kFail98Names[] = {"check", "set-user", "mount", "letter", "dismount", "dismount-all"};

int Fail(const char* what) {
  const DWORD e = GetLastError();
  std::fprintf(stderr, "kelmsim: %s failed (error %lu)\n", what, static_cast<unsigned long>(e));
  return 1;
}

int Usage() {
  std::fputs(
      "usage: kelmsim install [win98] | uninstall | status | readings | letters\n"
      "       kelmsim key CODE|none|noreading\n"
      "       kelmsim receiver unplug|plug|fail|ok\n"
      "       kelmsim fail create-link|open-file|link-removal|close-all|start-up|volume|none\n"
      "       kelmsim fail check|set-user|mount|letter|dismount|dismount-all (win98)\n"
      "       kelmsim monitor reset|stop|start\n"
      "       kelmsim disk stop|start\n",
      stderr);
  return 2;
}

std::string ParamsKey(const char* service) {
  return std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Parameters";
}

bool SetDword(const char* service, const char* name, DWORD value) {
  RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ParamsKey(service).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

bool SetText(const char* service, const char* name, const char* text) {
  RegKey key;
  if (!text) {
    // Nothing to clear where there is no key.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParamsKey(service).c_str(), 0, KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
      return true;
    const LONG r = RegDeleteValueA(key.get(), name);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
  }
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ParamsKey(service).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

UniqueHandle OpenDevice(const char* path) {
  return UniqueHandle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The control device of whichever disk driver form is running.
UniqueHandle OpenDisk() {
  UniqueHandle h = OpenDevice("\\\\.\\kelmgui");
  if (!h) h = OpenDevice("\\\\.\\kelm");
  return h;
}

bool Ioctl(HANDLE h, DWORD code, const void* in, DWORD inLen, void* out, DWORD outLen, DWORD* got) {
  DWORD n = 0;
  const BOOL ok = DeviceIoControl(h, code, const_cast<void*>(in), inLen, out, outLen, &n, nullptr);
  if (got) *got = n;
  return ok != FALSE;
}

// Has the running "Kelm" driver apply its failure setting now (its private
// query does), so that a failing "volume" takes the disk devices of the
// free slots away before kelmsim returns, and "none" brings them back.
// Nothing to do when the Windows 2000/XP form is not running.
bool ApplyDiskSetting() {
  UniqueHandle gui = OpenDevice("\\\\.\\kelmgui");
  if (!gui) return true;
  static unsigned char slots[KELM_SLOTS * KELM_SLOT_RECORD];
  return Ioctl(gui.get(), KELM_IOCTL_QUERY_SLOTS, nullptr, 0, slots, sizeof slots, nullptr);
}

bool WaitState(SC_HANDLE svc, DWORD state) {
  for (int i = 0; i < 100; ++i) {
    SERVICE_STATUS st{};
    if (!QueryServiceStatus(svc, &st)) return false;
    if (st.dwCurrentState == state) return true;
    Sleep(50);
  }
  return false;
}

bool StartService(SC_HANDLE svc) {
  if (!StartServiceA(svc, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) return false;
  return WaitState(svc, SERVICE_RUNNING);
}

bool StopService(SC_HANDLE svc) {
  SERVICE_STATUS st{};
  if (QueryServiceStatus(svc, &st) && st.dwCurrentState == SERVICE_STOPPED) return true;
  ControlService(svc, SERVICE_CONTROL_STOP, &st);
  return WaitState(svc, SERVICE_STOPPED);
}

// Creates the kernel-driver service, or points an existing one at path.
ScHandle EnsureService(SC_HANDLE scm, const Driver& d, const std::string& path) {
  ScHandle svc(CreateServiceA(scm, d.service, d.display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr,
                              nullptr, nullptr, nullptr));
  if (svc || GetLastError() != ERROR_SERVICE_EXISTS) return svc;
  svc.reset(OpenServiceA(scm, d.service, SERVICE_ALL_ACCESS));
  if (svc)
    ChangeServiceConfigA(svc.get(), SERVICE_KERNEL_DRIVER, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                         path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  return svc;
}

void StopAndDelete(SC_HANDLE scm, const char* name) {
  ScHandle svc(OpenServiceA(scm, name, SERVICE_ALL_ACCESS));
  if (!svc) return;
  StopService(svc.get());
  DeleteService(svc.get());
}

std::string DriversDir() {
  char sys[MAX_PATH] = {};
  GetSystemDirectoryA(sys, MAX_PATH);
  return std::string(sys) + "\\drivers\\";
}

std::string OwnDir() {
  char dir[MAX_PATH] = {};
  kelm::win::ModuleDirectory(dir, sizeof dir);
  return dir;
}

// The receiver search the suite makes: the USB device interface class,
// present devices, hardware id containing "vid_4b1e". With open set, the
// first match's first interface is opened.
bool FindReceiver(bool open, UniqueHandle* out) {
  DevInfo set(SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr,
                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return false;
  for (DWORD i = 0;; ++i) {
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    if (!SetupDiEnumDeviceInfo(set.get(), i, &dev)) return false;
    char id[100] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set.get(), &dev, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(id), sizeof id - 1, nullptr))
      continue;
    CharLowerBuffA(id, sizeof id - 1);
    if (!std::strstr(id, "vid_4b1e")) continue;
    if (!open) return true;
    SP_DEVICE_INTERFACE_DATA ifd{};
    ifd.cbSize = sizeof ifd;
    if (!SetupDiEnumDeviceInterfaces(set.get(), &dev, &kUsbDeviceInterface, 0, &ifd)) return false;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set.get(), &ifd, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    std::string storage(size, '\0');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set.get(), &ifd, detail, size, nullptr, nullptr)) return false;
    *out = OpenDevice(detail->DevicePath);
    return true;
  }
}

// What the suite would read: 0 when absent or the reading fails. The input
// byte keeps this reading out of the driver's count of the suite's.
DWORD ReadReceiver() {
  UniqueHandle h;
  if (!FindReceiver(false, nullptr) || !FindReceiver(true, &h) || !h) return 0;
  DWORD code = 0xFFFFFFFFu;
  const char mark = 'k';
  if (!Ioctl(h.get(), KELM_RX_IOCTL_READ, &mark, sizeof mark, &code, sizeof code, nullptr)) return 0;
  return code;
}

int Plug() {
  const std::string inf = OwnDir() + "\\rxkey2k.inf";
  DevInfo set(SetupDiCreateDeviceInfoList(&kUsbClass, nullptr));
  if (!set) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA dev{};
  dev.cbSize = sizeof dev;
  if (!SetupDiCreateDeviceInfoA(set.get(), KELM_RX_INSTANCE, &kUsbClass, "Kelm RF key receiver", nullptr,
                                0, &dev)) {
    if (GetLastError() == ERROR_DEVINST_ALREADY_EXISTS) return 0;
    return Fail("SetupDiCreateDeviceInfoA");
  }
  static const char ids[] = KELM_RX_HARDWARE_ID "\0";
  if (!SetupDiSetDeviceRegistryPropertyA(set.get(), &dev, SPDRP_HARDWAREID,
                                         reinterpret_cast<const BYTE*>(ids), sizeof ids))
    return Fail("SetupDiSetDeviceRegistryPropertyA");
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &dev))
    return Fail("DIF_REGISTERDEVICE");
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, KELM_RX_HARDWARE_ID, inf.c_str(), INSTALLFLAG_FORCE,
                                          &reboot)) {
    const int r = Fail("UpdateDriverForPlugAndPlayDevicesA");
    SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &dev);
    return r;
  }
  return 0;
}

int Unplug() {
  DevInfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
  if (!set) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA dev{};
  dev.cbSize = sizeof dev;
  if (!SetupDiOpenDeviceInfoA(set.get(), KELM_RX_INSTANCE, nullptr, 0, &dev)) return 0;  // not there
  if (!SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &dev)) return Fail("DIF_REMOVE");
  return 0;
}

int Install(bool win98) {
  const Driver& disk = win98 ? kDisk98 : kDisk;
  const std::string src = OwnDir() + "\\";
  const std::string dst = DriversDir();
  for (const char* f : kDriverFiles) {
    // A driver that is running keeps its file; installing again uses it.
    if (!CopyFileA((src + f).c_str(), (dst + f).c_str(), FALSE) &&
        GetFileAttributesA((dst + f).c_str()) == INVALID_FILE_ATTRIBUTES)
      return Fail(f);
  }
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return Fail("OpenSCManagerA");
  // Fresh settings: no injected failure, receiver hears no key, no readings.
  if (!SetText(disk.service, KELM_DISK_FAIL_VALUE, nullptr) || !SetDword(KELM_RX_SERVICE, "code", 0) ||
      !SetDword(KELM_RX_SERVICE, "noreading", 0) || !SetDword(KELM_RX_SERVICE, "fail", 0) ||
      !SetDword(KELM_RX_SERVICE, "readings", 0))
    return Fail("writing the Parameters keys");
  for (const Driver* d : {&disk, &kMonitor}) {
    ScHandle svc = EnsureService(scm.get(), *d, dst + d->file);
    if (!svc) return Fail(d->service);
    if (!StartService(svc.get())) return Fail(d->service);
  }
  if (!OpenDisk()) return Fail("opening the disk driver's control device");
  if (!ApplyDiskSetting()) return Fail("applying the disk driver's settings");
  if (!OpenDevice("\\\\.\\keskmon")) return Fail("opening \\\\.\\keskmon");
  return Plug();
}

// Letters defined from user mode for one of the disk devices.
void RemoveDiskDefinitions() {
  for (char c = 'A'; c <= 'Z'; ++c) {
    const char name[3] = {c, ':', 0};
    char target[200] = {};
    if (!QueryDosDeviceA(name, target, sizeof target)) continue;
    if (_strnicmp(target, "\\Device\\kelm\\Kelm", 17) != 0) continue;
    DefineDosDeviceA(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, name, target);
  }
}

void DeleteOemInfs() {
  char win[MAX_PATH] = {};
  GetWindowsDirectoryA(win, MAX_PATH);
  const std::string dir = std::string(win) + "\\inf\\";
  WIN32_FIND_DATAA fd;
  kelm::win::FindHandle find(FindFirstFileA((dir + "oem*.inf").c_str(), &fd));
  if (!find) return;
  do {
    const std::string path = dir + fd.cFileName;
    char text[4096] = {};
    {
      UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
      DWORD got = 0;
      if (!f || !ReadFile(f.get(), text, sizeof text - 1, &got, nullptr)) continue;
    }
    if (!std::strstr(text, "kelmrecv.sys")) continue;
    DeleteFileA(path.c_str());
    std::string pnf = path;
    pnf.replace(pnf.size() - 3, 3, "pnf");
    DeleteFileA(pnf.c_str());
  } while (FindNextFileA(find.get(), &fd));
}

int Uninstall() {
  int result = Unplug();
  SetText(KELM_DISK_SERVICE, KELM_DISK_FAIL_VALUE, nullptr);
  SetText(KELM_DISK98_SERVICE, KELM_DISK_FAIL_VALUE, nullptr);
  if (UniqueHandle gui = OpenDevice("\\\\.\\kelmgui"))
    Ioctl(gui.get(), KELM_IOCTL_CLOSE_ALL, nullptr, 0, nullptr, 0, nullptr);
  if (UniqueHandle k98 = OpenDevice("\\\\.\\kelm"))
    Ioctl(k98.get(), 0x220017, nullptr, 0, nullptr, 0, nullptr);
  RemoveDiskDefinitions();
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return Fail("OpenSCManagerA");
  for (const char* name : {KELM_RX_SERVICE, KELM_DISK_SERVICE, KELM_DISK98_SERVICE, KELM_MON_SERVICE}) {
    StopAndDelete(scm.get(), name);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string("SYSTEM\\CurrentControlSet\\Services\\") + name).c_str());
  }
  const std::string dst = DriversDir();
  for (const char* f : kDriverFiles) DeleteFileA((dst + f).c_str());
  DeleteOemInfs();
  return result;
}

bool ParseCode(const char* s, DWORD* out) {
  if (!*s) return false;
  unsigned long long v = 0;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
    v = v * 10 + static_cast<unsigned>(*s - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  *out = static_cast<DWORD>(v);
  return true;
}

int Key(const char* arg) {
  DWORD code = 0, noReading = 0;
  if (std::strcmp(arg, "noreading") == 0)
    noReading = 1;
  else if (std::strcmp(arg, "none") != 0 && !ParseCode(arg, &code))
    return Usage();
  if (!SetDword(KELM_RX_SERVICE, "code", code) || !SetDword(KELM_RX_SERVICE, "noreading", noReading))
    return Fail("writing the receiver's Parameters");
  return 0;
}

int Receiver(const char* arg) {
  if (std::strcmp(arg, "unplug") == 0) return Unplug();
  if (std::strcmp(arg, "plug") == 0) return Plug();
  if (std::strcmp(arg, "fail") == 0 || std::strcmp(arg, "ok") == 0)
    return SetDword(KELM_RX_SERVICE, "fail", arg[0] == 'f' ? 1 : 0) ? 0 : Fail("writing the receiver's Parameters");
  return Usage();
}

// How many readings the receiver has answered to others than kelmsim since
// the install, whether it is plugged in now or not.
int Readings() {
  RegKey key;
  DWORD value = 0, type = 0, size = sizeof value;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParamsKey(KELM_RX_SERVICE).c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
          ERROR_SUCCESS ||
      RegQueryValueExA(key.get(), "readings", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    value = 0;
  std::printf("%lu\n", static_cast<unsigned long>(value));
  std::fflush(stdout);
  return 0;
}

// Drive letters whose DOS device leads to one of the disk devices, however
// they were made (a driver's link or a user-mode definition).
int Letters() {
  for (char c = 'A'; c <= 'Z'; ++c) {
    const char name[3] = {c, ':', 0};
    char target[200] = {};
    if (!QueryDosDeviceA(name, target, sizeof target)) continue;
    if (_strnicmp(target, "\\Device\\kelm", 12) != 0) continue;
    std::printf("%s %s\n", name, target);
  }
  std::fflush(stdout);
  return 0;
}

int InjectFailure(const char* arg) {
  if (std::strcmp(arg, "none") == 0) {
    if (!SetText(KELM_DISK_SERVICE, KELM_DISK_FAIL_VALUE, nullptr) ||
        !SetText(KELM_DISK98_SERVICE, KELM_DISK_FAIL_VALUE, nullptr))
      return Fail("clearing the failure");
    return ApplyDiskSetting() ? 0 : Fail("applying the failure setting");
  }
  for (const char* n : kFailNames) {
    if (std::strcmp(arg, n) != 0) continue;
    if (!SetText(KELM_DISK_SERVICE, KELM_DISK_FAIL_VALUE, n)) return Fail("setting the failure");
    return ApplyDiskSetting() ? 0 : Fail("applying the failure setting");
  }
  for (const char* n : kFail98Names)
    if (std::strcmp(arg, n) == 0)
      return SetText(KELM_DISK98_SERVICE, KELM_DISK_FAIL_VALUE, n) ? 0 : Fail("setting the failure");
  return Usage();
}

// Stops or starts one stand-in's service (a caller's start-up and
// "cannot open the device" paths).
int StopOrStart(const char* service, const char* arg) {
  const bool stop = std::strcmp(arg, "stop") == 0;
  if (!stop && std::strcmp(arg, "start") != 0) return Usage();
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return Fail("OpenSCManagerA");
  ScHandle svc(OpenServiceA(scm.get(), service, SERVICE_ALL_ACCESS));
  if (!svc) return Fail(service);
  if (!(stop ? StopService(svc.get()) : StartService(svc.get()))) return Fail(arg);
  return 0;
}

int Monitor(const char* arg) {
  if (std::strcmp(arg, "reset") != 0) return StopOrStart(KELM_MON_SERVICE, arg);
  UniqueHandle h = OpenDevice("\\\\.\\keskmon");
  if (!h) return Fail("opening \\\\.\\keskmon");
  return Ioctl(h.get(), KELM_MON_IOCTL_RESET, nullptr, 0, nullptr, 0, nullptr) ? 0 : Fail("reset");
}

void Printable(char* s) {
  for (; *s; ++s)
    if (static_cast<unsigned char>(*s) <= 0x20 || static_cast<unsigned char>(*s) >= 0x7f) *s = '?';
}

int Status() {
  UniqueHandle gui = OpenDisk();
  if (!gui) return Fail("opening the disk driver's control device");
  static unsigned char slots[KELM_SLOTS * KELM_SLOT_RECORD];
  DWORD got = 0;
  if (!Ioctl(gui.get(), KELM_IOCTL_QUERY_SLOTS, nullptr, 0, slots, sizeof slots, &got) || got != sizeof slots)
    return Fail("reading the slots");
  UniqueHandle mon = OpenDevice("\\\\.\\keskmon");
  if (!mon) return Fail("opening \\\\.\\keskmon");
  unsigned char m[KELM_MON_RECORD] = {};
  if (!Ioctl(mon.get(), KELM_MON_IOCTL_QUERY, nullptr, 0, m, sizeof m, &got) || got != sizeof m)
    return Fail("reading the monitor");
  const bool present = FindReceiver(false, nullptr);
  const DWORD code = ReadReceiver();

  for (int i = 0; i < KELM_SLOTS; ++i) {
    const unsigned char* r = slots + i * KELM_SLOT_RECORD;
    if (!r[0]) continue;
    unsigned long long size = 0;
    for (int b = 7; b >= 0; --b) size = size << 8 | r[4 + b];
    char name[KELM_NAME_MAX + 1] = {};
    std::memcpy(name, r + 12, KELM_NAME_MAX);
    const char* path = std::strncmp(name, "\\??\\", 4) == 0 ? name + 4 : name;
    std::printf("attached %d %c: %s %llu %s\n", i, r[1] ? r[1] : '?', r[2] ? "yes" : "no",
                size / 1048576ull, path);
  }
  char user[KELM_MON_USER_MAX + 1] = {};
  std::memcpy(user, m + 8, KELM_MON_USER_MAX);
  Printable(user);
  const unsigned long reloads = kelm::LoadLe32(m + 4);
  std::printf("monitor %s %s %lu\n", m[0] ? user : "-", m[1] == 1 ? "yes" : m[1] == 2 ? "no" : "-", reloads);
  std::printf("receiver %s %lu\n", present ? "present" : "absent", static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* cmd = argv[1];
  if (argc == 2 && std::strcmp(cmd, "install") == 0) return Install(false);
  if (argc == 3 && std::strcmp(cmd, "install") == 0 && std::strcmp(argv[2], "win98") == 0) return Install(true);
  if (argc == 2 && std::strcmp(cmd, "uninstall") == 0) return Uninstall();
  if (argc == 2 && std::strcmp(cmd, "status") == 0) return Status();
  if (argc == 2 && std::strcmp(cmd, "readings") == 0) return Readings();
  if (argc == 2 && std::strcmp(cmd, "letters") == 0) return Letters();
  if (argc == 3 && std::strcmp(cmd, "key") == 0) return Key(argv[2]);
  if (argc == 3 && std::strcmp(cmd, "receiver") == 0) return Receiver(argv[2]);
  if (argc == 3 && std::strcmp(cmd, "fail") == 0) return InjectFailure(argv[2]);
  if (argc == 3 && std::strcmp(cmd, "monitor") == 0) return Monitor(argv[2]);
  if (argc == 3 && std::strcmp(cmd, "disk") == 0) {
    const bool win98 = !OpenDevice("\\\\.\\kelmgui") && OpenDevice("\\\\.\\kelm");
    return StopOrStart(win98 ? KELM_DISK98_SERVICE : KELM_DISK_SERVICE, argv[2]);
  }
  return Usage();
}
