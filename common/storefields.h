// Field codecs and limits of the disk configuration store (registry tree
// HKLM "SOFTWARE\kelm"). Pure: the registry calls live in
// common/win32/diskstore.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelm::store {

inline constexpr const char* kSoftwareKey = "SOFTWARE";
inline constexpr const char* kRootKey = "SOFTWARE\\kelm";
inline constexpr const char* kBuildinKey = "SOFTWARE\\keskbuildin";
inline constexpr const char* kProtectionKey = "Software\\kesk";
inline constexpr const char* kLockFileSection = "lockfilechk";

// Key text of the stored passwords.
inline constexpr const char* kPasswordKeyText = "QUENTOR";

inline constexpr std::size_t kTextReadLimit = 150;  // bytes, terminator included
inline constexpr std::size_t kMaxImagePath = kTextReadLimit - 1;
inline constexpr int kMaxUsers = 50;
inline constexpr unsigned kSlotCount = 4;
inline constexpr std::size_t kUserNameBuffer = 1000;
inline constexpr std::size_t kSlotPassField = 20;
inline constexpr std::size_t kMaxSlotPassword = 9;
inline constexpr std::size_t kLoginPassField = 24;
inline constexpr std::size_t kLoginPassReadLimit = 100;
inline constexpr std::uint32_t kDiskNum = 4;
inline constexpr const char* kDefaultDelay = "15";

// The configuration dialog's message when a slot's path is refused.
inline constexpr const char* kPathTooLongKey = "cfgdlg_msgpathlen";
inline constexpr const char* kPathTooLongText =
    "The image file path is too long, at most 149 characters are allowed.";
inline constexpr const char* kPathTooLongCaption = "Error";

enum InstallType : int {
  kInstallUnknown = 0,
  kInstallSoftware = 1,
  kInstallRfKey = 2,
  kInstallRfBand2 = 3,
};

// "SOFTWARE" 1, "RFKEY" 2, "RFBAND2" 3 (any case), anything else 0.
int InstallTypeFromText(std::string_view text);

// Flag texts: "yes" in any case is yes, anything else is no.
bool IsYes(std::string_view text);
inline const char* YesNo(bool yes) { return yes ? "yes" : "no"; }

// Key-loss delay in seconds: the text's decimal value, "15" when empty.
std::uint32_t DelaySeconds(std::string_view text);

// Slot value name: base followed by the slot index ("Valid" + 2 ->
// "Valid2"). The name is cut to fit 31 characters.
struct ValueName {
  char text[32];
};
ValueName SlotValueName(const char* base, unsigned index);

// "pass%u": 20 bytes. An empty password is 20 zero bytes; otherwise the text
// (at most 9 characters), its terminator and zero padding, with the first
// 16 bytes enciphered. False (field zeroed) when the text is longer than 9
// characters or the cipher refuses the key.
bool EncodeSlotPassword(std::string_view password, std::uint8_t (&field)[kSlotPassField]);

// Reads a "pass%u" value of len bytes (only the first 20 count; 0 means the
// read failed). No password when len is 0 or the first 8 bytes are zero;
// otherwise the first 16 bytes are deciphered and the text ends at the first
// zero byte (at the latest after 19 bytes). out is always terminated.
void DecodeSlotPassword(const std::uint8_t* value, std::size_t len, char (&out)[kSlotPassField]);

// "PAS": the login password zero-padded to 24 bytes, all three blocks
// enciphered. False (field zeroed) when the text does not fit with its
// terminator or the cipher refuses the key.
bool EncodeLoginPassword(std::string_view password, std::uint8_t (&field)[kLoginPassField]);

// Reads a "PAS" value of len bytes (at most 100 count): the first 24 bytes
// deciphered, the text ended at len and at its first zero byte, then cut to
// fit out (capacity cap, at least 1).
void DecodeLoginPassword(const std::uint8_t* value, std::size_t len, char* out, std::size_t cap);

// The file name entered in an ImageProtectionList: the text after the last
// backslash that is not the first character; the whole path when there is
// no such backslash or the path ends with it.
std::string_view ImageFileName(std::string_view path);

// One slot as the readers load it (every field empty when unreadable).
struct StoredSlot {
  char valid[20];
  char imageFile[kTextReadLimit];
  std::uint32_t sizeMb;
  char autoMount[20];
  char readOnly[20];
  char password[kSlotPassField];  // plain, zero-terminated
};

struct StoredUser {
  char delay[kTextReadLimit];  // as stored; empty when missing
  StoredSlot slots[kSlotCount];
};

// KelmCfg's table of software-mode users and their login passwords.
struct UserPasswordTable {
  static constexpr int kEntries = kMaxUsers;
  static constexpr std::size_t kTextSize = 30;
  struct Entry {
    char userId[kTextSize];
    char password[kTextSize];
  };
  Entry entries[kEntries];

  void Clear();
  // The entry whose UserId equals userId without regard to case, or null.
  const Entry* Find(std::string_view userId) const;
  // Replaces the password of userId's entry, or fills the first empty
  // entry; false when the table is full. Texts are cut to 29 characters.
  bool Put(std::string_view userId, std::string_view password);
  // Removes userId's entry: later entries move up, the last is cleared.
  bool Remove(std::string_view userId);
};

}  // namespace kelm::store
