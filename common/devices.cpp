#include "common/devices.h"

#include <cstring>

namespace kelm::dev {

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr std::string_view kNtPrefix = "\\??\\";

}  // namespace

std::array<char, 7> VolumeName(char letter) {
  return {'\\', '\\', '.', '\\', letter, ':', '\0'};
}

OpenFileInfoError BuildOpenFileInfo(bool readOnly, std::string_view password, std::uint32_t sizeMb,
                                    std::string_view imagePath, OpenFileInfo& out) {
  // The record keeps only the low 32 bits of the byte count; refuse what
  // would wrap there instead of attaching a much smaller disk.
  if (sizeMb >= 4096u) return OpenFileInfoError::SizeTooLarge;
  const std::size_t nameLen = kNtPrefix.size() + imagePath.size();
  if (nameLen > 0xFFFFu) return OpenFileInfoError::PathTooLong;

  out.bytes.assign(imagePath.size() + 36, 0);
  std::uint8_t* r = out.bytes.data();
  r[4] = readOnly ? 1 : 0;
  const std::size_t passLen = password.size() < kMaxRecordPassword ? password.size() : kMaxRecordPassword;
  std::memcpy(r + kOpenFileInfoPasswordOffset, password.data(), passLen);
  StoreLe32(r + kOpenFileInfoSizeOffset, sizeMb * 1048576u);  // high half stays 0
  StoreLe16(r + kOpenFileInfoLengthOffset, static_cast<std::uint16_t>(nameLen));
  std::memcpy(r + kOpenFileInfoNameOffset, kNtPrefix.data(), kNtPrefix.size());
  if (!imagePath.empty())
    std::memcpy(r + kOpenFileInfoNameOffset + kNtPrefix.size(), imagePath.data(), imagePath.size());
  out.passLength = static_cast<std::uint32_t>(nameLen + 31);
  return OpenFileInfoError::None;
}

std::array<std::uint8_t, 2> CreateLinkRecord(char letter, unsigned slot) {
  return {static_cast<std::uint8_t>(UpperAscii(letter)), static_cast<std::uint8_t>('0' + (slot & 3u))};
}

std::array<std::uint8_t, 2> RemoveLinkRecord(char letter, char second) {
  return {static_cast<std::uint8_t>(UpperAscii(letter)), static_cast<std::uint8_t>(second)};
}

std::array<std::uint8_t, kWin98RecordSize> Win98UserRecord(std::uint32_t userId) {
  std::array<std::uint8_t, kWin98RecordSize> r{};
  StoreLe32(r.data(), userId);
  const DecimalText t = FormatDecimal(userId);
  std::memcpy(r.data() + kWin98UserTextOffset, t.text, t.length);
  return r;
}

bool Win98SlotRecord(unsigned slot, std::uint32_t userId, std::array<std::uint8_t, kWin98RecordSize>& out) {
  if (slot >= kSlotCount) return false;
  out.fill(0);
  out[0] = static_cast<std::uint8_t>(slot);
  StoreLe32(out.data() + 1, userId);
  return true;
}

DecimalText FormatDecimal(std::uint32_t value) {
  char rev[10];
  int n = 0;
  do {
    rev[n++] = static_cast<char>('0' + value % 10u);
    value /= 10u;
  } while (value != 0);
  DecimalText t{};
  for (int i = 0; i < n; ++i) t.text[i] = rev[n - 1 - i];
  t.text[n] = '\0';
  t.length = static_cast<std::uint8_t>(n);
  return t;
}

}  // namespace kelm::dev
