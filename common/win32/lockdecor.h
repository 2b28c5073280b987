// The protected folder decoration: a system folder whose Desktop.ini points
// at the lock icon of its level. Shared by KelmCfg (private files dialog,
// user deletion) and the shell extension. Icons and template live in the
// Windows directory: lockfld1.ico, lockfld2.ico, lockcfg.ini.
#pragma once
#include <windows.h>

namespace kelm::win {

// Sets key = value in section of file like WritePrivateProfileStringA, but
// rewrites the whole file itself (common/profiletext.h); a missing file is
// created. 1 after rewriting, 0 when the file cannot be created, opened,
// read or written whole, or is larger than kMaxProfileFile (left as it was).
int MyWritePrivateProfileString(const char* section, const char* key, const char* value, const char* file);

inline constexpr DWORD kMaxProfileFile = 1u << 20;

// Decorates folder with the icon of level (1, anything else: 2): the folder
// becomes a system folder, its Desktop.ini (copied from the template when
// missing) gets the five decorated values and normal attributes. 1 when the
// five values were written, 0 when a step failed (missing icon or template
// included).
int ShowLockStatus(const char* folder, int level);

// Writes the five neutral values into path's Desktop.ini after clearing the
// read-only, hidden and system attributes of path and normal attributes on
// the Desktop.ini, which stays. 1 when the five values were written, 0 when
// there is no Desktop.ini or a step failed.
int ClearLockStatus(const char* path);

// Told after each piece written (bytes so far, file size); answering false
// stops the copy there.
using CopyProgressFn = bool (*)(void* context, ULONGLONG done, ULONGLONG total);

// Copies file from to file to (replaced), after checking that the drive of
// `to` (its first three characters) has the KB of the file free; when it
// has not, or the free space cannot be read, shows "cfgdlg_set3" ("Disk
// Space is not enough", caption "Warning") over owner and fails, leaving an
// empty `to`. The file goes through one bounded piece at a time, so memory
// does not grow with its size. A copy stopped by progress removes the
// partly written `to`. 1 when the whole file was read and written, else 0.
int MyCopyFile(const char* from, const char* to, HWND owner = nullptr, CopyProgressFn progress = nullptr,
               void* context = nullptr);

// The piece MyCopyFile reads and writes at a time.
inline constexpr DWORD kCopyPiece = 256 * 1024;

}  // namespace kelm::win
