// The protection list store, HKLM "Software\kesk\<UserId>" ("lockfile",
// "fileNum", "filelevel%u", "filename%u", all REG_SZ) with the WIN.INI
// switch "lockfilechk" / UserId: KelmCfg's side (private files dialog, user
// deletion). Keys are opened for each operation and closed after it.
#pragma once
#include <windows.h>

#include <cstddef>
#include <vector>

#include "common/protection.h"

namespace kelm::win {

// "Software\kesk\" + userId into out (capacity cap). False (out empty) for
// a null or empty userId, one holding a backslash, or one too long: no
// operation may reach the tree's root or another user's key.
bool ProtectionKeyPath(const char* userId, char* out, std::size_t cap);

// Reads a value into buffer (zeroed over size + 1 bytes first; at most size
// bytes are read, so the text always ends within buffer). Any value type is
// accepted. Registry error, else 0.
LONG ReadProtectionValue(HKEY key, const char* name, char* buffer, std::size_t size);

// The user's list as the private files dialog reads it: "fileNum" (100-byte
// buffer, at most 511 entries), then for each index below it "filelevel%u"
// and "filename%u" (499-byte buffers each); an entry whose level or name
// cannot be read is left out. False, and the list empty, when the key or
// "fileNum" cannot be read.
bool ReadProtectionList(const char* userId, std::vector<protect::Entry>& out);

// Stores entries (see protect::RewriteEntries) as the user's list from
// index 0, then "fileNum" = their number; values past it stay as they
// were. The key is opened, never created. False when it cannot be opened
// for writing (nothing written) or a write fails (the writes stop there).
bool WriteProtectionList(const char* userId, const std::vector<protect::Entry>& entries);

// WIN.INI "lockfilechk" / userId read as a number (default 0) is 1.
bool PrivateFilesChecked(const char* userId);

// The permission to set private files. Creates (or opens) the user's key;
// on: WIN.INI "1", "lockfile" = "yes"; off: WIN.INI "0", the decoration of
// every stored folder removed, "fileNum" = "0", "lockfile" = "no" (the
// entries stay past the count). False when the key cannot be created, and
// then nothing is written, or when a write fails.
bool SetPrivateFiles(const char* userId, bool enabled);

// ClearLockStatus on every stored entry (as ReadProtectionList reads them)
// that is an existing folder.
void ClearListDecorations(const char* userId);

// ShowLockStatus on every stored entry that is an existing folder, each
// with the icon of its own level.
void RestoreListDecorations(const char* userId);

// DeleteUserStore's callback (diskstore.h): ClearListDecorations(userId).
void RemoveProtectionDecorations(const char* userId, void* context);

}  // namespace kelm::win
