// The driver-side readers of OpenFileInfo and the Windows 98 records take
// whatever a caller passes; they must stay inside the given length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/devrecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy so that any read past the record is caught.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  kelm::dev::OpenFileInfoFields f{};
  if (kelm::dev::ParseOpenFileInfo(copy.get(), size, f)) {
    if (f.fileNameLength > size - kelm::dev::kOpenFileInfoNameOffset) __builtin_trap();
    if (std::strlen(f.password) > kelm::dev::kOpenFileInfoPasswordField) __builtin_trap();
    volatile char sink = 0;
    for (std::size_t i = 0; i < f.imagePathLength; ++i) sink = static_cast<char>(sink ^ f.imagePath[i]);
    (void)sink;
  }
  std::uint32_t id = 0;
  std::uint8_t slot = 0;
  kelm::dev::ParseWin98UserRecord(copy.get(), size, id);
  if (kelm::dev::ParseWin98SlotRecord(copy.get(), size, slot, id) && slot >= 4) __builtin_trap();
  return 0;
}
