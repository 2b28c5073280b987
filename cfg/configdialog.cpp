#include "cfg/configdialog.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cfg/imagecreate.h"
#include "cfg/logic/configlogic.h"
#include "cfg/logic/imagechecks.h"
#include "cfg/logindialog.h"
#include "cfg/mainwindow.h"
#include "cfg/privatefiles.h"
#include "common/fatimage.h"
#include "common/imagefile.h"
#include "common/storefields.h"
#include "common/textutil.h"
#include "common/win32/banner.h"
#include "common/win32/cfgpassword.h"
#include "common/win32/diskstore.h"
#include "common/win32/handles.h"
#include "common/win32/language.h"
#include "common/win32/platform.h"
#include "common/win32/protectstore.h"
#include "common/win32/receiver.h"
#include "configdlg.h"
#include "kelmcfg.h"

namespace kelm::cfg {

namespace {

constexpr UINT_PTR kWaitReceiverTimer = 1;
constexpr UINT_PTR kReadReceiverTimer = 2;

// Controls of slot n (0..3).
struct SlotIds {
  int path, pathLabel, browse, sizeLabel, size, passLabel, pass, valid, autoMount, readOnly, create, save, del;
};
constexpr SlotIds kSlot[4] = {
    {1009, 1013, 1085, 1017, 1021, 1067, 1068, 1038, 1029, 1042, 1034, 1061, 1066},
    {1010, 1014, 1086, 1018, 1023, 1069, 1070, 1039, 1030, 1043, 1035, 1062, 1078},
    {1011, 1015, 1087, 1019, 1025, 1071, 1072, 1040, 1031, 1044, 1036, 1063, 1079},
    {1012, 1016, 1088, 1020, 1027, 1073, 1074, 1041, 1032, 1045, 1037, 1064, 1080},
};

struct Text {
  int id;
  const char* key;
  const char* builtin;
};
constexpr Text kTexts[] = {
    {IDC_CFG_DELAYTEXT1, "m_delaytext1", "If the receiver can not get key code,delay "},
    {IDC_CFG_DELAYTEXT2, "m_delaytext2", "Seconds."},
    {IDC_CFG_DELAY, "m_delayvalue", "15"},
    {IDC_CFG_SETPASS, "m_setpassbtn", "Set\nPassword"},
    {IDC_CFG_HELP, "m_helpbtn", "Help"},
    {IDC_CFG_CLOSE, "m_closebtn", "Close"},
    {IDC_CFG_RCVLABEL, "m_rcvtext", "Received ID"},
    {IDC_CFG_USERLABEL, "m_userlisttext", "Exist Users:"},
    {IDC_CFG_DELUSER, "m_remvoebtn", "Delete"},
    {IDC_CFG_PRIVATE, "m_privatebtn", "Private Files"},
};

struct Dialog {
  HWND dlg = nullptr;
  bool software = false;
  store::UserPasswordTable passwords{};
  ImageOwnerTable owners;
  win::UniqueHandle receiver;
  win::Bitmap banner;
  HICON icon = nullptr;
  HHOOK filter = nullptr;
  bool loading = false;  // fields are being filled: no delay writes
};

Dialog* g_dialog = nullptr;  // the one open dialog, for the message filter

std::string Field(HWND dlg, int id, int chars) {
  std::string s(static_cast<std::size_t>(chars) + 1, '\0');
  const int n = GetDlgItemTextA(dlg, id, s.data(), chars + 1);
  s.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return s;
}

bool Checked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }

int Box(HWND dlg, const char* key, const char* builtin, const char* caption, UINT flags) {
  char text[1024];
  win::LanguageLookup(key, builtin, text, sizeof text);
  return MessageBoxA(dlg, text, caption, flags);
}

// The selected UserId, "" when none.
std::string SelectedUser(HWND dlg) {
  const HWND list = GetDlgItem(dlg, IDC_CFG_USERS);
  const LRESULT sel = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (sel == CB_ERR) return {};
  const LRESULT len = SendMessageA(list, CB_GETLBTEXTLEN, sel, 0);
  if (len <= 0 || len > 1000) return {};
  std::string s(static_cast<std::size_t>(len) + 1, '\0');
  SendMessageA(list, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<std::size_t>(len));
  return s;
}

std::vector<std::string> ListEntries(HWND dlg) {
  const HWND list = GetDlgItem(dlg, IDC_CFG_USERS);
  std::vector<std::string> out;
  const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char buf[1024] = {};
    if (SendMessageA(list, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof buf))
      SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
    out.emplace_back(buf);
  }
  return out;
}

