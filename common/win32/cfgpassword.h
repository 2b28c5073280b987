// The configuration password on Windows: the stamp file in the system
// directory, the "CFGPASS" record under HKLM\SOFTWARE\kelm, and the two modal
// dialogs that set and check it. The dialog templates live in
// resources/passdlg.rc, which each program that shows them compiles in.
#pragma once
#include <windows.h>

#include <cstddef>

namespace kelm::win {

// Which program's copy of the set dialog runs: they differ only in the end
// code after a successful save.
enum class PasswordDialogFlavour {
  KelmCfg,  // ends with 0 after a save
  Setup,    // ends with 111 after a save
};

constexpr INT_PTR kPasswordVerified = 111;

// ConfigPasswordDialog (caption "Sets a password"), modal over owner (may be
// null). Returns 0 on Cancel, 0 (KelmCfg) or 111 (setup) after a save, -1
// when the dialog cannot be created.
INT_PTR ConfigPasswordDialog(HWND owner, PasswordDialogFlavour flavour);

// AskPasswordDialog (caption "Please Input your password"), modal over owner.
// Returns 111 when the password was verified, 0 on Cancel or when the stamp
// file is missing, -1 when the dialog cannot be created.
INT_PTR AskPasswordDialog(HWND owner);

// Path of the stamp file: <system dir>\syswin.cfg.dat, or with ".dat"
// appended once more for the fallback name. False when it does not fit cap.
bool StampFilePath(bool fallback, char* dst, std::size_t cap);

enum class SavePasswordResult { Ok, StampFileError, RegistryError, RefusedKey };
// Writes both records for password (cut to 8 characters) with today's local
// date. Refuses passwords whose key is refused; when the registry record
// cannot be written the previous stamp file is put back.
SavePasswordResult SaveConfigPassword(const char* password);

enum class CheckPasswordResult { Verified, Invalid, NoStampFile };
// The check of AskPasswordDialog on an entry (cut to 8 characters).
CheckPasswordResult CheckConfigPassword(const char* entry);

}  // namespace kelm::win
