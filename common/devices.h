// Requests and records of the outside kernel components: the virtual disk
// driver (Windows 2000/XP and Windows 98 forms), the file-monitor driver and
// the RF key receiver. Pure: the byte layouts are built here explicitly, the
// Win32 calls that carry them live in common/win32.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/devrecords.h"

namespace kelm::dev {

// Virtual disk driver, Windows 2000/XP (METHOD_BUFFERED).
inline constexpr std::uint32_t IOCTL_CREATE_SYM_LINK = 0x8000e00c;
inline constexpr std::uint32_t IOCTL_FILE_DISK_OPEN_FILE = 0x8000e000;
inline constexpr std::uint32_t kIoctlRemoveLink = 0x8000e014;
inline constexpr std::uint32_t kIoctlCloseAll = 0x8000e018;
inline constexpr std::uint32_t kIoctlStartup = 0x8000e020;
inline constexpr std::uint8_t kStartupByte = 'X';

// Volume requests before a disk is taken away, in this order.
inline constexpr std::uint32_t kFsctlLockVolume = 0x90018;
inline constexpr std::uint32_t kFsctlDismountVolume = 0x90020;
inline constexpr std::uint32_t kFsctlUnlockVolume = 0x9001c;

// Virtual disk driver, Windows 98.
inline constexpr std::uint32_t kIoctl98Check = 0x22001f;
inline constexpr std::uint32_t kIoctl98SetUser = 0x220013;
inline constexpr std::uint32_t kIoctl98MountSlot = 0x220007;
inline constexpr std::uint32_t kIoctl98LetterQuery = 0x22001b;
inline constexpr std::uint32_t kIoctl98DismountSlot = 0x22000b;
inline constexpr std::uint32_t kIoctl98DismountAll = 0x220017;

// RF key receiver.
inline constexpr std::uint32_t kIoctlReadKey = 0x220008;
inline constexpr std::uint32_t kKeyNone = 0;
inline constexpr std::uint32_t kKeyNoReading = 0xFFFFFFFFu;

// File-monitor driver.
inline constexpr std::uint32_t kIoctlMonitorSetUser = 0x83000228;
inline constexpr std::uint32_t kIoctlMonitorApply = 0x83000214;
inline constexpr std::uint32_t kIoctlMonitorConfiguring = 0x8300022c;

// Device and object names.
inline constexpr const char* kControlDevice = "\\\\.\\kelmgui";
inline constexpr const char* kDiskDeviceFormat = "\\Device\\kelm\\Kelm%u";
inline constexpr const char* kWin98Device = "\\\\.\\kelm";
inline constexpr const char* kMonitorDeviceFormat = "\\\\.\\%s";
inline constexpr const char* kMonitorDeviceName = "keskmon";
inline constexpr const char* kMonitorServiceName = "kelmmon";
inline constexpr const char* kWin98MonitorDevice = "\\\\.\\kelmmon.vxd";
inline constexpr const char* kMonitorOpenFailText =
    "Open the file system service fail. please wait a moment and try again.";
inline constexpr const char* kMonitorOpenFailCaption = "Information";

inline constexpr unsigned kSlotCount = 4;
inline constexpr std::size_t kMaxRecordPassword = 9;

// The volume name "\\.\X:" of a drive letter.
std::array<char, 7> VolumeName(char letter);

// A built OpenFileInfo record: `bytes` is allocated with the path length
// plus 36 bytes; `passLength` (FileNameLength + 31) is what is sent.
struct OpenFileInfo {
  std::vector<std::uint8_t> bytes;
  std::uint32_t passLength = 0;
};

enum class OpenFileInfoError {
  None,
  SizeTooLarge,  // size in MB * 1048576 does not fit in 32 bits (4096 MB and up)
  PathTooLong,   // "\??\" + path does not fit the 16-bit FileNameLength
};

// Builds the record for an image: read-only flag, the slot password (cut to
// 9 characters), the size in MB and the image path. A size whose byte count
// would not fit in the record's low 32 bits is refused, never wrapped.
OpenFileInfoError BuildOpenFileInfo(bool readOnly, std::string_view password, std::uint32_t sizeMb,
                                    std::string_view imagePath, OpenFileInfo& out);

// The 2-byte link records: IOCTL_CREATE_SYM_LINK (letter, slot digit) and the
// link removal (letter, slot digit or '0'). The letter is sent upper case.
std::array<std::uint8_t, 2> CreateLinkRecord(char letter, unsigned slot);
std::array<std::uint8_t, 2> RemoveLinkRecord(char letter, char second);
inline constexpr char kRemoveLinkDismount = '0';

// Windows 98 records of 100 bytes. Slot records refuse a slot of 4 or more.
std::array<std::uint8_t, kWin98RecordSize> Win98UserRecord(std::uint32_t userId);
bool Win98SlotRecord(unsigned slot, std::uint32_t userId, std::array<std::uint8_t, kWin98RecordSize>& out);

// Decimal text of a number without sign or leading zeros ("0" for 0); the
// file-monitor user request carries it without terminating zero.
struct DecimalText {
  char text[11];
  std::uint8_t length;
  std::string_view view() const { return {text, length}; }
};
DecimalText FormatDecimal(std::uint32_t value);

// The file-monitor "configuring" text, sent without terminating zero.
inline std::string_view MonitorConfiguringText(bool configuring) { return configuring ? "yes" : "no"; }

}  // namespace kelm::dev
