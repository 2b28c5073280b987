#include "cfg/logindialog.h"

#include <cstring>

#include "cfg/logic/login.h"
#include "common/storefields.h"
#include "common/textutil.h"
#include "common/win32/diskstore.h"
#include "common/win32/language.h"
#include "kelmcfg.h"

namespace kelm::cfg {

namespace {

struct DialogTexts {
  const char* key;
  const char* builtin;
};

// Caption, instruction, id label, password label, hint, OK, Cancel.
constexpr int kTextCount = 7;
constexpr int kTextControls[kTextCount] = {0,           IDC_LOGIN_TEXT, IDC_LOGIN_IDLABEL, IDC_LOGIN_PASSLABEL,
                                           IDC_LOGIN_HINT, IDOK,          IDCANCEL};
constexpr DialogTexts kExisting[kTextCount] = {
    {"existtitle", "Kelm Mount/Umount Control"}, {"existtext", "Please input your UserID and password:"},
    {"existserid", "User ID:"},                  {"existserpass", "Password:"},
    {"existnumeric", "numeric"},                 {"existok", "Ok"},
    {"existcancel", "Cance;"}};
constexpr DialogTexts kNewUser[kTextCount] = {
    {"newusertitle", "Add New User"}, {"newtext", "Please input the new UserID and password:"},
    {"newuserid", "User ID:"},        {"newuserpass", "Password:"},
    {"newnumeric", "numeric"},        {"newok", "Ok"},
    {"newcancel", "Cance;"}};

struct State {
  LoginMode mode;
  LoginFieldsText* fields;
  void (*onCreated)(HWND);
};

void Prompt(HWND dlg, const char* key, const char* builtin, const char* caption, UINT icon) {
  char text[256];
  win::LanguageLookup(key, builtin, text, sizeof text);
  MessageBoxA(dlg, text, caption, MB_OK | icon);
}

bool OnOk(HWND dlg, LoginFieldsText& f) {
  f = LoginFieldsText{};
  GetDlgItemTextA(dlg, IDC_LOGIN_ID, f.userId, static_cast<int>(kLoginFieldChars + 1));
  GetDlgItemTextA(dlg, IDC_LOGIN_PASS, f.password, static_cast<int>(kLoginFieldChars + 1));
  switch (CheckLoginFields(f.userId, f.password)) {
    case LoginFields::Missing:
      Prompt(dlg, "inputpassandid", "Please input the userid and password!", "Prompt", MB_ICONINFORMATION);
      return false;
    case LoginFields::LeadingZero:
      Prompt(dlg, "iderror", "First char of userid should not be zero!", "Prompt", MB_ICONINFORMATION);
      return false;
    case LoginFields::TooLong:
      Prompt(dlg, "lenerror", "The MAX length of UserId is 4 character.", "Prompt", MB_ICONINFORMATION);
      return false;
    case LoginFields::Ok:
      break;
  }
  return true;
}

INT_PTR CALLBACK LoginProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* st = reinterpret_cast<State*>(GetWindowLongPtrA(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      st = reinterpret_cast<State*>(lp);
      SetWindowLongPtrA(dlg, DWLP_USER, lp);
      if (st->fields->userId[0]) SetDlgItemTextA(dlg, IDC_LOGIN_ID, st->fields->userId);
      if (st->fields->password[0]) SetDlgItemTextA(dlg, IDC_LOGIN_PASS, st->fields->password);
      const DialogTexts* texts = st->mode == LoginMode::NewUser ? kNewUser : kExisting;
      for (int i = 0; i < kTextCount; ++i) {
        char text[256];
        win::LanguageLookup(texts[i].key, texts[i].builtin, text, sizeof text);
        if (kTextControls[i] == 0)
          SetWindowTextA(dlg, text);
        else
          SetDlgItemTextA(dlg, kTextControls[i], text);
      }
      SendDlgItemMessageA(dlg, IDC_LOGIN_ID, EM_LIMITTEXT, 99, 0);
      SendDlgItemMessageA(dlg, IDC_LOGIN_PASS, EM_LIMITTEXT, 99, 0);
      // Asked for from another program's window (F12): come to the front.
      SetForegroundWindow(dlg);
      if (st->onCreated) st->onCreated(dlg);
      return TRUE;
    }
    case WM_COMMAND:
      if (!st) break;
      if (LOWORD(wp) == IDOK) {
        if (OnOk(dlg, *st->fields)) EndDialog(dlg, 1);
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        EndDialog(dlg, 0);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

INT_PTR LoginDialog(HWND owner, LoginMode mode, LoginFieldsText& fields, void (*onCreated)(HWND)) {
  State st{mode, &fields, onCreated};
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_LOGIN), owner, LoginProc,
                         reinterpret_cast<LPARAM>(&st));
}

bool CheckLoginPassword(const char* userId, const char* password) {
  if (win::ReadInstallType() != store::kInstallSoftware) return false;
  std::uint8_t pas[store::kLoginPassReadLimit] = {};
  DWORD len = 0;
  if (win::GetValue(userId, "PAS", pas, &len, sizeof pas) != ERROR_SUCCESS) return false;
  return LoginPasswordMatches(pas, len, password);
}

}  // namespace kelm::cfg
