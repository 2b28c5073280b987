// The context menu, the protection list and chain operations, the "Locked
// Files" dialog and the copy to a virtual disk.
#include <windows.h>

#include <algorithm>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/protection.h"
#include "common/storefields.h"
#include "common/textutil.h"
#include "common/win32/banner.h"
#include "common/win32/handles.h"
#include "common/win32/lockdecor.h"
#include "common/win32/protectstore.h"
#include "shellext/kelmsh.h"
#include "shellext/resource.h"

using kelm::win::RegKey;
namespace shx = kelm::shx;

HWND hDlgListHw = nullptr;
HWND hDlgCopyHw = nullptr;

namespace {

constexpr char kMainCaption[] = "Virtual Disk Manager";
constexpr UINT kMsgDriveLetters = 0x7000;
constexpr UINT kMsgReloadProtection = 0x800A;
// KelmCfg answers both at once; a hung one must not hang the shell.
constexpr UINT kSendTimeoutMs = 5000;
constexpr std::size_t kText = 256;

// One user's key behind the store steps.
class RegValueStore : public shx::ValueStore {
 public:
  explicit RegValueStore(HKEY key) : key_(key) {}
  bool Read(const char* name, char* buf, std::size_t size) override {
    return kelm::win::ReadProtectionValue(key_, name, buf, size) == ERROR_SUCCESS;
  }
  bool Write(const char* name, std::string_view text) override {
    // Written with its length in bytes, without the terminating zero.
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size())) == ERROR_SUCCESS;
  }

 private:
  HKEY key_;
};

bool OpenUser(const char* userId, RegKey& key) {
  char path[128];
  if (!kelm::win::ProtectionKeyPath(userId, path, sizeof path)) return false;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS;
}

bool IsFolder(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const char* path) {
  const DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void Message(HWND owner, const char* key, const char* builtin, const char* caption, UINT icon) {
  char text[kText];
  LangText(key, builtin, text, sizeof text);
  MessageBoxA(owner, text, caption, MB_OK | icon);
}

LRESULT SendToMain(UINT msg, bool& answered) {
  answered = false;
  HWND main = FindWindowA(nullptr, kMainCaption);
  if (main == nullptr) return 0;
  DWORD_PTR result = 0;
  answered = SendMessageTimeoutA(main, msg, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
  return answered ? static_cast<LRESULT>(result) : 0;
}

}  // namespace

// --- Store operations.

LONG GetRegistryValue(HKEY key, const char* name, char* buffer, DWORD length) {
  if (buffer == nullptr || length == 0) return ERROR_INVALID_PARAMETER;
  // One byte kept for the end: a value that fills the buffer is still a text.
  return kelm::win::ReadProtectionValue(key, name, buffer, length - 1);
}

void GetKeyToReg(char (&user)[16]) {
  std::snprintf(user, sizeof user, "%u", static_cast<unsigned>(GetProfileIntA("kelmkey", "keyid", 0)));
}

int GetRawConfig() {
  Trace("GetRawConfig entry\n");
  RegKey root;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kelm::store::kProtectionKey, root.put()) != ERROR_SUCCESS) return 1;
  char name[250];
  for (DWORD i = 0; RegEnumKeyA(root.get(), i, name, sizeof name) == ERROR_SUCCESS; ++i) {
    RegKey user;
    if (RegOpenKeyA(root.get(), name, user.put()) != ERROR_SUCCESS) continue;
    RegValueStore store(user.get());
    ChainLock lock;
    shx::LoadUserList(Chain(), name, store);
  }
  Trace("GetRawConfig exit\n");
  return 1;
}

int CanProtect(const char* userId) {
  RegKey key;
  if (!OpenUser(userId, key)) {
    Trace("CanProtect:RegOpenKeyEx Error\n");
    return 0;
  }
  RegValueStore store(key.get());
  return shx::LockFileEnabled(store) ? 1 : 0;
}

int NoticeKelmMonReadCfg() {
  if (FindWindowA(nullptr, kMainCaption) == nullptr) return 0;
  bool answered = false;
  if (SendToMain(kMsgReloadProtection, answered) > 0) return 1;
  Message(nullptr, "kelshtext0", "Inform the virtual disk service fail.", "Virtual Disk", MB_ICONWARNING);
  return 0;
}

