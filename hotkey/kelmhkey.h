// kelmhkey.dll: the system-wide F12 hook of the tray program. While it is
// installed, every keyboard event of F12 in any application (press, release
// and auto-repeat) posts message 13410 to the window "Virtual Disk Manager".
//
// Both functions are __stdcall and exported under their plain names (no @N),
// also in the i686 build; link with the import library libkelmhkey.dll.a.
#pragma once

#ifdef KELMHKEY_BUILD
#define KELMHKEY_API __declspec(dllexport)
#else
#define KELMHKEY_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Installs the hook. The arguments are ignored (the tray program passes its
// window, the message number and a key code; the library's own are fixed).
// Returns 1 when the hook was installed; 0 when this process has one already
// or the system refused it.
KELMHKEY_API int __stdcall HookHotKey(unsigned long window, unsigned long message, unsigned long key);

// Removes the hook this process installed: 1, or 0 when there was none.
KELMHKEY_API int __stdcall UnHookHotKey(void);

#ifdef __cplusplus
}
#endif