void RebuildOwners(Dialog& d) {
  d.owners.Clear();
  for (const std::string& user : win::ListUsers()) {
    for (unsigned n = 0; n < store::kSlotCount; ++n) {
      char path[store::kTextReadLimit];
      win::GetText(user.c_str(), store::SlotValueName("ImageFile", n).text, path, sizeof path);
      const DWORD attrs = path[0] ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
      if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) d.owners.Add(user, path);
    }
  }
}

void EnableSlotControls(HWND dlg, bool on) {
  for (const SlotIds& s : kSlot)
    for (int id : {s.browse, s.save, s.del, s.create, s.path, s.size, s.pass, s.valid, s.autoMount, s.readOnly})
      EnableWindow(GetDlgItem(dlg, id), on);
  EnableWindow(GetDlgItem(dlg, IDC_CFG_PRIVATE), on);
  EnableWindow(GetDlgItem(dlg, IDC_CFG_DELAY), on);
}

void ClearSlotFields(HWND dlg, unsigned n) {
  SetDlgItemTextA(dlg, kSlot[n].path, "");
  SetDlgItemTextA(dlg, kSlot[n].size, "0");
  for (int id : {kSlot[n].autoMount, kSlot[n].valid, kSlot[n].readOnly}) CheckDlgButton(dlg, id, BST_UNCHECKED);
  SetDlgItemTextA(dlg, kSlot[n].pass, "");
}

void LoadUser(Dialog& d, const std::string& user) {
  const HWND dlg = d.dlg;
  d.loading = true;
  store::StoredUser stored{};
  char id[32];
  CopyBounded(id, sizeof id, user);
  // The reader deciphers the passwords; a user without a key reads empty.
  if (!win::ReadUserConfig(ParseDecimal(user), stored, true) || std::to_string(ParseDecimal(user)) != user)
    stored = store::StoredUser{};
  for (unsigned n = 0; n < store::kSlotCount; ++n) {
    const store::StoredSlot& s = stored.slots[n];
    char path[1024] = {};
    DWORD len = 0;
    // The path field holds what the store holds, beyond the reader's limit too.
    if (win::GetValue(id, store::SlotValueName("ImageFile", n).text, path, &len, sizeof path - 1) != ERROR_SUCCESS)
      path[0] = '\0';
    SetDlgItemTextA(dlg, kSlot[n].path, path);
    char size[16];
    std::snprintf(size, sizeof size, "%u", static_cast<unsigned>(s.sizeMb));
    SetDlgItemTextA(dlg, kSlot[n].size, size);
    SetDlgItemTextA(dlg, kSlot[n].pass, s.password);
    CheckDlgButton(dlg, kSlot[n].valid, store::IsYes(s.valid) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, kSlot[n].autoMount, store::IsYes(s.autoMount) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, kSlot[n].readOnly, store::IsYes(s.readOnly) ? BST_CHECKED : BST_UNCHECKED);
  }
  SetDlgItemTextA(dlg, IDC_CFG_DELAY, stored.delay[0] ? stored.delay : store::kDefaultDelay);
  d.loading = false;
}

const store::UserPasswordTable* Passwords(Dialog& d) { return d.software ? &d.passwords : nullptr; }

// The save that Save, Create and Delete share.
bool SaveSlotChecked(Dialog& d, unsigned n) {
  const HWND dlg = d.dlg;
  const std::string user = SelectedUser(dlg);
  if (user.empty()) {
    Box(dlg, "cfgdlg_msg11", "No user was selected, can not save.", "Error", MB_OK | MB_ICONWARNING);
    return false;
  }
  SlotFields slots[4];
  for (unsigned k = 0; k < 4; ++k) {
    slots[k].valid = Checked(dlg, kSlot[k].valid);
    slots[k].path = Field(dlg, kSlot[k].path, 199);
    slots[k].sizeMb = ParseImageSizeMb(Field(dlg, kSlot[k].size, 4).c_str());
  }
  const SaveCheck check = CheckValidSlots(slots);
  if (check.problem != SlotProblem::None) {
    const MessageText m = SlotMessage(check.problem, check.slot, false);
    Box(dlg, m.key, m.text.c_str(), "Error", MB_OK | MB_ICONWARNING);
    return false;
  }
  const std::string password = Field(dlg, kSlot[n].pass, 9);
  const std::string delay = Field(dlg, IDC_CFG_DELAY, 9);
  win::SlotSettings s;
  s.valid = slots[n].valid;
  s.imagePath = slots[n].path;
  s.sizeMb = slots[n].sizeMb;
  s.autoMount = Checked(dlg, kSlot[n].autoMount);
  s.readOnly = Checked(dlg, kSlot[n].readOnly);
  s.password = password;
  const win::SaveSlotResult r = win::SaveSlot(user.c_str(), n, s, delay.c_str(), Passwords(d));
  if (r == win::SaveSlotResult::PathTooLong)
    Box(dlg, store::kPathTooLongKey, store::kPathTooLongText, store::kPathTooLongCaption, MB_OK | MB_ICONERROR);
  if (r != win::SaveSlotResult::Saved) return false;
  RebuildOwners(d);
  return true;
}

