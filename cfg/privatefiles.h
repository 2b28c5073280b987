// PrivateFilesDialog: one user's private files and folders (the protection
// list under HKLM "Software\kesk\<UserId>"), Cancel Protect for one entry,
// and the user's permission to set private files. Opened by the
// configuration dialog's Private Files button.
#pragma once
#include <windows.h>

namespace kelm::cfg {

// Modal over owner; needs resources/privatefiles.rc in the program. Returns
// IDOK when Exit (or Escape, or the close box) ended it, -1 when the dialog
// could not be shown.
INT_PTR PrivateFilesDialog(HWND owner, const char* userId);

}  // namespace kelm::cfg
