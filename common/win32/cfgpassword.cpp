#include "common/win32/cfgpassword.h"

#include <cstdio>
#include <cstring>

#include "common/cfgpass.h"
#include "common/desvariant.h"
#include "common/win32/handles.h"
#include "common/win32/language.h"
#include "resources/passdlg.h"

namespace kelm::win {
namespace {

constexpr char kStoreKey[] = "SOFTWARE\\kelm";
constexpr char kCfgPassValue[] = "CFGPASS";
constexpr std::size_t kSysDirBuffer = 1000;
constexpr std::size_t kTextBuffer = 256;

struct StampFile {
  bool existed = false;
  std::uint8_t data[kCfgRecordSize] = {};
  DWORD len = 0;
};

UniqueHandle OpenStamp(bool write) {
  for (bool fallback : {false, true}) {
    char path[kSysDirBuffer + 32];
    if (!StampFilePath(fallback, path, sizeof path)) continue;
    UniqueHandle h(CreateFileA(path, write ? GENERIC_WRITE : GENERIC_READ, write ? 0 : FILE_SHARE_READ,
                               nullptr, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    if (h) return h;
  }
  return UniqueHandle();
}

bool ReadStamp(StampFile& f) {
  UniqueHandle h = OpenStamp(false);
  if (!h) return false;
  f.existed = true;
  return ReadFile(h.get(), f.data, sizeof f.data, &f.len, nullptr) != 0;
}

bool WriteStamp(const std::uint8_t* data, DWORD len) {
  UniqueHandle h = OpenStamp(true);
  if (!h) return false;
  DWORD written = 0;
  return WriteFile(h.get(), data, len, &written, nullptr) && written == len;
}

bool EnsureStoreKey() {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) return true;
  RegKey software;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_CREATE_SUB_KEY, software.put()) != ERROR_SUCCESS)
    return false;
  return RegCreateKeyExA(software.get(), "kelm", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr,
                         key.put(), nullptr) == ERROR_SUCCESS;
}

bool StoreRecord(const std::uint8_t* rec) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), kCfgPassValue, 0, REG_BINARY, rec, kCfgRecordSize) == ERROR_SUCCESS;
}

void Today(char stamp[9]) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FormatDateStamp(st.wYear, st.wMonth, st.wDay, stamp);
}

void SetText(HWND dlg, int id, const char* key, const char* builtin) {
  char text[kTextBuffer];
  LanguageLookup(key, builtin, text, sizeof text);
  SetDlgItemTextA(dlg, id, text);
}

void Message(HWND owner, const char* key, const char* builtin, const char* caption) {
  char text[kTextBuffer];
  if (key)
    LanguageLookup(key, builtin, text, sizeof text);
  else
    std::snprintf(text, sizeof text, "%s", builtin);
  MessageBoxA(owner, text, caption, MB_OK | MB_ICONWARNING);
}

// An entry field: at most 9 characters read, 8 of them kept.
void ReadEntry(HWND dlg, int id, char out[kCfgPassMax + 1]) {
  char raw[kCfgEntryRead + 1] = {};
  GetDlgItemTextA(dlg, id, raw, sizeof raw);
  CutPassword(raw, out);
  SecureZeroMemory(raw, sizeof raw);
}

// OK runs onOk (which ends the dialog or leaves it open); Cancel ends with 0.
INT_PTR OnCommand(HWND dlg, WPARAM wp, void (*onOk)(HWND)) {
  switch (LOWORD(wp)) {
    case IDOK:
      onOk(dlg);
      return TRUE;
    case IDCANCEL:
      EndDialog(dlg, 0);
      return TRUE;
  }
  return FALSE;
}

void OnSetOk(HWND dlg) {
  char first[kCfgPassMax + 1], second[kCfgPassMax + 1];
  ReadEntry(dlg, IDC_INPASS_EDIT1, first);
  ReadEntry(dlg, IDC_INPASS_EDIT2, second);
  const NewPasswordCheck check = CheckNewPassword(first, second);
  SecureZeroMemory(second, sizeof second);
  switch (check) {
    case NewPasswordCheck::Empty:
      Message(dlg, "cfgdlg_msg12", "Please input the configuration password,Please input twice.", "Error");
      break;
    case NewPasswordCheck::Mismatch:
      Message(dlg, "cfgdlg_msg13", "The configuration password are not same, Can not save.", "Error");
      break;
    case NewPasswordCheck::WeakKey:
      Message(dlg, "cfgdlg_msgweakkey", "This password can not be used, please choose another one.", "Error");
      break;
    case NewPasswordCheck::Ok: {
      const SavePasswordResult r = SaveConfigPassword(first);
      if (r != SavePasswordResult::Ok) {
        Message(dlg, nullptr, "Save password Error.", "Error");
        break;
      }
      const auto flavour = static_cast<PasswordDialogFlavour>(GetWindowLongPtrA(dlg, DWLP_USER));
      EndDialog(dlg, flavour == PasswordDialogFlavour::Setup ? kPasswordVerified : 0);
      break;
    }
  }
  SecureZeroMemory(first, sizeof first);
}