void SaveWithCheck(Dialog& d, unsigned n) {
  const HWND dlg = d.dlg;
  const std::string user = SelectedUser(dlg);
  if (user.empty()) {
    Box(dlg, "cfgdlg_msg36", "Please Selects an user ID.", "Warning", MB_OK | MB_ICONWARNING);
    return;
  }
  const bool valid = Checked(dlg, kSlot[n].valid);
  const std::string path = Field(dlg, kSlot[n].path, 199);
  if (valid) {
    SlotProblem problem = SlotProblem::None;
    if (path.empty())
      problem = SlotProblem::EmptyPath;
    else if (ParseImageSizeMb(Field(dlg, kSlot[n].size, 4).c_str()) == 0)
      problem = SlotProblem::ZeroSize;
    if (problem != SlotProblem::None) {
      const MessageText m = SlotMessage(problem, n, true);
      Box(dlg, m.key, m.text.c_str(), "Information", MB_OK | MB_ICONINFORMATION);
      return;
    }
  }
  win::SetText(user.c_str(), store::SlotValueName("Valid", n).text, store::YesNo(valid));
  if (valid) {
    const std::string password = Field(dlg, kSlot[n].pass, 9);
    std::unique_ptr<ImageFile> file = OpenImageFile(path.c_str(), ImageOpen::Read);
    if (!file || !CheckImagePassword(*file, password.c_str())) {
      char format[1024], text[1400];
      win::LanguageLookup("cfgdlg_msg34",
                          "The password of %s is incorrect.You must input the correct password or ReCreate the Image "
                          "file Format.",
                          format, sizeof format);
      // A translation is not trusted as a format: only its first %s takes the path.
      std::string t = format;
      const std::size_t at = t.find("%s");
      if (at != std::string::npos) t.replace(at, 2, path);
      CopyBounded(text, sizeof text, t);
      MessageBoxA(dlg, text, "Error", MB_OK | MB_ICONWARNING);
      return;
    }
  }
  if (!SaveSlotChecked(d, n)) return;
  Box(dlg, "cfgdlg_msg35", "Check Complete,No Error is found.", "Information", MB_OK | MB_ICONWARNING);
  Box(dlg, "cfgdlg_msg14", "Save Configuration data success.", "Information", MB_OK | MB_ICONINFORMATION);
}

void DeleteSlot(Dialog& d, unsigned n) {
  const HWND dlg = d.dlg;
  const std::string path = Field(dlg, kSlot[n].path, 249);
  SetDlgItemTextA(dlg, kSlot[n].path, "");
  const DWORD attrs = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    if (Box(dlg, "cfgdlg_msg20",
            "The image file already is exist,this operation will destory all data in the image file.Continue?",
            "Warning", MB_YESNO | MB_ICONWARNING) != IDYES)
      return;
    DeleteFileA(path.c_str());
  }
  ClearSlotFields(dlg, n);
  SaveSlotChecked(d, n);
}

void DeleteUserCommand(Dialog& d) {
  const HWND dlg = d.dlg;
  const std::string user = SelectedUser(dlg);
  if (user.empty()) {
    Box(dlg, "cfgdlg_set2", "Please selects an User ID first.", "Warning", MB_OK | MB_ICONWARNING);
    return;
  }
  if (Box(dlg, "cfgdlg_msg15", "Do you really want to delete the virtual disk config data of current user!",
          "Question", MB_YESNO | MB_ICONWARNING) != IDYES)
    return;
  if (d.software) d.passwords.Remove(user);
  if (win::DeleteUserStore(user.c_str(), win::RemoveProtectionDecorations, nullptr) != ERROR_SUCCESS) return;
  RebuildOwners(d);
  const int at = FindPrefix(ListEntries(dlg), user);
  if (at < 0) return;
  SendDlgItemMessageA(dlg, IDC_CFG_USERS, CB_DELETESTRING, static_cast<WPARAM>(at), 0);
  InvalidateRect(GetDlgItem(dlg, IDC_CFG_USERS), nullptr, TRUE);
  for (unsigned n = 0; n < store::kSlotCount; ++n) {
    const std::string path = Field(dlg, kSlot[n].path, 249);
    const DWORD attrs = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(path.c_str());
    ClearSlotFields(dlg, n);
  }
  EnableSlotControls(dlg, SelectedUser(dlg).size() > 0);
}

