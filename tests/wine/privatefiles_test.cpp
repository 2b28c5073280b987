// The private files dialog runs for real in this process with a real list
// view; a helper thread reads and drives it through its controls. The
// dialog and a decorated folder (as the system's file dialog shows it) are
// saved as PNG in C:\kelmtest\shots\privatefiles.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cfg/privatefiles.h"
#include "common/win32/language.h"
#include "common/win32/lockdecor.h"
#include "common/win32/protectstore.h"
#include "screenshot.h"
#include "resources/privatefiles.h"
#include "protectfix.h"
#include "uidriver.h"

using namespace kelmtest;
namespace win = kelm::win;

namespace {

const std::string kWork = "C:\\kelmtest\\privfiles";
constexpr char kShots[] = "C:\\kelmtest\\shots";
const std::string kShotDir = "C:\\kelmtest\\shots\\privatefiles";
constexpr char kUser[] = "1234";
constexpr char kCaption[] = "Private Files";

std::string Shot(const char* name) { return kShotDir + "\\" + name + ".png"; }

INT_PTR RunDriven(const std::function<INT_PTR()>& dialog, const std::function<void()>& script) {
  std::thread driver([&] {
    script();
    CloseAll();
  });
  const INT_PTR r = dialog();
  driver.join();
  return r;
}

HWND List(HWND dlg) { return GetDlgItem(dlg, IDC_PRIV_LIST); }

int RowCount(HWND dlg) { return static_cast<int>(SendMessageA(List(dlg), LVM_GETITEMCOUNT, 0, 0)); }

std::string Cell(HWND dlg, int row, int column) {
  char buf[600] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = buf;
  item.cchTextMax = sizeof buf;
  SendMessageA(List(dlg), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return buf;
}

// Each row as "path|level|attribute", top to bottom.
std::vector<std::string> Rows(HWND dlg) {
  std::vector<std::string> rows;
  for (int r = 0; r < RowCount(dlg); ++r) rows.push_back(Cell(dlg, r, 0) + "|" + Cell(dlg, r, 1) + "|" + Cell(dlg, r, 2));
  return rows;
}

void Select(HWND dlg, int row) {
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(List(dlg), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool Checked(HWND dlg) { return SendDlgItemMessageA(dlg, IDC_PRIV_ENABLE, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Waits until pred holds (bounded).
bool WaitFor(const std::function<bool()>& pred, DWORD ms = 5000) {
  const DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
  return true;
}

// Posts a click and waits until the dialog's thread has handled it.
void ClickAndSettle(HWND dlg, int id) {
  Click(dlg, id);
  SendMessageA(dlg, WM_NULL, 0, 0);  // queued after the click's messages
  SendMessageA(dlg, WM_NULL, 0, 0);
}

std::string IconOf(const std::string& folder) {
  char buf[MAX_PATH] = {};
  GetPrivateProfileStringA(".ShellClassInfo", "IconFile", "<none>", buf, sizeof buf, (folder + "\\Desktop.ini").c_str());
  return buf;
}

bool IsSystem(const std::string& folder) { return (Attributes(folder) & FILE_ATTRIBUTE_SYSTEM) != 0; }

class PrivateFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    win::LanguageInit(win::LanguageFileKind::ProgramDir);
    CreateDirectoryA(kShots, nullptr);
    CreateDirectoryA(kShotDir.c_str(), nullptr);
  }
  void SetUp() override {
    if (KeyExists("Software\\kesk")) GTEST_SKIP() << "Software\\kesk exists in the prefix; not touching it";
    owned_ = true;
    RemoveTree(kWork);
    ASSERT_TRUE(CreateDirectoryA(kWork.c_str(), nullptr));
    ASSERT_TRUE(files_.Install());
  }
  void TearDown() override {
    if (!owned_) return;
    RemoveTree(kWork);
    files_.Remove();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\kesk");
    WriteProfileStringA("lockfilechk", kUser, nullptr);
  }
  static std::string Folder(const char* name) {
    const std::string f = kWork + "\\" + name;
    CreateDirectoryA(f.c_str(), nullptr);
    return f;
  }
  // Entries A (folder, level 2), B (folder, level 1), C (file, level 1),
  // stored in this order and decorated as protecting them did.
  void StoreABC() {
    a_ = Folder("Alpha");
    b_ = Folder("Beta");
    c_ = kWork + "\\Gamma.txt";
    ASSERT_TRUE(WriteFileBytes(c_, "private"));
    ASSERT_TRUE(win::SetPrivateFiles(kUser, true));
    ASSERT_TRUE(StoreValues(kUser, {{"fileNum", "3"}, {"filelevel0", "2"}, {"filename0", a_}, {"filelevel1", "1"},
                                    {"filename1", b_}, {"filelevel2", "1"}, {"filename2", c_}}));
    ASSERT_EQ(win::ShowLockStatus(a_.c_str(), 2), 1);
    ASSERT_EQ(win::ShowLockStatus(b_.c_str(), 1), 1);
  }
  static INT_PTR Open(const std::function<void(HWND)>& script) {
    return RunDriven([] { return kelm::cfg::PrivateFilesDialog(nullptr, kUser); },
                     [&] {
                       HWND d = WaitDialog(kCaption);
                       ASSERT_NE(d, nullptr);
                       script(d);
                       Click(d, IDC_PRIV_EXIT);
                       EXPECT_TRUE(WaitGone(d));
                     });
  }
  DecorationFiles files_;
  std::string a_, b_, c_;
  bool owned_ = false;
};

TEST_F(PrivateFiles, NewUserTextsColumnsAndStyles) {
  EXPECT_EQ(Open([](HWND d) {
              EXPECT_EQ(WindowText(d), "Private Files");
              EXPECT_EQ(ItemText(d, IDC_PRIV_USERLABEL), "User ID: ");
              EXPECT_EQ(ItemText(d, IDC_PRIV_USERID), "1234");
              EXPECT_EQ(ItemText(d, IDC_PRIV_CANCELPROTECT), "Cancel Protect");
              EXPECT_EQ(ItemText(d, IDC_PRIV_EXIT), "Exit");
              EXPECT_EQ(ItemText(d, IDC_PRIV_ENABLE), "Enable Set Private Files");
              EXPECT_EQ(ItemText(d, IDC_PRIV_LEGEND1), "1=");
              EXPECT_EQ(ItemText(d, IDC_PRIV_LEVEL1), "Full Protection");
              EXPECT_EQ(ItemText(d, IDC_PRIV_LEGEND2), "2=");
              EXPECT_EQ(ItemText(d, IDC_PRIV_LEVEL2), "General Protection");
              const char* names[] = {"FileName", "Protect Level", "Attribute"};
              const int widths[] = {300, 100, 80};
              for (int i = 0; i < 3; ++i) {
                char text[64] = {};
                LVCOLUMNA col{};
                col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
                col.pszText = text;
                col.cchTextMax = sizeof text;
                ASSERT_TRUE(SendMessageA(List(d), LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&col)));
                EXPECT_STREQ(text, names[i]);
                EXPECT_EQ(col.cx, widths[i]);
                EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
              }
              const LONG style = GetWindowLongA(List(d), GWL_STYLE);
              EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
              EXPECT_TRUE(style & LVS_SINGLESEL);
              EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
              EXPECT_TRUE(style & LVS_SORTASCENDING);
              EXPECT_EQ(RowCount(d), 0);
              EXPECT_FALSE(Checked(d));
              EXPECT_NE(SendMessageA(d, WM_GETICON, ICON_SMALL, 0), 0);
            }),
            IDOK);
  // Opening changed nothing.
  EXPECT_FALSE(KeyExists("Software\\kesk"));
}

TEST_F(PrivateFiles, LastEntryOnTopAndCancelProtectRewritesTheRest) {
  StoreABC();
  const std::string missing = kWork + "\\Gone";
  ASSERT_TRUE(StoreValues(kUser, {{"fileNum", "4"}, {"filelevel3", "2"}, {"filename3", missing}}));
  Open([&](HWND d) {
    EXPECT_TRUE(Checked(d));
    EXPECT_EQ(Rows(d), (std::vector<std::string>{missing + "|2|", c_ + "|1|File", b_ + "|1|Directory",
                                                  a_ + "|2|Directory"}));
    // Cancel the protection of B.
    Select(d, 2);
    RedrawWindow(d, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_TRUE(SaveWindowPng(Shot("01-private-files"), d));
    ClickAndSettle(d, IDC_PRIV_CANCELPROTECT);
    EXPECT_TRUE(WaitFor([&] { return RowCount(d) == 3; }));
    EXPECT_EQ(Rows(d), (std::vector<std::string>{missing + "|2|", c_ + "|1|File", a_ + "|2|Directory"}));
    RedrawWindow(d, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_TRUE(SaveWindowPng(Shot("02-after-cancel-protect"), d));
  });
  // Top to bottom: the missing one, C, A.
  EXPECT_EQ(StoredText(kUser, "fileNum"), "3");
  EXPECT_EQ(StoredText(kUser, "filename0"), missing);
  EXPECT_EQ(StoredText(kUser, "filelevel0"), "2");
  EXPECT_EQ(StoredText(kUser, "filename1"), c_);
  EXPECT_EQ(StoredText(kUser, "filelevel1"), "1");
  EXPECT_EQ(StoredText(kUser, "filename2"), a_);
  EXPECT_EQ(StoredText(kUser, "filelevel2"), "2");
  EXPECT_EQ(StoredText(kUser, "filename3"), missing) << "past the count, left as it was";
  // B lost its decoration; A keeps the icon of its own level 2.
  EXPECT_EQ(ReadFileBytes(b_ + "\\Desktop.ini"), kClearedIni);
  EXPECT_FALSE(IsSystem(b_));
  EXPECT_EQ(ReadFileBytes(a_ + "\\Desktop.ini"), DecoratedIni(DecorationFiles::Path("lockfld2.ico")));
  EXPECT_TRUE(IsSystem(a_));
  EXPECT_FALSE(Exists(missing));
}

TEST_F(PrivateFiles, ThreeEntriesCancelTheMiddleOne) {
  StoreABC();
  Open([&](HWND d) {
    EXPECT_EQ(Rows(d), (std::vector<std::string>{c_ + "|1|File", b_ + "|1|Directory", a_ + "|2|Directory"}));
    Select(d, 1);
    ClickAndSettle(d, IDC_PRIV_CANCELPROTECT);
    EXPECT_TRUE(WaitFor([&] { return RowCount(d) == 2; }));
    EXPECT_EQ(Rows(d), (std::vector<std::string>{c_ + "|1|File", a_ + "|2|Directory"}));
  });
  EXPECT_EQ(StoredText(kUser, "fileNum"), "2");
  EXPECT_EQ(StoredText(kUser, "filename0"), c_);
  EXPECT_EQ(StoredText(kUser, "filename1"), a_);
  EXPECT_EQ(IconOf(a_), DecorationFiles::Path("lockfld2.ico"));
  // Opened again, the rewritten store shows from its last entry: A, C.
  Open([&](HWND d) {
    EXPECT_EQ(Rows(d), (std::vector<std::string>{a_ + "|2|Directory", c_ + "|1|File"}));
  });
}

TEST_F(PrivateFiles, CancelProtectWithoutSelectionRedecoratesEachWithItsLevel) {
  StoreABC();
  // A decoration lost meanwhile (here: cleared by hand) comes back.
  ASSERT_EQ(win::ClearLockStatus(a_.c_str()), 1);
  Open([&](HWND d) {
    ClickAndSettle(d, IDC_PRIV_CANCELPROTECT);
    EXPECT_EQ(RowCount(d), 3);
  });
  EXPECT_EQ(StoredText(kUser, "fileNum"), "3");
  EXPECT_EQ(StoredText(kUser, "filename0"), a_);
  EXPECT_EQ(IconOf(a_), DecorationFiles::Path("lockfld2.ico"));
  EXPECT_EQ(IconOf(b_), DecorationFiles::Path("lockfld1.ico"));
  EXPECT_TRUE(IsSystem(a_));
  EXPECT_TRUE(IsSystem(b_));
}

TEST_F(PrivateFiles, UncheckingClearsListAndDecorationsCheckingAgainShowsEmpty) {
  StoreABC();
  Open([&](HWND d) {
    ASSERT_TRUE(Checked(d));
    ClickAndSettle(d, IDC_PRIV_ENABLE);
    EXPECT_TRUE(WaitFor([&] { return !Checked(d) && RowCount(d) == 0; }));
    EXPECT_EQ(ProfileText("lockfilechk", kUser), "0");
    EXPECT_EQ(StoredText(kUser, "fileNum"), "0");
    EXPECT_EQ(StoredText(kUser, "lockfile"), "no");
    EXPECT_EQ(ReadFileBytes(a_ + "\\Desktop.ini"), kClearedIni);
    EXPECT_EQ(ReadFileBytes(b_ + "\\Desktop.ini"), kClearedIni);
    EXPECT_FALSE(IsSystem(a_));
    EXPECT_FALSE(IsSystem(b_));
    ClickAndSettle(d, IDC_PRIV_ENABLE);
    EXPECT_TRUE(WaitFor([&] { return Checked(d); }));
    EXPECT_EQ(ProfileText("lockfilechk", kUser), "1");
    EXPECT_EQ(StoredText(kUser, "lockfile"), "yes");
    EXPECT_EQ(RowCount(d), 0);
  });
  EXPECT_EQ(StoredText(kUser, "filename0"), a_) << "entries stay past the count";
  Open([&](HWND d) {
    EXPECT_TRUE(Checked(d));
    EXPECT_EQ(RowCount(d), 0);
  });
}

// The user's key made read-only (sddl), or writable again.
bool KeyAccess(const char* sddl) {
  kelm::win::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\kesk\\1234", 0, WRITE_DAC, key.put()) != ERROR_SUCCESS)
    return false;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr)) return false;
  const LONG err = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd);
  LocalFree(sd);
  return err == ERROR_SUCCESS;
}
constexpr char kReadOnly[] = "D:P(A;;KR;;;WD)";
constexpr char kAllAccess[] = "D:P(A;;KA;;;WD)";

TEST_F(PrivateFiles, ARefusedRewriteShowsWhatIsStored) {
  StoreABC();
  ASSERT_TRUE(KeyAccess(kReadOnly));
  kelm::win::RegKey probe;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\kesk\\1234", 0, KEY_SET_VALUE, probe.put()) == ERROR_SUCCESS) {
    KeyAccess(kAllAccess);
    GTEST_SKIP() << "this Wine does not refuse writes to a read-only key";
  }
  Open([&](HWND d) {
    Select(d, 1);
    ClickAndSettle(d, IDC_PRIV_CANCELPROTECT);
    // The row comes back: the store still holds B.
    EXPECT_EQ(Rows(d), (std::vector<std::string>{c_ + "|1|File", b_ + "|1|Directory", a_ + "|2|Directory"}));
    // Nor is the switch shown off while the store keeps it on.
    ClickAndSettle(d, IDC_PRIV_ENABLE);
    EXPECT_TRUE(Checked(d));
    EXPECT_EQ(RowCount(d), 3);
  });
  ASSERT_TRUE(KeyAccess(kAllAccess));
  EXPECT_EQ(StoredText(kUser, "fileNum"), "3");
  EXPECT_EQ(StoredText(kUser, "lockfile"), "yes");
  EXPECT_EQ(ProfileText("lockfilechk", kUser), "1");
  // Every folder keeps the decoration of its level.
  EXPECT_EQ(IconOf(a_), DecorationFiles::Path("lockfld2.ico"));
  EXPECT_EQ(IconOf(b_), DecorationFiles::Path("lockfld1.ico"));
}

TEST_F(PrivateFiles, EscapeEndsIt) {
  EXPECT_EQ(RunDriven([] { return kelm::cfg::PrivateFilesDialog(nullptr, kUser); },
                      [] {
                        HWND d = WaitDialog(kCaption);
                        ASSERT_NE(d, nullptr);
                        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
                        EXPECT_TRUE(WaitGone(d));
                      }),
            IDOK);
}

// What each folder's Desktop.ini tells the shell to show: its IconFile
// drawn at 32 and 16 pixels beside its name and InfoTip, in a window of
// this test (Wine's own shell does not take IconFile, see below).
struct IconSheet {
  std::vector<std::string> folders;
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_PAINT) return DefWindowProcA(w, msg, wp, lp);
    auto* sheet = reinterpret_cast<IconSheet*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT all;
    GetClientRect(w, &all);
    FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    int y = 10;
    for (const std::string& f : sheet ? sheet->folders : std::vector<std::string>{}) {
      const std::string ini = f + "\\Desktop.ini";
      char icon[MAX_PATH] = {}, tip[128] = {};
      GetPrivateProfileStringA(".ShellClassInfo", "IconFile", "", icon, sizeof icon, ini.c_str());
      GetPrivateProfileStringA(".ShellClassInfo", "InfoTip", "", tip, sizeof tip, ini.c_str());
      HICON big = nullptr, small = nullptr;
      // Without IconFile: the shell's plain folder icon.
      ExtractIconExA(icon[0] != '\0' ? icon : "shell32.dll", icon[0] != '\0' ? 0 : -4, &big, &small, 1);
      if (big) DrawIconEx(dc, 10, y, big, 32, 32, 0, nullptr, DI_NORMAL);
      if (small) DrawIconEx(dc, 52, y + 8, small, 16, 16, 0, nullptr, DI_NORMAL);
      const std::string name = f.substr(f.rfind('\\') + 1);
      const std::string line2 = std::string("InfoTip: ") + (tip[0] ? tip : "(none)") +
                                (icon[0] ? std::string("   IconFile: ") + icon : std::string("   no IconFile"));
      TextOutA(dc, 80, y + 2, name.c_str(), static_cast<int>(name.size()));
      TextOutA(dc, 80, y + 17, line2.c_str(), static_cast<int>(line2.size()));
      if (big) DestroyIcon(big);
      if (small) DestroyIcon(small);
      y += 44;
    }
    EndPaint(w, &ps);
    return 0;
  }
};

