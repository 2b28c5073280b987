// The disk configuration store under HKLM "SOFTWARE\kelm": KelmCfg's
// writer operations and the readers of the mount service and KelmCtl.
// Keys are opened for each operation and closed after it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/storefields.h"

namespace kelm::win {

// --- KelmCfg's operations. userId may be empty (or null) for the root key.

// Opens the root for reading, creating "kelm" under "SOFTWARE" when that
// fails. True when the key exists afterwards.
bool EnsureRoot();

// Creates (or opens) the user's key under the root. Registry error, else 0.
LONG EnsureUser(const char* userId);

// Write REG_SZ (length plus terminator), REG_DWORD or REG_BINARY into the
// user's key (opened with read, create-subkey and set-value access). Result:
// the open error (nothing written) or the write's error, else 0.
LONG SetText(const char* userId, const char* name, const char* text);
LONG SetNumber(const char* userId, const char* name, std::uint32_t value);
LONG SetBytes(const char* userId, const char* name, const void* bytes, DWORD length);

// Reads a value into buffer of `limit` bytes; *length (when given) receives
// the bytes read, 0 on failure. Registry error, else 0 (a value larger than
// limit fails with ERROR_MORE_DATA).
LONG GetValue(const char* userId, const char* name, void* buffer, DWORD* length,
              DWORD limit = static_cast<DWORD>(store::kTextReadLimit));

// A text value read with the 150-byte limit into dst (capacity cap), always
// terminated and cut to fit; empty on failure.
LONG GetText(const char* userId, const char* name, char* dst, std::size_t cap);

// A 4-byte number; 0 on failure.
LONG GetNumber(const char* userId, const char* name, std::uint32_t& value);

// "logicdriver" in the root: the logical-drive mask of the moment with
// bits 0 and 1 cleared, as decimal text. Registry error, else 0.
LONG StoreLogicDriver();

// "INSTALLTYPE" of the root mapped to store::InstallType.
int ReadInstallType();

// The root's subkey names, enumeration index 0 upward until the
// enumeration fails or 50 names are taken.
std::vector<std::string> ListUsers();

// Deletes the user's key (root opened with all access). Error, else 0.
LONG DeleteUser(const char* userId);

// One slot as the configuration dialog saves it.
struct SlotSettings {
  bool valid = false;
  std::string_view imagePath;
  std::uint32_t sizeMb = 0;
  bool autoMount = false;
  bool readOnly = false;
  std::string_view password;
};

enum class SaveSlotResult {
  Saved,
  BadSlot,          // slot not below 4, or empty UserId
  PathTooLong,      // 150 characters or more: could never be read back
  PasswordTooLong,  // more than 9 characters: does not fit "pass%u"
  NoStore,          // the root key can neither be opened nor created
};

// Saves slot `slot` of userId: root and user key, "delay" (delayText, "15"
// when empty), "PAS" when passwords holds the user (software mode; pass
// null otherwise), "DiskNum" = 4, the six values of the slot, then the
// user's ImageProtectionList. A refused path or password writes nothing at
// all. The single writes' results are not checked.
SaveSlotResult SaveSlot(const char* userId, unsigned slot, const SlotSettings& settings,
                        const char* delayText, const store::UserPasswordTable* passwords);

// Rebuilds HKLM "SOFTWARE\keskbuildin\<userId>" from the user's image
// paths. False when the user's list key cannot be created.
bool RebuildImageProtectionList(const char* userId);

// The configuration dialog's user list. Software mode: only users whose
// "PAS" reads with a length above 0 are listed, and each enters `passwords`
// (cleared first) with its deciphered password, in listing order. Other
// modes: every subkey is listed and `passwords` is left alone.
std::vector<std::string> ListUsersWithPasswords(bool softwareMode, store::UserPasswordTable& passwords);

// Called between the registry deletions and the WIN.INI entry so that the
// lock decoration of the user's protected folders can be removed while the
// protection list still exists.
using RemoveDecorationFn = void (*)(const char* userId, void* context);

// Deletes a user's store side: the user key (on failure stop and return
// its error), the ImageProtectionList key, the decoration (callback, may
// be null), WIN.INI "lockfilechk" userId = "0", and the protection list key
// "Software\kesk\<userId>". 0 when the user key was deleted.
LONG DeleteUserStore(const char* userId, RemoveDecorationFn removeDecoration, void* context);

// --- Readers (mount service, KelmCtl).

// UserIds of the subkeys of the root (names converted with the decimal
// conversion), enumeration index 0 upward, at most capacity (50) entries
// written from index 0. Returns the count written.
int ReadUserIds(std::uint32_t* ids, int capacity);

// Loads the configuration of user "%u": every field is cleared first; a
// value that cannot be read stays empty. withPasswords: decipher "pass%u"
// (KelmCtl has no use for them). False when the user key cannot be opened.
bool ReadUserConfig(std::uint32_t userId, store::StoredUser& out, bool withPasswords = true);

}  // namespace kelm::win
