#include "common/win32/vdisk.h"

#include "common/devices.h"

namespace kelm::win {

namespace {

UniqueHandle OpenShared(const char* name) {
  return UniqueHandle(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr));
}

}  // namespace

UniqueHandle OpenControlDevice() { return OpenShared(dev::kControlDevice); }

UniqueHandle OpenVolume(char letter) { return OpenShared(dev::VolumeName(letter).data()); }

UniqueHandle OpenWin98Disk() {
  return UniqueHandle(
      CreateFileA(dev::kWin98Device, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

bool SendRequest(HANDLE h, std::uint32_t code, const void* in, DWORD inLen, void* out, DWORD outLen,
                 DWORD* returned) {
  DWORD count = 0;  // some requests are answered without setting it
  if (returned) *returned = 0;
  if (!KernelHandleTraits::Valid(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const BOOL ok = DeviceIoControl(h, code, const_cast<void*>(in), inLen, out, outLen, &count, nullptr);
  if (returned) *returned = count;
  return ok != FALSE;
}

}  // namespace kelm::win