DWORD GetMountedDev() {
  bool answered = false;
  return static_cast<DWORD>(SendToMain(kMsgDriveLetters, answered));
}

void DispAllChain() {
  std::vector<std::string> lines;
  try {
    ChainLock lock;
    lines = shx::ChainTraceLines(Chain());
  } catch (const std::bad_alloc&) {
    return;
  }
  for (const std::string& l : lines) Trace(l.c_str());
}

void FreeAllChain() {
  ChainLock lock;
  Chain().Clear();
}

int AddToChain(const char* user, const char* level, const char* path) {
  ChainLock lock;
  return Chain().Add(user, level, path) ? 1 : 0;
}

void DeleteFromChain(const char* user, const char* path) {
  ChainLock lock;
  Chain().Remove(user, path);
}

void CheckLockStatus(const char* current, const char* path, bool& byOther, bool& byMe) {
  ChainLock lock;
  const shx::LockStatus st = Chain().Check(current, path);
  byOther = st.byOther;
  byMe = st.byMe;
}

int GetFileOnwer(const char* path, std::string& owner, std::string& level) {
  ChainLock lock;
  return Chain().Owner(path, owner, level) ? 1 : 0;
}

int ProtectFile(unsigned level, const char* userId, const char* path, const char*) {
  RegKey key;
  if (!OpenUser(userId, key)) return 0;
  RegValueStore store(key.get());
  if (!shx::AppendStoredEntry(store, level, path)) return 0;
  if (IsFolder(path)) kelm::win::ShowLockStatus(path, static_cast<int>(level));
  char levelText[16];
  std::snprintf(levelText, sizeof levelText, "%u", level);
  AddToChain(userId, levelText, path);
  key.reset();
  NoticeKelmMonReadCfg();
  return 1;
}

int ReSaveProtectFile(const char* userId) {
  RegKey key;
  if (!OpenUser(userId, key)) return 0;
  RegValueStore store(key.get());
  bool ok;
  {
    ChainLock lock;
    ok = shx::RewriteStoredList(store, Chain(), userId);
  }
  key.reset();
  if (!ok) return 0;
  NoticeKelmMonReadCfg();
  return 1;
}

// --- Taking the item.

CShellExt::Take CShellExt::TakeItem(bool forPage) {
  if (m_pDataObj != nullptr) {
    FORMATETC fmt = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (SUCCEEDED(m_pDataObj->GetData(&fmt, &medium))) {
      HDROP drop = static_cast<HDROP>(medium.hGlobal);
      Take result = Take::Nothing;
      if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        // A name that does not fit is refused: a cut path names another item.
        const UINT len = DragQueryFileA(drop, 0, nullptr, 0);
        char path[MAX_PATH];
        if (len > 0 && len < sizeof path && DragQueryFileA(drop, 0, path, sizeof path) == len) {
          std::memcpy(m_szPropSheetFileUserClickedOn, path, len + 1);
          result = (forPage || !shx::BareName(path).empty()) ? Take::Taken : Take::Nothing;
        }
      }
      ReleaseStgMedium(&medium);
      return result;
    }
  }
  // Nothing from the data object: the previous path stays.
  if (m_szPropSheetFileUserClickedOn[0] == '\0') return Take::Nothing;
  if (!forPage && shx::BareName(m_szPropSheetFileUserClickedOn).empty()) return Take::Nothing;
  return Take::Taken;
}

// --- IContextMenu.

