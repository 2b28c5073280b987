// KelmCtl, the Windows 98 control program.
#pragma once
#include <windows.h>

namespace kelm::ctl {

// Start-up, the hidden window's message loop and the end; the exit code.
int RunProgram(HINSTANCE instance);

}  // namespace kelm::ctl
