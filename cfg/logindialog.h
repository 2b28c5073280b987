// LoginDialog: user id and password, for the log-in of an existing user
// (mode 0) or for a new user of the configuration dialog (mode 1).
#pragma once
#include <windows.h>

#include <cstddef>

namespace kelm::cfg {

enum class LoginMode { Existing = 0, NewUser = 1 };

struct LoginFieldsText {
  char userId[100] = {};    // in: shown at start when not empty; out: as typed
  char password[100] = {};  // in: shown at start when not empty; out: as typed
};

// Runs the dialog modally over owner. 1: OK with a valid id and a
// password in fields; 0: Cancel (fields cleared); -1: not created.
// onCreated (may be null) receives the dialog window once it exists.
INT_PTR LoginDialog(HWND owner, LoginMode mode, LoginFieldsText& fields, void (*onCreated)(HWND) = nullptr);

// The log-in check of a typed id and password against the store: true
// when the user's "PAS" deciphers to the password, ignoring case.
bool CheckLoginPassword(const char* userId, const char* password);

}  // namespace kelm::cfg