STDMETHODIMP CShellExt::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT, UINT flags) {
  const HRESULT none = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  try {
    char user[16];
    GetKeyToReg(user);
    if (std::strcmp(user, "0") == 0) return none;
    if (!CanProtect(user)) {
      Trace(user);
      Trace("\n\ncan not protect\n\r");
      return none;
    }
    Trace("CShellExt::QueryContextMenu()\r\n");
    if (TakeItem(false) != Take::Taken) return none;
    const char* path = m_szPropSheetFileUserClickedOn;
    char windir[MAX_PATH];
    const UINT wn = GetWindowsDirectoryA(windir, sizeof windir);
    if (wn > 0 && wn < sizeof windir && shx::UnderDirectory(path, windir)) return none;
    shx::LockStatus st;
    CheckLockStatus(user, path, st.byOther, st.byMe);
    if ((flags & 0x000F) != 0) {
      Tracef("uFlags==>%d\r\n", flags);
      Trace("CMF_default...\r\n");
      return none;
    }
    Trace("CMF_NORMAL...\r\n");
    const std::string bare(shx::BareName(path));
    struct Row {
      const char *key, *builtin, *arg;
      bool grayed;
    };
    const Row rows[] = {
        {"kelshmenutext0", "Set [%s] as my private file(Full Protection)", bare.c_str(), st.byMe},
        {"kelshmenutext2", "Set [%s] as my private file(General Protection)", bare.c_str(), st.byMe},
        {"kelshmenutext3", "Cancel the protection of [%s]", bare.c_str(), !st.byMe},
        {"kelshmenutext31", "Show all protected files of [%s]", user, false},
    };
    std::string texts[5];
    char fmt[kText];
    for (int i = 0; i < 4; ++i) {
      LangText(rows[i].key, rows[i].builtin, fmt, sizeof fmt);
      texts[i] = shx::FormatWithText(fmt, rows[i].arg);
    }
    LangText("kelshmenutext4", "Copy File [%s] to my virtual HardDisk", fmt, sizeof fmt);
    texts[4] = shx::FormatWithText(fmt, bare);
    if (st.byOther) return none;

    std::memset(DriverMap, 0, sizeof DriverMap);
    UINT pos = index;
    InsertMenuA(menu, pos++, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    for (UINT i = 0; i < 4; ++i) {
      const UINT state = rows[i].grayed ? (MF_GRAYED | MF_DISABLED) : MF_ENABLED;
      InsertMenuA(menu, pos++, MF_BYPOSITION | MF_STRING | state, first + i, texts[i].c_str());
      SetMenuItemBitmaps(menu, first + i, MF_BYCOMMAND, m_hbim1, m_hbim2);
    }
    UINT used = 4;
    const DWORD letters = GetMountedDev();
    Tracef("%x\n", static_cast<unsigned>(letters));
    if (letters != 0) {
      // A popup of its own for this menu: the host destroys it with its
      // menu, so no handle is shared with a menu on another thread.
      HMENU sub = CreatePopupMenu();
      if (sub != nullptr) {
        UINT subPos = 0;
        for (const shx::CopyTarget& t : shx::CopyTargets(letters)) {
          char entry[8];
          std::snprintf(entry, sizeof entry, "%c:\\", t.letter);
          InsertMenuA(sub, subPos++, MF_BYPOSITION | MF_STRING, first + t.offset, entry);
          DriverMap[t.offset] = t.letter;
          used = t.offset + 1;
        }
        const UINT state = st.byMe ? (MF_GRAYED | MF_DISABLED) : MF_ENABLED;
        if (InsertMenuA(menu, pos, MF_BYPOSITION | MF_POPUP | state, reinterpret_cast<UINT_PTR>(sub), texts[4].c_str())) {
          SetMenuItemBitmaps(menu, pos, MF_BYPOSITION, m_hbim1, m_hbim2);
          ++pos;
        } else {
          DestroyMenu(sub);
          std::memset(DriverMap, 0, sizeof DriverMap);
          used = 4;
        }
      }
    }
    InsertMenuA(menu, pos, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    for (char c : DriverMap) Tracef("%x\n\r", static_cast<unsigned>(static_cast<unsigned char>(c)));
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, used);
  } catch (...) {
    return none;
  }
}

STDMETHODIMP CShellExt::InvokeCommand(LPCMINVOKECOMMANDINFO info) {
  if (info == nullptr) return E_INVALIDARG;
  if (HIWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb)) != 0) return E_INVALIDARG;
  const unsigned offset = LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb));
  try {
    switch (offset) {
      case 0:
        DoGAKMenu(1, info->hwnd);
        break;
      case 1:
        DoGAKMenu(2, info->hwnd);
        break;
      case 2:
        DoGAKMenu3(info->hwnd);
        break;
      case 3:
        DoGAKMenu4(info->hwnd);
        break;
      default:
        DoCopyCommand(offset, info->hwnd);
        break;
    }
  } catch (...) {
  }
  return NOERROR;
}

STDMETHODIMP CShellExt::GetCommandString(UINT_PTR, UINT, UINT*, LPSTR, UINT) { return NOERROR; }

// --- Commands.

