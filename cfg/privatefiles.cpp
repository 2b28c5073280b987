#include "cfg/privatefiles.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "common/protection.h"
#include "common/win32/language.h"
#include "common/win32/protectstore.h"
#include "resources/privatefiles.h"

namespace kelm::cfg {
namespace {

constexpr std::size_t kTextBuffer = 256;

struct Dialog {
  std::string userId;
  // The rows as the list shows them, top to bottom.
  std::vector<protect::Entry> rows;
};

void SetLanguageText(HWND dlg, int id, const char* key, const char* builtin) {
  char text[kTextBuffer];
  win::LanguageLookup(key, builtin, text, sizeof text);
  SetDlgItemTextA(dlg, id, text);
}

void SetCell(HWND list, int row, int column, const char* text) {
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void InsertColumns(HWND list) {
  struct {
    const char* key;
    const char* builtin;
    int width;
  } const columns[] = {{"Colname1", "FileName", 300}, {"Colname2", "Protect Level", 100}, {"Colname3", "Attribute", 80}};
  int index = 0;
  for (const auto& c : columns) {
    char text[kTextBuffer];
    win::LanguageLookup(c.key, c.builtin, text, sizeof text);
    LVCOLUMNA col{};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = LVCFMT_LEFT;
    col.cx = c.width;
    col.pszText = text;
    col.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
    ++index;
  }
}

// The list is sorted: a row inserted with an empty text lands on top, so
// the stored entries show from the last to the first. The row goes where
// the list put it.
void AddRow(HWND list, Dialog& d, const protect::Entry& e) {
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = 0;
  item.pszText = const_cast<char*>("");
  const LRESULT at = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  if (at < 0 || static_cast<std::size_t>(at) > d.rows.size()) return;
  d.rows.insert(d.rows.begin() + at, e);
  const int row = static_cast<int>(at);
  SetCell(list, row, 0, e.path.c_str());
  SetCell(list, row, 1, e.level.c_str());
  char attribute[kTextBuffer] = "";
  const DWORD a = GetFileAttributesA(e.path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
    win::LanguageLookup("DirectoryText", "Directory", attribute, sizeof attribute);
  else if (a != INVALID_FILE_ATTRIBUTES)
    win::LanguageLookup("FileText", "File", attribute, sizeof attribute);
  SetCell(list, row, 2, attribute);
}

void Fill(HWND dlg, Dialog& d) {
  const HWND list = GetDlgItem(dlg, IDC_PRIV_LIST);
  SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
  d.rows.clear();
  std::vector<protect::Entry> stored;
  win::ReadProtectionList(d.userId.c_str(), stored);
  for (const protect::Entry& e : stored) AddRow(list, d, e);
}

void ShowSwitch(HWND dlg, const Dialog& d) {
  CheckDlgButton(dlg, IDC_PRIV_ENABLE, win::PrivateFilesChecked(d.userId.c_str()) ? BST_CHECKED : BST_UNCHECKED);
}

void Init(HWND dlg, Dialog& d) {
  const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PRIVATEFILES));
  if (icon) {
    SendMessageA(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  SetLanguageText(dlg, IDC_PRIV_USERLABEL, "m_privateuseridtext", "User ID: ");
  SetLanguageText(dlg, IDC_PRIV_CANCELPROTECT, "m_deletebtn", "Cancel Protect");
  SetLanguageText(dlg, IDC_PRIV_EXIT, "m_exitbtn", "Exit");
  SetLanguageText(dlg, IDC_PRIV_ENABLE, "m_privatefilesetchk", "Enable Set Private Files");
  SetLanguageText(dlg, IDC_PRIV_LEVEL1, "Level1", "Full Protection");
  SetLanguageText(dlg, IDC_PRIV_LEVEL2, "Level2", "General Protection");
  const HWND list = GetDlgItem(dlg, IDC_PRIV_LIST);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  InsertColumns(list);
  Fill(dlg, d);
  SetDlgItemTextA(dlg, IDC_PRIV_USERID, d.userId.c_str());
  ShowSwitch(dlg, d);
}

void CancelProtect(HWND dlg, Dialog& d) {
  const char* user = d.userId.c_str();
  win::ClearListDecorations(user);
  const HWND list = GetDlgItem(dlg, IDC_PRIV_LIST);
  const LRESULT sel = SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  if (sel >= 0 && static_cast<std::size_t>(sel) < d.rows.size()) {
    SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(sel), 0);
    d.rows.erase(d.rows.begin() + sel);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    // When the store could not take the new list, show what it holds.
    if (!win::WriteProtectionList(user, protect::RewriteEntries(d.rows))) Fill(dlg, d);
  }
  // Each folder gets the icon of its own level back.
  win::RestoreListDecorations(user);
}

void Switch(HWND dlg, Dialog& d) {
  const bool on = IsDlgButtonChecked(dlg, IDC_PRIV_ENABLE) == BST_CHECKED;
  const bool stored = win::SetPrivateFiles(d.userId.c_str(), on);
  if (!on) {
    if (stored) {
      SendDlgItemMessageA(dlg, IDC_PRIV_LIST, LVM_DELETEALLITEMS, 0, 0);
      d.rows.clear();
    } else {
      Fill(dlg, d);
    }
  }
  // The box shows what was stored, not what was clicked.
  ShowSwitch(dlg, d);
}

INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  try {
    auto* d = reinterpret_cast<Dialog*>(GetWindowLongPtrA(dlg, DWLP_USER));
    switch (msg) {
      case WM_INITDIALOG:
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        Init(dlg, *reinterpret_cast<Dialog*>(lp));
        return TRUE;
      case WM_COMMAND:
        if (d == nullptr) break;
        switch (LOWORD(wp)) {
          case IDC_PRIV_CANCELPROTECT:
            if (HIWORD(wp) == BN_CLICKED) CancelProtect(dlg, *d);
            return TRUE;
          case IDC_PRIV_ENABLE:
            if (HIWORD(wp) == BN_CLICKED) Switch(dlg, *d);
            return TRUE;
          case IDC_PRIV_EXIT:
          case IDOK:
          case IDCANCEL:
            EndDialog(dlg, IDOK);
            return TRUE;
          default:
            break;
        }
        break;
      default:
        break;
    }
  } catch (...) {
    // Out of memory inside a step: the dialog stays as it is.
  }
  return FALSE;
}

}  // namespace

INT_PTR PrivateFilesDialog(HWND owner, const char* userId) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  try {
    Dialog d;
    d.userId = userId != nullptr ? userId : "";
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PRIVATEFILES), owner, Proc,
                           reinterpret_cast<LPARAM>(&d));
  } catch (...) {
    return -1;
  }
}

}  // namespace kelm::cfg
