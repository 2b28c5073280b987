#include "common/win32/receiver.h"

#include <setupapi.h>

#include <cstring>
#include <memory>

#include "common/devices.h"

namespace kelm::win {

namespace {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the USB device interface class.
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr DWORD kHardwareIdBuffer = 100;

#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif

struct DevInfoTraits {
  static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HDEVINFO h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HDEVINFO h) { SetupDiDestroyDeviceInfoList(h); }
};
using DevInfoList = Owner<HDEVINFO, DevInfoTraits>;

DevInfoList PresentUsbInterfaces() {
  return DevInfoList(SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
}

// True when the device's hardware id, read into 100 bytes and lowered,
// contains "vid_4b1e".
bool IsReceiver(HDEVINFO list, SP_DEVINFO_DATA& dev) {
  char id[kHardwareIdBuffer + 1] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(list, &dev, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(id),
                                         kHardwareIdBuffer, nullptr))
    return false;
  // The property is a multi-string; only its first id is searched.
  id[kHardwareIdBuffer] = '\0';
  for (char* p = id; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  return std::strstr(id, "vid_4b1e") != nullptr;
}

// Index of the first matching device in list, or false.
bool FindReceiver(HDEVINFO list, SP_DEVINFO_DATA& dev) {
  for (DWORD i = 0;; ++i) {
    dev = {};
    dev.cbSize = sizeof dev;
    if (!SetupDiEnumDeviceInfo(list, i, &dev)) return false;
    if (IsReceiver(list, dev)) return true;
  }
}

}  // namespace

bool ReceiverPresent() {
  DevInfoList list = PresentUsbInterfaces();
  if (!list) return false;
  SP_DEVINFO_DATA dev;
  return FindReceiver(list.get(), dev);
}

UniqueHandle OpenReceiver() {
  DevInfoList list = PresentUsbInterfaces();
  if (!list) return {};
  SP_DEVINFO_DATA dev;
  if (!FindReceiver(list.get(), dev)) return {};

  SP_DEVICE_INTERFACE_DATA itf{};
  itf.cbSize = sizeof itf;
  if (!SetupDiEnumDeviceInterfaces(list.get(), &dev, &kUsbDeviceInterface, 0, &itf)) return {};
  DWORD need = 0;
  SetupDiGetDeviceInterfaceDetailA(list.get(), &itf, nullptr, 0, &need, nullptr);
  if (need < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return {};
  std::unique_ptr<BYTE[]> buf(new (std::nothrow) BYTE[need]);
  if (!buf) return {};
  std::memset(buf.get(), 0, need);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buf.get());
  // The size of the fixed part: 5 on i686 (DWORD + one CHAR, packed), 8 on
  // x86_64; setupapi refuses any other value.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &itf, detail, need, nullptr, nullptr)) return {};
  return UniqueHandle(CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadReceiverKey(UniqueHandle& receiver, std::uint32_t& key) {
  BYTE out[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  DWORD count = 0;
  if (!receiver ||
      !DeviceIoControl(receiver.get(), dev::kIoctlReadKey, nullptr, 0, out, sizeof out, &count, nullptr)) {
    receiver.reset();
    key = dev::kKeyNone;
    return false;
  }
  key = LoadLe32(out);
  return true;
}

bool KeyWatchReceiver::Read(std::uint32_t& key) {
  if (!open_) {
    if (!ReceiverPresent()) return false;
    receiver_ = OpenReceiver();
    if (!receiver_) return false;
    open_ = true;
  }
  if (ReadReceiverKey(receiver_, key)) return true;
  open_ = false;
  return false;
}

}  // namespace kelm::win
