// bareloop: the baseline of the tray program's idle cost, a hidden window
// and an empty message loop (Windows only, benchmark equipment).
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.lpszClassName = "KelmBareLoop";
  if (!RegisterClassA(&wc)) return 1;
  if (!CreateWindowA(wc.lpszClassName, "bareloop", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, instance,
                     nullptr))
    return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