void CShellExt::DoGAKMenu(unsigned level, HWND owner) {
  char user[16];
  GetKeyToReg(user);
  if (std::strcmp(user, "0") == 0) return;
  if (TakeItem(false) != Take::Taken) return;
  const std::string path = m_szPropSheetFileUserClickedOn;
  if (ProtectFile(level, user, path.c_str(), std::string(shx::BareName(path)).c_str()))
    DispAllChain();
  else
    Message(owner, "kelshtext1", "Set Protection attribute fail", "Virtual Disk", MB_ICONWARNING);
}

void CShellExt::DoGAKMenu3(HWND) {
  char user[16];
  GetKeyToReg(user);
  if (std::strcmp(user, "0") == 0) return;
  if (TakeItem(false) != Take::Taken) return;
  const std::string path = m_szPropSheetFileUserClickedOn;
  DeleteFromChain(user, path.c_str());
  DispAllChain();
  ReSaveProtectFile(user);
  if (IsFolder(path.c_str())) kelm::win::ClearLockStatus(path.c_str());
}

namespace {
// What a Locked Files dialog shows, copied under the lock so that the
// list is filled without it.
std::vector<shx::ChainEntry> UserEntries(const char* user) {
  ChainLock lock;
  const shx::UserRecord* r = Chain().Find(user);
  return r ? r->entries : std::vector<shx::ChainEntry>();
}

void InitCommonOnce() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
}
}  // namespace

void CShellExt::DoGAKMenu4(HWND owner) {
  char id[16];
  GetKeyToReg(id);
  if (std::strcmp(id, "0") == 0) return;
  char user[64];
  kelm::CopyBounded(user, sizeof user, id);
  // The owner's close destroys the dialog with it; a stale handle is not reused.
  HWND dlg = hDlgListHw;
  if (dlg != nullptr && IsWindow(dlg)) {
    if (!IsWindowVisible(dlg)) ShowWindow(dlg, SW_SHOW);
    SendMessageA(dlg, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(user));
    return;
  }
  InitCommonOnce();
  dlg = CreateDialogParamA(g_hmodThisDll, MAKEINTRESOURCEA(IsWin98() ? IDD_LOCKED98 : IDD_LOCKED), owner,
                           ProtectListDialogProc, reinterpret_cast<LPARAM>(user));
  hDlgListHw = dlg;
  if (dlg) ShowWindow(dlg, SW_SHOW);
}

namespace {

void FillList(HWND dlg, const char* user) {
  HWND list = GetDlgItem(dlg, IDC_LIST);
  ListView_SetBkColor(list, 0xDCDCDC);
  ListView_SetTextBkColor(list, 0xDCDCDC);
  ListView_DeleteAllItems(list);
  // Filled anew on every show: old columns go too.
  while (ListView_DeleteColumn(list, 0)) {
  }
  struct Col {
    const char *key, *builtin;
    int width;
  } cols[] = {{"Colname1", "File Name", 310}, {"Colname2", "protection Level", 100}, {"Colname3", "Attribute", 80}};
  char text[kText];
  for (int i = 0; i < 3; ++i) {
    LangText(cols[i].key, cols[i].builtin, text, sizeof text);
    LVCOLUMNA c{};
    c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    c.fmt = LVCFMT_LEFT;
    // Never narrower than the heading: a wider dialog font (a translation,
    // or a substitute for the dialog font) would cut it.
    const int heading = static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
    c.cx = std::max(cols[i].width, heading + 16);
    c.pszText = text;
    c.iSubItem = i;
    SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&c));
  }
  char dirText[kText], fileText[kText];
  LangText("DirectoryText", "Directory", dirText, sizeof dirText);
  LangText("FileText", "File", fileText, sizeof fileText);
  int row = 0;
  for (const shx::ChainEntry& e : UserEntries(user)) {
    std::string upper = e.path;
    for (char& ch : upper)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    LVITEMA it{};
    it.mask = LVIF_TEXT;
    it.iItem = row;
    it.pszText = upper.data();
    const int at = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it)));
    if (at < 0) break;
    std::string level = e.level;
    LVITEMA sub{};
    sub.iSubItem = 1;
    sub.pszText = level.data();
    SendMessageA(list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&sub));
    sub.iSubItem = 2;
    sub.pszText = IsFolder(e.path.c_str()) ? dirText : fileText;
    SendMessageA(list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&sub));
    ++row;
  }
}