// How the decoration looks. Wine's shell reads a system folder's IconFile
// but does not hand it on (it draws such a folder with its default document
// icon), so the file dialog shows which folders are decorated, and the icon
// sheet shows the icons themselves.
TEST_F(PrivateFiles, DecoratedFoldersAsShown) {
  const std::string dir = Folder("Shown");
  std::vector<std::string> folders;
  for (const char* n : {"Full Protection", "General Protection", "Plain Folder"}) {
    folders.push_back(dir + "\\" + n);
    CreateDirectoryA(folders.back().c_str(), nullptr);
  }
  ASSERT_EQ(win::ShowLockStatus(folders[0].c_str(), 1), 1);
  ASSERT_EQ(win::ShowLockStatus(folders[1].c_str(), 2), 1);

  char file[MAX_PATH] = "";
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrInitialDir = dir.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING;
  RunDriven([&] { return static_cast<INT_PTR>(GetOpenFileNameA(&ofn)); },
            [&] {
              HWND d = WaitDialog("Open");
              ASSERT_NE(d, nullptr);
              SetWindowPos(d, nullptr, 0, 0, 640, 380, SWP_NOMOVE | SWP_NOZORDER);
              HWND view = FindWindowExA(d, nullptr, "SHELLDLL_DefView", nullptr);
              ASSERT_NE(view, nullptr);
              HWND lv = FindWindowExA(view, nullptr, "SysListView32", nullptr);
              ASSERT_NE(lv, nullptr);
              EXPECT_TRUE(WaitFor([&] { return SendMessageA(lv, LVM_GETITEMCOUNT, 0, 0) == 3; }));
              const struct {
                WPARAM command;
                const char* shot;
              } views[] = {{0x7029 /* FCIDM_SHVIEW_BIGICON */, "03-file-dialog-icons"},
                           {0x702C /* FCIDM_SHVIEW_REPORTVIEW */, "04-file-dialog-details"}};
              for (const auto& v : views) {
                SendMessageA(view, WM_COMMAND, v.command, 0);
                lv = FindWindowExA(view, nullptr, "SysListView32", nullptr);
                if (v.command == 0x702C && lv) {
                  const int widths[] = {150, 60, 60, 140, 80};
                  for (int c = 0; c < 5; ++c) SendMessageA(lv, LVM_SETCOLUMNWIDTH, c, widths[c]);
                }
                Sleep(300);  // icons are drawn once the view has extracted them
                RedrawWindow(d, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
                EXPECT_TRUE(SaveWindowPng(Shot(v.shot), d));
              }
              PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
              EXPECT_TRUE(WaitGone(d));
            });

  IconSheet sheet{folders};
  WNDCLASSA wc{};
  wc.lpfnWndProc = IconSheet::Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = "KelmIconSheet";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, wc.lpszClassName, "Protected folders (IconFile of each Desktop.ini)",
                           WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 20, 20, 640, 190, nullptr, nullptr,
                           wc.hInstance, nullptr);
  ASSERT_NE(w, nullptr);
  SetWindowLongPtrA(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&sheet));
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_FRAME);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  EXPECT_TRUE(SaveWindowPng(Shot("05-folder-icons"), w));
  DestroyWindow(w);
}

}  // namespace

int main(int argc, char** argv) {
  const int respawn = RespawnUnmanaged();
  if (respawn >= 0) return respawn;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
