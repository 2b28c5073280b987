// KelmCtl: on Windows 98, what the mount service does elsewhere.
#include "ctl98/program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return kelm::ctl::RunProgram(instance); }