void CancelSelected(HWND dlg) {
  char user[21] = {};
  GetDlgItemTextA(dlg, IDC_LIST_USER, user, sizeof user);
  if (user[0] == '\0') return;
  HWND list = GetDlgItem(dlg, IDC_LIST);
  const int sel = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  if (sel < 0) return;
  char text[301] = {};
  LVITEMA it{};
  it.iSubItem = 0;
  it.pszText = text;
  it.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, sel, reinterpret_cast<LPARAM>(&it));
  if (text[0] == '\0') return;
  ListView_DeleteItem(list, sel);
  DeleteFromChain(user, text);
  kelm::win::ClearLockStatus(text);
  DispAllChain();
  ReSaveProtectFile(user);
}

}  // namespace

namespace {

// The stored banner is replaced once per dialog by one drawn to the
// dialog's width, so it spans the dialog whatever its font.
void ShowListBanner(HWND dlg) {
  static kelm::win::Bitmap banner;
  static HWND drawnFor = nullptr;
  if (drawnFor == dlg) return;
  char caption[kText] = {};
  GetWindowTextA(dlg, caption, sizeof caption);
  const kelm::win::UniqueIcon icon(
      static_cast<HICON>(LoadImageA(g_hmodThisDll, MAKEINTRESOURCEA(IDI_COPY), IMAGE_ICON, 32, 32, 0)));
  kelm::win::Bitmap drawn = kelm::win::MakeBanner(dlg, GetDlgItem(dlg, IDC_LIST_BANNER), icon.get(), caption, nullptr);
  if (!drawn) return;
  SendDlgItemMessageA(dlg, IDC_LIST_BANNER, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(drawn.get()));
  banner = std::move(drawn);  // an earlier dialog's banner went with its dialog
  drawnFor = dlg;
}

}  // namespace

INT_PTR CALLBACK ProtectListDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  try {
    switch (msg) {
      case WM_INITDIALOG: {
        const char* given = reinterpret_cast<const char*>(lp);
        char user[14] = {};
        if (given != nullptr) kelm::CopyBounded(user, sizeof user, given);
        if (user[0] == '\0') return TRUE;
        ShowListBanner(dlg);
        char text[kText];
        SetDlgItemTextA(dlg, IDC_LIST_USER, user);
        LangText("kelshdeletebtn", "Cancel Protection", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LIST_DELETE, text);
        LangText("kelshexitbtn", "Exit", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LIST_EXIT, text);
        LangText("kelshuseridtext", "User ID:", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LIST_LABEL, text);
        LangText("Level1", "Full protection", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LEGEND1, text);
        LangText("Level2", "General protection", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LEGEND2, text);
        DispAllChain();
        FillList(dlg, user);
        return TRUE;
      }
      case WM_COMMAND:
        if (LOWORD(wp) == IDC_LIST_DELETE) {
          CancelSelected(dlg);
          return TRUE;
        }
        if (LOWORD(wp) == IDC_LIST_EXIT || LOWORD(wp) == IDCANCEL) {
          ShowWindow(dlg, SW_HIDE);
          return TRUE;
        }
        break;
      case WM_CLOSE:
        ShowWindow(dlg, SW_HIDE);
        return TRUE;
    }
  } catch (...) {
  }
  return FALSE;
}

// --- Copy to a virtual disk.