INT_PTR CALLBACK SetProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dlg, DWLP_USER, lp);
      SetText(dlg, IDC_INPASS_TEXT1, "m_inpasstext1", "Please input a password. Only the one who knows the");
      SetText(dlg, IDC_INPASS_TEXT2, "m_inpasstext2",
              "password has the privilege to config the virtual disk Information");
      SetText(dlg, IDC_INPASS_TEXT3, "m_inpasstext3", "Please remember the password, it is very important..");
      SetText(dlg, IDC_INPASS_TEXT4, "m_inpasstext4", "The password is limited to 8 characters.");
      SetText(dlg, IDC_INPASS_LABEL1, "m_inpasstext5", "password:");
      SetText(dlg, IDC_INPASS_LABEL2, "m_inpasstext6", "Input password again:");
      SetText(dlg, IDOK, "okbtntext", "Ok");
      SetText(dlg, IDCANCEL, "canceltext", "Cancel");
      return TRUE;
    case WM_COMMAND:
      return OnCommand(dlg, wp, OnSetOk);
  }
  return FALSE;
}

void OnAskOk(HWND dlg) {
  char entry[kCfgPassMax + 1];
  ReadEntry(dlg, IDC_ASKPASS_EDIT, entry);
  const CheckPasswordResult r = CheckConfigPassword(entry);
  SecureZeroMemory(entry, sizeof entry);
  switch (r) {
    case CheckPasswordResult::Verified:
      EndDialog(dlg, kPasswordVerified);
      break;
    case CheckPasswordResult::NoStampFile:
      Message(dlg, "Password_Msg0",
              "I can not verify your password, you should reinstall the software again.", "Warning");
      EndDialog(dlg, 0);
      break;
    case CheckPasswordResult::Invalid:
      Message(dlg, "IvalidePassword", "Invalde Password.", "Warning");
      break;
  }
}

INT_PTR CALLBACK AskProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      SetText(dlg, IDC_ASKPASS_PROMPT, "Passwordtext", "Please input your password");
      SetText(dlg, IDOK, "Okbtntext", "Ok");
      SetText(dlg, IDCANCEL, "Cancelbtntext", "Cancel");
      return TRUE;
    case WM_COMMAND:
      return OnCommand(dlg, wp, OnAskOk);
  }
  return FALSE;
}

}  // namespace

bool StampFilePath(bool fallback, char* dst, std::size_t cap) {
  if (cap == 0) return false;
  dst[0] = '\0';
  char dir[kSysDirBuffer];
  const UINT n = GetSystemDirectoryA(dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return false;
  const int w = std::snprintf(dst, cap, "%s\\syswin.cfg.dat%s", dir, fallback ? ".dat" : "");
  if (w <= 0 || static_cast<std::size_t>(w) >= cap) {
    dst[0] = '\0';
    return false;
  }
  return true;
}

SavePasswordResult SaveConfigPassword(const char* password) {
  char pass[kCfgPassMax + 1];
  CutPassword(password, pass);
  std::uint8_t key[8];
  PrepareKeyBytes(pass, key);
  if (IsRefusedKey(key)) return SavePasswordResult::RefusedKey;

  EnsureStoreKey();
  char stamp[9];
  Today(stamp);
  StampFile previous;
  ReadStamp(previous);

  std::uint8_t file[kCfgRecordSize];
  BuildStampRecord(stamp, file);
  if (!WriteStamp(file, sizeof file)) return SavePasswordResult::StampFileError;

  std::uint8_t rec[kCfgRecordSize];
  BuildCfgPassRecord(stamp, pass, pass, rec);
  SecureZeroMemory(pass, sizeof pass);
  const bool stored = StoreRecord(rec);
  SecureZeroMemory(rec, sizeof rec);
  if (!stored) {
    // The old record only matches the old stamp: put it back.
    if (previous.existed) WriteStamp(previous.data, previous.len);
    return SavePasswordResult::RegistryError;
  }
  return SavePasswordResult::Ok;
}

CheckPasswordResult CheckConfigPassword(const char* entry) {
  char typed[kCfgPassMax + 1];
  if (CutPassword(entry, typed) == 0) return CheckPasswordResult::Invalid;

  std::uint8_t rec[kCfgRegBuffer] = {};
  {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
      return CheckPasswordResult::Invalid;
    DWORD size = kCfgRegReadMax;
    if (RegQueryValueExA(key.get(), kCfgPassValue, nullptr, nullptr, rec, &size) != ERROR_SUCCESS)
      return CheckPasswordResult::Invalid;
  }
  if (!CipherDecrypt(typed, rec, kCfgRecordSize)) return CheckPasswordResult::Invalid;

  StampFile f;
  if (!ReadStamp(f)) return f.existed ? CheckPasswordResult::Invalid : CheckPasswordResult::NoStampFile;
  char date[kCfgRecordSize + 1];
  const bool ok = StampDateText(f.data, f.len, date) && CfgPassMatches(rec, sizeof rec, date, typed);
  SecureZeroMemory(typed, sizeof typed);
  SecureZeroMemory(rec, sizeof rec);
  return ok ? CheckPasswordResult::Verified : CheckPasswordResult::Invalid;
}

INT_PTR ConfigPasswordDialog(HWND owner, PasswordDialogFlavour flavour) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CFGPASSWORD), owner, SetProc,
                         static_cast<LPARAM>(flavour));
}

INT_PTR AskPasswordDialog(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ASKPASSWORD), owner, AskProc, 0);
}

}  // namespace kelm::win
