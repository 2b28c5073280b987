// ConfigDialog ("Umbrel Hard Disk"): users, their four disk slots and the
// key-loss delay. Modal, without owner; left only through Close.
#pragma once
#include <windows.h>

namespace kelm::cfg {

// Runs the dialog; its result is not used by the tray program.
INT_PTR ConfigDialog();

}  // namespace kelm::cfg