void AddUser(Dialog& d) {
  const HWND dlg = d.dlg;
  const HWND list = GetDlgItem(dlg, IDC_CFG_USERS);
  if (d.software) {
    LoginFieldsText fields;
    if (LoginDialog(dlg, LoginMode::NewUser, fields) != 1) return;
    if (FindPrefix(ListEntries(dlg), fields.userId) >= 0) return;
    const bool stored = d.passwords.Put(fields.userId, fields.password);
    SecureZeroMemory(fields.password, sizeof fields.password);
    if (!stored) {
      // The suite holds at most 50 users: a 51st would have no password.
      Box(dlg, "cfgdlg_msgfull", "No more users can be added: the suite holds at most 50 users.", "Warning",
          MB_OK | MB_ICONWARNING);
      return;
    }
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(fields.userId));
    return;
  }
  const std::string id = Field(dlg, IDC_CFG_RCV, 13);
  if (id.empty() || FindPrefix(ListEntries(dlg), id) >= 0) return;
  SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(id.c_str()));
}

void Browse(Dialog& d, unsigned n) {
  const HWND dlg = d.dlg;
  const std::string user = SelectedUser(dlg);
  if (user.empty()) {
    Box(dlg, "cfgdlg_set2", "Please selects an User ID first.", "Warning", MB_OK | MB_ICONWARNING);
    return;
  }
  char file[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dlg;
  ofn.lpstrFilter = "Image Files (*.img)\0*.img\0All Files (*.*)\0*.*\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrDefExt = "img";
  ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetOpenFileNameA(&ofn)) return;
  const DWORD attrs = GetFileAttributesA(file);
  const bool exists = attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
  const int owner = exists ? d.owners.OwnerOf(user, file) : (InRootDirectory(file) ? 3 : 0);
  switch (owner) {
    case 1:
      Box(dlg, "cfgdlg_set0", "You have already set the file as a virtual disk.", "Warning", MB_OK | MB_ICONWARNING);
      return;
    case 2:
      Box(dlg, "cfgdlg_set1", "The file have beed set as a virtual disk by other user.", "Warning",
          MB_OK | MB_ICONWARNING);
      return;
    case 3:
      Box(dlg, "cfgdlg_set4", "Please don't create the virtual disk image file in root directory.", "Warning",
          MB_OK | MB_ICONWARNING);
      return;
    default:
      break;
  }
  std::uint64_t length = 0;
  if (exists) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(file, GetFileExInfoStandard, &data))
      length = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  SetDlgItemTextA(dlg, kSlot[n].path, file);
  SetDlgItemTextA(dlg, kSlot[n].size, std::to_string(SizeFieldForLength(length)).c_str());
}

void Create(Dialog& d, unsigned n) {
  const HWND dlg = d.dlg;
  const std::string user = SelectedUser(dlg);
  const std::string path = Field(dlg, kSlot[n].path, 299);
  const std::string size = Field(dlg, kSlot[n].size, 299);
  const std::string password = Field(dlg, kSlot[n].pass, 299);
  const std::string delay = Field(dlg, IDC_CFG_DELAY, 9);
  CreateImageRequest r;
  r.owner = dlg;
  r.userId = user.c_str();
  r.slot = n;
  r.path = path.c_str();
  r.sizeText = size.c_str();
  r.password = password.c_str();
  r.valid = Checked(dlg, kSlot[n].valid);
  r.autoMount = Checked(dlg, kSlot[n].autoMount);
  r.readOnly = Checked(dlg, kSlot[n].readOnly);
  r.delayText = delay.c_str();
  r.passwords = Passwords(d);
  if (CreateImage(r) == CreateImageResult::Created) RebuildOwners(d);
}