namespace {

struct _COPYINFO_ {
  char from[MAX_PATH];
  char to[MAX_PATH];
};
_COPYINFO_ COPYINFO;
volatile LONG isShouldStop = 0;
// One copy thread at a time: COPYINFO is read by it until it ends, also
// after Cancel has hidden the dialog.
volatile LONG g_copyRunning = 0;

void Progress(const char* text) {
  HWND dlg = hDlgCopyHw;
  if (dlg == nullptr) return;
  SetDlgItemTextA(dlg, IDC_COPY_TEXT, text);
  SendDlgItemMessageA(dlg, IDC_COPY_BAR, PBM_SETRANGE32, 0, 100);
  SendDlgItemMessageA(dlg, IDC_COPY_BAR, PBM_SETPOS, 0, 0);
  RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void ProgressDone() {
  HWND dlg = hDlgCopyHw;
  if (dlg == nullptr) return;
  SendDlgItemMessageA(dlg, IDC_COPY_BAR, PBM_SETPOS, 100, 0);
  RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

struct PieceState {
  int shown = -1;
};

// MyCopyFile's piece callback: moves the bar with the bytes copied and
// stops between pieces once Cancel was pressed.
bool OnPiece(void* context, ULONGLONG done, ULONGLONG total) {
  auto* st = static_cast<PieceState*>(context);
  const int pct = total ? static_cast<int>(done * 100 / total) : 100;
  if (pct != st->shown && hDlgCopyHw != nullptr) {
    st->shown = pct;
    SendDlgItemMessageA(hDlgCopyHw, IDC_COPY_BAR, PBM_SETPOS, pct, 0);
  }
  return isShouldStop == 0;
}

bool Stopped() { return isShouldStop != 0; }

void CopyFailBox(const char* source) {
  char caption[kText];
  LangText("kelshtext7", "Copy File Fail", caption, sizeof caption);
  MessageBoxA(hDlgCopyHw, source, caption, MB_OK | MB_ICONWARNING);
}

// Text of a language format with one path.
void StepText(const char* key, const char* builtin, const char* path) {
  char fmt[kText];
  LangText(key, builtin, fmt, sizeof fmt);
  Progress(shx::FormatWithText(fmt, path).c_str());
}

int CopyOne(const char* from, const char* to) {
  PieceState st;
  return kelm::win::MyCopyFile(from, to, hDlgCopyHw, OnPiece, &st);
}

}  // namespace

int CreateDir(const char* path) {
  const std::size_t len = std::strlen(path);
  if (len >= MAX_PATH) return 0;
  char part[MAX_PATH];
  for (std::size_t i = 3; i < len; ++i) {
    if (path[i] != '\\') continue;
    std::memcpy(part, path, i);
    part[i] = '\0';
    if (!IsFolder(part) && !CreateDirectoryA(part, nullptr)) return 0;
  }
  CreateDirectoryA(path, nullptr);
  return 1;
}

int CreateDirofFile(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return 1;
  const std::size_t n = static_cast<std::size_t>(slash - path);
  if (n <= 2) return 1;
  char parent[MAX_PATH];
  if (n >= sizeof parent) return 0;
  std::memcpy(parent, path, n);
  parent[n] = '\0';
  return CreateDir(parent);
}

int COPYTODEST(const char* from, const char* to) {
  if (Stopped()) return 0;
  if (IsFolder(from)) {
    if (!IsFolder(to)) {
      StepText("kelshtext4", "Create Directory: %s", to);
      if (!CreateDir(to)) {
        char caption[kText];
        LangText("kelshtext5", "Create Directory Fail.", caption, sizeof caption);
        MessageBoxA(hDlgCopyHw, to, caption, MB_OK | MB_ICONWARNING);
        return 0;
      }
      ProgressDone();
    }
    const std::string pattern = std::string(from) + "\\*.*";
    WIN32_FIND_DATAA fd;
    kelm::win::FindHandle find(FindFirstFileA(pattern.c_str(), &fd));
    if (!find) return 1;
    bool first = true;
    do {
      if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
      if (Stopped()) return 0;
      const std::string s = std::string(from) + "\\" + fd.cFileName;
      const std::string d = std::string(to) + "\\" + fd.cFileName;
      // Paths past the buffers the design gives them are refused, not cut.
      if (s.size() >= MAX_PATH || d.size() >= MAX_PATH) {
        CopyFailBox(s.c_str());
        return 0;
      }
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!COPYTODEST(s.c_str(), d.c_str())) return 0;
      } else {
        StepText("kelshtext6", "Copy File: %s", first ? d.c_str() : s.c_str());
        if (!CopyOne(s.c_str(), d.c_str())) {
          if (!Stopped()) CopyFailBox(s.c_str());
          return 0;
        }
        ProgressDone();
      }
      first = false;
    } while (FindNextFileA(find.get(), &fd));
    return 1;
  }
  if (!IsFile(to) && !CreateDirofFile(to)) {
    CopyFailBox(from);
    return 0;
  }
  if (!CopyOne(from, to)) {
    if (!Stopped()) CopyFailBox(from);
    return 0;
  }
  return 1;
}

