// Readers of the records the suite sends to the outside drivers. Header-only
// and freestanding: no library calls, no allocation, no exceptions, so a
// kernel-mode stand-in can include it as well as the suite's own tests.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "common/byteorder.h"

namespace kelm::dev {

// OpenFileInfo: a 32-byte header whose FileName starts at offset 26.
inline constexpr size_t kOpenFileInfoHeader = 32;
inline constexpr size_t kOpenFileInfoNameOffset = 26;
inline constexpr size_t kOpenFileInfoPasswordOffset = 5;
inline constexpr size_t kOpenFileInfoPasswordField = 11;
inline constexpr size_t kOpenFileInfoSizeOffset = 16;
inline constexpr size_t kOpenFileInfoLengthOffset = 24;

// The Windows 98 driver's user and slot records.
inline constexpr size_t kWin98RecordSize = 100;
inline constexpr size_t kWin98UserTextOffset = 10;

// What a driver takes from an OpenFileInfo record. fileName points into the
// record; it is not zero-terminated within fileNameLength bytes.
struct OpenFileInfoFields {
  bool readOnly;
  char password[kOpenFileInfoPasswordField + 1];  // always zero-terminated
  uint64_t sizeBytes;
  uint16_t fileNameLength;
  const char* fileName;  // "\??\" + image path
  const char* imagePath; // fileName past "\??\" (or fileName when absent)
  uint16_t imagePathLength;
};

// Reads a record of len bytes (the length passed with the request). False
// when the record is shorter than its header plus FileNameLength, or when the
// name holds a zero byte before FileNameLength.
inline bool ParseOpenFileInfo(const uint8_t* data, size_t len, OpenFileInfoFields& out) {
  if (data == nullptr || len < kOpenFileInfoNameOffset) return false;
  const uint16_t nameLen =
      static_cast<uint16_t>(LoadLe16(data + kOpenFileInfoLengthOffset));
  if (len - kOpenFileInfoNameOffset < nameLen) return false;
  const uint8_t* name = data + kOpenFileInfoNameOffset;
  for (size_t i = 0; i < nameLen; ++i)
    if (name[i] == 0) return false;

  out.readOnly = data[4] != 0;
  size_t p = 0;
  for (; p < kOpenFileInfoPasswordField && data[kOpenFileInfoPasswordOffset + p] != 0; ++p)
    out.password[p] = static_cast<char>(data[kOpenFileInfoPasswordOffset + p]);
  for (; p <= kOpenFileInfoPasswordField; ++p) out.password[p] = '\0';
  out.sizeBytes = static_cast<uint64_t>(LoadLe32(data + kOpenFileInfoSizeOffset)) |
                  static_cast<uint64_t>(LoadLe32(data + kOpenFileInfoSizeOffset + 4)) << 32;
  out.fileNameLength = nameLen;
  out.fileName = reinterpret_cast<const char*>(name);
  const bool prefixed = nameLen >= 4 && name[0] == '\\' && name[1] == '?' && name[2] == '?' && name[3] == '\\';
  out.imagePath = out.fileName + (prefixed ? 4 : 0);
  out.imagePathLength = static_cast<uint16_t>(nameLen - (prefixed ? 4 : 0));
  return true;
}

// Set-user record (0x220013): UserId at offset 0. False when shorter than
// the four bytes of the number.
inline bool ParseWin98UserRecord(const uint8_t* data, size_t len, uint32_t& userId) {
  if (data == nullptr || len < 4) return false;
  userId = LoadLe32(data);
  return true;
}

// Mount/dismount record (0x220007, 0x22000b): slot at 0, UserId at 1. False
// when shorter than five bytes or when the slot is not below 4.
inline bool ParseWin98SlotRecord(const uint8_t* data, size_t len, uint8_t& slot, uint32_t& userId) {
  if (data == nullptr || len < 5 || data[0] >= 4) return false;
  slot = data[0];
  userId = LoadLe32(data + 1);
  return true;
}

}  // namespace kelm::dev