void Help(HWND dlg) {
  char name[256], dir[MAX_PATH];
  win::LanguageLookup("helpfile", "readme_en.chm", name, sizeof name);
  if (!win::ModuleDirectory(dir, sizeof dir)) return;
  const std::string path = std::string(dir) + "\\" + name;
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ShellExecuteA(dlg, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void DelayChanged(Dialog& d) {
  if (d.loading) return;
  const std::string user = SelectedUser(d.dlg);
  if (user.empty()) return;
  // A user that was never saved has no key yet: nothing is stored.
  win::RegKey key;
  const std::string path = std::string(store::kRootKey) + "\\" + user;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  key.reset();
  const std::string delay = Field(d.dlg, IDC_CFG_DELAY, 9);
  win::SetText(user.c_str(), "delay", delay.empty() ? store::kDefaultDelay : delay.c_str());
}

void ReceiverTick(Dialog& d, UINT_PTR timer) {
  const HWND dlg = d.dlg;
  if (timer == kWaitReceiverTimer) {
    if (!win::ReceiverPresent()) return;
    KillTimer(dlg, kWaitReceiverTimer);
    SetTimer(dlg, kReadReceiverTimer, 1000, nullptr);
    return;
  }
  if (!d.receiver) d.receiver = win::OpenReceiver();
  std::uint32_t code = 0;
  if (!d.receiver || !win::ReadReceiverKey(d.receiver, code)) {
    d.receiver.reset();
    SetDlgItemTextA(dlg, IDC_CFG_RCV, "");
    KillTimer(dlg, kReadReceiverTimer);
    SetTimer(dlg, kWaitReceiverTimer, 1000, nullptr);
    return;
  }
  if (code == 0 || code == 0xFFFFFFFFu) {
    SetDlgItemTextA(dlg, IDC_CFG_RCV, "");
    if (code == 0xFFFFFFFFu) d.receiver.reset();
    return;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(code));
  SetDlgItemTextA(dlg, IDC_CFG_RCV, text);
}

void StartUp(Dialog& d) {
  const HWND dlg = d.dlg;
  d.icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_KELMCFG), IMAGE_ICON, 32, 32, 0));
  if (d.icon) {
    SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(d.icon));
    SendMessageA(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(d.icon));
  }
  d.passwords.Clear();
  char text[256];
  for (const Text& t : kTexts) {
    win::LanguageLookup(t.key, t.builtin, text, sizeof text);
    SetDlgItemTextA(dlg, t.id, text);
  }
  for (unsigned n = 0; n < 4; ++n) {
    char key[32], builtin[32];
    const struct {
      int id;
      const char* key;
      const char* builtin;
    } slotTexts[] = {
        {kSlot[n].passLabel, "m_passtext%u", "Password"},    {kSlot[n].valid, "m_validchk%u", "Valide"},
        {kSlot[n].sizeLabel, "m_sizetext%u", "Size(MB)"},    {kSlot[n].readOnly, "m_readonlychk%u", "ReadOnly"},
        {kSlot[n].pathLabel, "m_filetext%u", "Image File %u:"}, {kSlot[n].create, "m_createbbtn%u", "Create"},
        {kSlot[n].autoMount, "m_automountchk%u", "Auto Mount"}, {kSlot[n].save, "m_savebtn", "Save"},
        {kSlot[n].del, "m_remvoebtn", "Delete"},
    };
    for (const auto& t : slotTexts) {
      std::snprintf(key, sizeof key, t.key, n + 1);
      std::snprintf(builtin, sizeof builtin, t.builtin, n + 1);
      win::LanguageLookup(key, builtin, text, sizeof text);
      SetDlgItemTextA(dlg, t.id, text);
    }
    SendDlgItemMessageA(dlg, kSlot[n].path, EM_LIMITTEXT, 299, 0);
  }
  d.banner = win::MakeBanner(dlg, GetDlgItem(dlg, IDC_CFG_BANNER), d.icon, "Umbrel Hard Disk",
                             "Private enciphered virtual disks for every user");
  if (d.banner)
    SendDlgItemMessageA(dlg, IDC_CFG_BANNER, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(d.banner.get()));

  win::StoreLogicDriver();
  if (!win::EnsureRoot()) {
    Box(dlg, "cfgdlg_msg0", "You have not privilege to write registry, can not continue.", "Error",
        MB_OK | MB_ICONWARNING);
    EndDialog(dlg, 0);
    return;
  }
  d.software = win::ReadInstallType() == store::kInstallSoftware;
  for (const std::string& user : win::ListUsersWithPasswords(d.software, d.passwords))
    SendDlgItemMessageA(dlg, IDC_CFG_USERS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(user.c_str()));
  if (d.software) {
    ShowWindow(GetDlgItem(dlg, IDC_CFG_RCV), SW_HIDE);
    ShowWindow(GetDlgItem(dlg, IDC_CFG_RCVLABEL), SW_HIDE);
    win::LanguageLookup("newuseradd", "Add User", text, sizeof text);
    SetDlgItemTextA(dlg, IDC_CFG_ADD, text);
  } else {
    SetTimer(dlg, kWaitReceiverTimer, 1000, nullptr);
  }
  RebuildOwners(d);
  EnableSlotControls(dlg, false);
}