namespace {

DWORD WINAPI CopyProc(LPVOID module) {
  // An exception must not end the host's process; the copy just stops.
  try {
    COPYTODEST(COPYINFO.from, COPYINFO.to);
  } catch (...) {
  }
  if (hDlgCopyHw != nullptr) SendMessageA(hDlgCopyHw, WM_CLOSE, 0, 0);
  InterlockedExchange(&g_copyRunning, 0);
  // The thread's own reference keeps the library loaded until it is out.
  FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

bool StartCopyThread() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&CopyProc), &self))
    return false;
  HANDLE t = CreateThread(nullptr, 0, CopyProc, self, 0, nullptr);
  if (t == nullptr) {
    InterlockedExchange(&g_copyRunning, 0);
    FreeLibrary(self);
    return false;
  }
  CloseHandle(t);
  return true;
}

}  // namespace

INT_PTR CALLBACK CopyDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      // The stop flag is cleared when a copy starts, not on every message,
      // so that Cancel holds until the copy thread has seen it.
      InterlockedExchange(&isShouldStop, 0);
      hDlgCopyHw = dlg;
      if (!StartCopyThread()) {
        InterlockedExchange(&g_copyRunning, 0);
        DestroyWindow(dlg);
        hDlgCopyHw = nullptr;
        return TRUE;
      }
      char text[kText];
      LangText("kelshcancelbtn", "Cancel", text, sizeof text);
      SetDlgItemTextA(dlg, IDC_COPY_CANCEL, text);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_COPY_CANCEL || LOWORD(wp) == IDCANCEL) {
        InterlockedExchange(&isShouldStop, 1);
        ShowWindow(dlg, SW_HIDE);
        return TRUE;
      }
      break;
    case WM_CLOSE:
      ShowWindow(dlg, SW_HIDE);
      return TRUE;
  }
  return FALSE;
}

void MyCopyFileWithDlg(const char* from, const char* to, HWND owner) {
  kelm::CopyBounded(COPYINFO.from, sizeof COPYINFO.from, from);
  kelm::CopyBounded(COPYINFO.to, sizeof COPYINFO.to, to);
  HWND dlg = hDlgCopyHw;
  if (dlg != nullptr && IsWindow(dlg)) {
    SendMessageA(dlg, WM_INITDIALOG, 0, 0);
    if (hDlgCopyHw != nullptr) ShowWindow(dlg, SW_SHOW);
    return;
  }
  hDlgCopyHw = nullptr;
  InitCommonOnce();
  dlg = CreateDialogParamA(g_hmodThisDll, MAKEINTRESOURCEA(IsWin98() ? IDD_COPY98 : IDD_COPY), owner, CopyDialogProc, 0);
  if (dlg != nullptr && hDlgCopyHw == dlg)
    ShowWindow(dlg, SW_SHOW);
  else if (dlg == nullptr)
    InterlockedExchange(&g_copyRunning, 0);  // no dialog, no thread
}

void CShellExt::DoCopyCommand(unsigned offset, HWND owner) {
  HWND dlg = hDlgCopyHw;
  if (dlg != nullptr && IsWindow(dlg) && IsWindowVisible(dlg)) return;
  // One copy per process, claimed here so that a command on another thread
  // cannot overwrite COPYINFO; a copy whose dialog Cancel already hid still
  // holds it until its thread ends.
  if (InterlockedCompareExchange(&g_copyRunning, 1, 0) != 0) return;
  bool started = false;
  try {
    if (offset >= static_cast<unsigned>(kDriverMapSize) || DriverMap[offset] == 0) {
      Message(owner, "kelshtext2", "Copy File to Umbrel Hard Disk Fail.", "Virtual Disk", MB_ICONWARNING);
    } else if (TakeItem(false) == Take::Taken) {
      const std::string dest = shx::CopyDestination(m_szPropSheetFileUserClickedOn, DriverMap[offset]);
      char text[kText];
      LangText("kelshtext3", "The destination File is Existing,do you want to overwrite?", text, sizeof text);
      if (!IsFile(dest.c_str()) || MessageBoxA(owner, text, "Virtual Disk", MB_YESNO | MB_ICONQUESTION) == IDYES) {
        started = true;  // the dialog or the thread gives the claim back from here
        MyCopyFileWithDlg(m_szPropSheetFileUserClickedOn, dest.c_str(), owner);
      }
    }
  } catch (...) {
  }
  if (!started) InterlockedExchange(&g_copyRunning, 0);
}
