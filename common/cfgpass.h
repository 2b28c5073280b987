// The two records of the configuration password: the 20-byte stamp file and
// the 20-byte "CFGPASS" registry record, and the checks made on them. Pure
// logic; the Win32 side (files, registry, dialogs) is common/win32/cfgpassword.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kelm {

constexpr std::size_t kCfgRecordSize = 20;     // both records
constexpr std::size_t kCfgPassMax = 8;         // characters of a password that count
constexpr std::size_t kCfgEntryRead = 9;       // characters read from an entry field
constexpr std::size_t kCfgRegReadMax = 30;     // bytes of "CFGPASS" accepted when reading
constexpr std::size_t kCfgRegBuffer = 100;     // zeroed buffer it is read into

// "%04d%02d%02d" of a local date into out (9 bytes with the zero); false
// when the date does not fit 8 digits.
bool FormatDateStamp(int year, int month, int day, char out[9]);

// Copies at most 8 characters of entry into out (9 bytes, zero-terminated);
// returns the length.
std::size_t CutPassword(const char* entry, char out[kCfgPassMax + 1]);

// Stamp file contents: the 8 date characters, then zeros.
void BuildStampRecord(const char* dateStamp, std::uint8_t out[kCfgRecordSize]);

// Registry record: date stamp, password (cut to 8), zero, zeros; the first
// two blocks enciphered with keyText. False when the key is refused (out then
// holds the record unenciphered).
bool BuildCfgPassRecord(const char* dateStamp, const char* password, const char* keyText,
                        std::uint8_t out[kCfgRecordSize]);

// Checks of the two entries of the set dialog, in the order they are made.
enum class NewPasswordCheck {
  Ok,
  Empty,     // either entry empty ("cfgdlg_msg12")
  Mismatch,  // entries differ, letter case included ("cfgdlg_msg13")
  WeakKey,   // the prepared key is refused ("cfgdlg_msgweakkey")
};
// Both entries as read from the fields; each is cut to 8 characters first.
NewPasswordCheck CheckNewPassword(const char* first, const char* second);

// The date text of a stamp file: fileData (up to 20 bytes read from the
// file) laid over 19 non-zero fillers and a zero, up to the first zero, into
// out (21 bytes). False when the 20 bytes hold no zero (such a file cannot
// match).
bool StampDateText(const std::uint8_t* fileData, std::size_t fileLen, char out[kCfgRecordSize + 1]);

// Steps after deciphering: record (the deciphered registry buffer of
// recordCap bytes, zeroed beyond what was read) begins with the date text and
// continues with the typed password (cut to 8) and its terminating zero.
bool CfgPassMatches(const std::uint8_t* record, std::size_t recordCap, const char* dateText,
                    const char* typed);

}  // namespace kelm