void Close(Dialog& d) {
  d.receiver.reset();
  win::SetText(nullptr, "configed", "yes");
  EndDialog(d.dlg, 0);
}

INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* d = reinterpret_cast<Dialog*>(GetWindowLongPtrA(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      d = reinterpret_cast<Dialog*>(lp);
      SetWindowLongPtrA(dlg, DWLP_USER, lp);
      d->dlg = dlg;
      StartUp(*d);
      return TRUE;
    case WM_TIMER:
      if (d) ReceiverTick(*d, wp);
      return TRUE;
    case WM_CLOSE:
      return TRUE;  // only the Close button ends it
    case WM_COMMAND: {
      if (!d) break;
      const int id = LOWORD(wp), code = HIWORD(wp);
      if (id == IDC_CFG_USERS && code == CBN_SELCHANGE) {
        const std::string user = SelectedUser(dlg);
        if (!user.empty()) LoadUser(*d, user);
        EnableSlotControls(dlg, !user.empty());
        return TRUE;
      }
      if (id == IDC_CFG_DELAY && code == EN_CHANGE) {
        DelayChanged(*d);
        return TRUE;
      }
      if (code != BN_CLICKED) break;
      for (unsigned n = 0; n < 4; ++n) {
        if (id == kSlot[n].create) Create(*d, n);
        else if (id == kSlot[n].browse) Browse(*d, n);
        else if (id == kSlot[n].save) SaveWithCheck(*d, n);
        else if (id == kSlot[n].del) DeleteSlot(*d, n);
        else continue;
        return TRUE;
      }
      switch (id) {
        case IDC_CFG_ADD: AddUser(*d); return TRUE;
        case IDC_CFG_DELUSER: DeleteUserCommand(*d); return TRUE;
        case IDC_CFG_PRIVATE: {
          const std::string user = SelectedUser(dlg);
          if (user.empty())
            Box(dlg, "cfgdlg_set2", "Please selects an User ID first.", "Warning", MB_OK | MB_ICONWARNING);
          else
            PrivateFilesDialog(dlg, user.c_str());
          return TRUE;
        }
        case IDC_CFG_SETPASS: win::ConfigPasswordDialog(dlg, win::PasswordDialogFlavour::KelmCfg); return TRUE;
        case IDC_CFG_HELP: Help(dlg); return TRUE;
        case IDC_CFG_CLOSE: Close(*d); return TRUE;
        default: return TRUE;  // IDOK and IDCANCEL never end it
      }
    }
    case WM_DESTROY:
      if (d) {
        KillTimer(dlg, kWaitReceiverTimer);
        KillTimer(dlg, kReadReceiverTimer);
      }
      return FALSE;
    default:
      break;
  }
  return FALSE;
}

// Enter, Escape and F4 never reach the dialog or its controls.
LRESULT CALLBACK Filter(int code, WPARAM wp, LPARAM lp) {
  if (code >= 0 && g_dialog && g_dialog->dlg) {
    const MSG* m = reinterpret_cast<const MSG*>(lp);
    if ((m->hwnd == g_dialog->dlg || IsChild(g_dialog->dlg, m->hwnd)) &&
        (m->wParam == 13 || m->wParam == 27 || m->wParam == 115))
      return 1;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

INT_PTR ConfigDialog() {
  Dialog d;
  Dialog* outer = g_dialog;
  g_dialog = &d;
  d.filter = SetWindowsHookExA(WH_MSGFILTER, Filter, nullptr, GetCurrentThreadId());
  const INT_PTR r = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONFIG), nullptr, Proc,
                                    reinterpret_cast<LPARAM>(&d));
  if (d.filter) UnhookWindowsHookEx(d.filter);
  g_dialog = outer;
  if (d.icon) DestroyIcon(d.icon);
  SecureZeroMemory(&d.passwords, sizeof d.passwords);
  return r;
}

}  // namespace kelm::cfg
