// kelmsh.dll in a real host: registered as the installer registers it, the
// library in the Windows directory, loaded through COM by shhost.exe (one
// fresh load per run) with the data objects of Wine's own shell. A window
// titled "Virtual Disk Manager" in this process answers the drive letters
// and counts the reload requests.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <cstdio>
#include <vector>

#include "common/win32/handles.h"
#include "protectfix.h"
#include "shellhost.h"

using kelm::win::RegKey;
using kelm::win::UniqueHandle;
using namespace kelmtest;

namespace {

constexpr char kRoot[] = "C:\\shx";
std::string g_shots;

// --- The KelmCfg main window as kelmsh sees it.
volatile LONG g_reloads = 0;
volatile DWORD g_letters = 0;
LRESULT CALLBACK MainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == 0x7000) return static_cast<LRESULT>(g_letters);
  if (m == 0x800A) {
    InterlockedIncrement(&g_reloads);
    return 1;
  }
  return DefWindowProcA(w, m, wp, lp);
}

class MainWindow {
 public:
  MainWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ShxTestMain";
    RegisterClassA(&wc);
    w_ = CreateWindowA("ShxTestMain", "Virtual Disk Manager", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
  }
  ~MainWindow() { DestroyWindow(w_); }

 private:
  HWND w_;
};

class Shell : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Register();
    InstallHost();
    char* shots = std::getenv("KELM_SHOTS");
    g_shots = shots ? shots : "C:\\shxshots";
    CreateDirectoryA(g_shots.c_str(), nullptr);
  }
  void SetUp() override {
    ASSERT_TRUE(deco_.Install());
    ResetStore();
    RemoveTree(kRoot);
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA((std::string(kRoot) + "\\dir").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(std::string(kRoot) + "\\a.txt", "alpha"));
    ASSERT_TRUE(WriteFileBytes(std::string(kRoot) + "\\b.txt", "beta"));
    ASSERT_TRUE(WriteFileBytes(std::string(kRoot) + "\\dir\\in.txt", "inner"));
    SetUser("1234");
    ASSERT_TRUE(StoreValues("1234", {{"lockfile", "yes"}, {"fileNum", "0"}}));
    g_letters = 0;
    g_reloads = 0;
  }
  void TearDown() override {
    RemoveTree(kRoot);
    ResetStore();
    SetUser("0");
    deco_.Remove();
  }
  DecorationFiles deco_;
};

TEST_F(Shell, ObjectInterfacesAndUnload) {
  ASSERT_TRUE(WriteFileBytes("C:\\kelmsh_icon.ini", "[IconImage]\r\nIndex=3\r\n"));
  const std::string out = Host("unload C:\\shx\\a.txt");
  DeleteFileA("C:\\kelmsh_icon.ini");
  EXPECT_TRUE(Has(out, "canunload start 7fffffff")) << out;  // not loaded yet
  EXPECT_TRUE(Has(out, "canunload object 1")) << out;
  EXPECT_TRUE(Has(out, "unknown is init 1")) << out;
  EXPECT_TRUE(Has(out, "extract 1")) << out;
  EXPECT_TRUE(Has(out, "persist 80004005 1 0 80004005 80004005 80004005")) << out;
  EXPECT_TRUE(Has(out, "geticon after load 0 index 3")) << out;
  EXPECT_NE(out.find("geticon 0 index 0 file C:\\windows\\kelmsh.dll"), std::string::npos) << out;
  EXPECT_TRUE(Has(out, "copyhook 80004002 0000000000000000")) << out;
  EXPECT_TRUE(Has(out, "replace 80004005")) << out;
  EXPECT_TRUE(Has(out, "canunload released 0")) << out;
  EXPECT_TRUE(Has(out, "canunload factory 1")) << out;
  EXPECT_TRUE(Has(out, "aggregate 80040110")) << out;
  EXPECT_TRUE(Has(out, "canunload end 0")) << out;
  EXPECT_TRUE(Has(out, "otherclass 80040111 0000000000000000")) << out;
  // Initialize twice releases the first data object.
  auto refs = Lines(out, "dataobject refs ");
  ASSERT_EQ(refs.size(), 1u) << out;
  unsigned before = 0, after = 0;
  std::sscanf(refs[0].c_str(), "dataobject refs %u -> %u", &before, &after);
  EXPECT_EQ(after + 1, before) << out;
}

TEST_F(Shell, MenuRowsForAFile) {
  MainWindow main;
  g_letters = 0x00470045;  // E: slot 0, G: slot 2
  const std::string out = Host("menu C:\\shx\\a.txt");
  EXPECT_TRUE(Has(out, "ids 6")) << out;
  const std::vector<std::string> want = {
      "row 0 sep",
      "row 1 id=0 grayed=0 checks=1 popup=0 text=Set [a.txt] as my private file(Full Protection)",
      "row 2 id=1 grayed=0 checks=1 popup=0 text=Set [a.txt] as my private file(General Protection)",
      "row 3 id=2 grayed=1 checks=1 popup=0 text=Cancel the protection of [a.txt]",
      "row 4 id=3 grayed=0 checks=1 popup=0 text=Show all protected files of [1234]",
      "row 5 id=-1 grayed=0 checks=1 popup=1 text=Copy File [a.txt] to my virtual HardDisk",
      "sub 0 id=4 grayed=0 checks=0 popup=0 text=E:\\",
      "sub 1 id=5 grayed=0 checks=0 popup=0 text=G:\\",
      "row 6 sep",
  };
  std::vector<std::string> got = Lines(out, "row ");
  auto sub = Lines(out, "sub ");
  got.insert(got.begin() + 6 > got.end() ? got.end() : got.begin() + 6, sub.begin(), sub.end());
  EXPECT_EQ(got, want) << out;
  EXPECT_TRUE(Has(out, "defaultonly rows 0")) << out;
}

TEST_F(Shell, MenuWithoutKelmCfgHasNoCopyRow) {
  const std::string out = Host("menu C:\\shx\\dir");
  EXPECT_TRUE(Has(out, "ids 4")) << out;
  EXPECT_EQ(Lines(out, "row ").size(), 6u) << out;
  EXPECT_TRUE(Has(out, "row 1 id=0 grayed=0 checks=1 popup=0 text=Set [dir] as my private file(Full Protection)")) << out;
  EXPECT_TRUE(Has(out, "row 5 sep")) << out;
}

TEST_F(Shell, ItemsThatShowNothing) {
  MainWindow main;
  g_letters = 0x45;
  ASSERT_TRUE(StoreValues("99", {{"lockfile", "yes"}, {"fileNum", "1"}, {"filelevel0", "1"}, {"filename0", "C:\\shx\\b.txt"}}));
  struct Case {
    const char* name;
    std::string args;
    const char* user;
  } cases[] = {
      {"another user's item", "menu C:\\shx\\b.txt", "1234"},
      {"folder holding another user's item", "menu C:\\shx", "1234"},
      {"Windows directory", "menu " + WindowsDir() + "\\win.ini", "1234"},
      {"drive root", "menu C:\\", "1234"},
      {"two items", "menu C:\\shx\\a.txt C:\\shx\\b.txt", "1234"},
      {"no user", "menu C:\\shx\\a.txt", "0"},
      {"user without a key", "menu C:\\shx\\a.txt", "777"},
  };
  for (const Case& c : cases) {
    SetUser(c.user);
    const std::string out = Host(c.args);
    EXPECT_TRUE(Has(out, "ids 0")) << c.name << "\n" << out;
    EXPECT_TRUE(Lines(out, "row ").empty()) << c.name << "\n" << out;
  }
  // The other user sees its own item with Cancel enabled.
  SetUser("99");
  const std::string own = Host("menu C:\\shx\\b.txt");
  EXPECT_TRUE(Has(own, "row 3 id=2 grayed=0 checks=1 popup=0 text=Cancel the protection of [b.txt]")) << own;
  EXPECT_TRUE(Has(own, "row 1 id=0 grayed=1 checks=1 popup=0 text=Set [b.txt] as my private file(Full Protection)")) << own;
  EXPECT_TRUE(Has(own, "row 5 id=-1 grayed=1 checks=1 popup=1 text=Copy File [b.txt] to my virtual HardDisk")) << own;
  // lockfile "no": nothing.
  ASSERT_TRUE(StoreValues("99", {{"lockfile", "no"}}));
  EXPECT_TRUE(Has(Host("menu C:\\shx\\b.txt"), "ids 0"));
}

TEST_F(Shell, ProtectAndCancelAFolder) {
  MainWindow main;
  std::string out = Host("invoke C:\\shx\\dir 0");
  EXPECT_TRUE(Has(out, "invoke 0")) << out;
  EXPECT_TRUE(Has(out, "stringverb 80070057")) << out;
  EXPECT_EQ(StoredText("1234", "fileNum"), "1");
  EXPECT_EQ(StoredText("1234", "filelevel0"), "1");
  EXPECT_EQ(StoredText("1234", "filename0"), "C:\\shx\\dir");
  EXPECT_EQ(g_reloads, 1);
  const std::string ini = ReadFileBytes("C:\\shx\\dir\\Desktop.ini");
  EXPECT_NE(ini.find("InfoTip=Kelm Locked File"), std::string::npos) << ini;
  EXPECT_NE(ini.find("lockfld1.ico"), std::string::npos) << ini;

  // A new load sees it: Set rows grayed, Cancel enabled; a file inside is
  // not protected itself.
  out = Host("menu C:\\shx\\dir");
  EXPECT_TRUE(Has(out, "row 1 id=0 grayed=1 checks=1 popup=0 text=Set [dir] as my private file(Full Protection)")) << out;
  EXPECT_TRUE(Has(out, "row 3 id=2 grayed=0 checks=1 popup=0 text=Cancel the protection of [dir]")) << out;
  out = Host("menu C:\\shx\\dir\\in.txt");
  EXPECT_TRUE(Has(out, "row 1 id=0 grayed=0 checks=1 popup=0 text=Set [in.txt] as my private file(Full Protection)")) << out;

  // Level 2 on a file beside it, then cancel the folder.
  Host("invoke C:\\shx\\a.txt 1");
  EXPECT_EQ(StoredText("1234", "fileNum"), "2");
  EXPECT_EQ(StoredText("1234", "filelevel1"), "2");
  EXPECT_EQ(g_reloads, 2);
  out = Host("invoke C:\\shx\\dir 2");
  EXPECT_EQ(StoredText("1234", "fileNum"), "1");
  EXPECT_EQ(StoredText("1234", "filename0"), "c:\\shx\\a.txt");  // the chain's form
  EXPECT_EQ(StoredText("1234", "filelevel0"), "2");
  EXPECT_EQ(g_reloads, 3);
  const std::string cleared = ReadFileBytes("C:\\shx\\dir\\Desktop.ini");
  EXPECT_NE(cleared.find("InfoTip=No"), std::string::npos) << cleared;
}

TEST_F(Shell, ProtectFailsWhenTheListIsFullOrSwitchedOff) {
  MainWindow main;
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "511"}}));
  // The failure message box would block the host: answer it from here.
  std::thread closer([] {
    for (int i = 0; i < 100; ++i) {
      HWND box = FindWindowA(nullptr, "Virtual Disk");
      if (box) {
        char text[256] = {};
        HWND st = GetDlgItem(box, 0xFFFF);
        if (st) GetWindowTextA(st, text, sizeof text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(100);
    }
  });
  const std::string out = Host("invoke C:\\shx\\a.txt 0");
  closer.join();
  EXPECT_EQ(StoredText("1234", "fileNum"), "511") << out;
  EXPECT_EQ(StoredText("1234", "filename511"), "<missing>");
  EXPECT_EQ(g_reloads, 0);
}

TEST_F(Shell, LockedFilesDialogListsAndCancels) {
  MainWindow main;
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "2"},
                                   {"filelevel0", "1"},
                                   {"filename0", "C:\\shx\\dir"},
                                   {"filelevel1", "2"},
                                   {"filename1", "C:\\shx\\a.txt"}}));
  const std::string out = Host("list C:\\shx\\a.txt " + g_shots + "\\lockedfiles.png 0");
  EXPECT_TRUE(Has(out, "user 1234")) << out;
  EXPECT_TRUE(Has(out, "buttons Cancel Protection|Exit")) << out;
  EXPECT_TRUE(Has(out, "listrow C:\\SHX\\DIR|1|Directory")) << out;
  EXPECT_TRUE(Has(out, "listrow C:\\SHX\\A.TXT|2|File")) << out;
  EXPECT_TRUE(Has(out, "shot 1")) << out;
  EXPECT_TRUE(Has(out, "canunload visible 1")) << out;
  EXPECT_TRUE(Has(out, "rows after 1")) << out;
  EXPECT_TRUE(Has(out, "hidden 1")) << out;
  EXPECT_TRUE(Has(out, "canunload released 0")) << out;
  EXPECT_EQ(StoredText("1234", "fileNum"), "1");
  EXPECT_EQ(StoredText("1234", "filename0"), "c:\\shx\\a.txt");
  EXPECT_EQ(g_reloads, 1);
}

TEST_F(Shell, ProtectionPage) {
  ASSERT_TRUE(StoreValues("1234", {{"fileNum", "1"}, {"filelevel0", "2"}, {"filename0", "C:\\shx\\dir\\in.txt"}}));
  std::string out = Host("page C:\\shx\\dir " + g_shots + "\\protectionpage.png");
  EXPECT_TRUE(Has(out, "pages 1")) << out;
  EXPECT_TRUE(Has(out, "canunload page alive 1")) << out;
  EXPECT_TRUE(Has(out, "tab Protection")) << out;
  EXPECT_TRUE(Has(out, "ctl 1015 File Name:")) << out;
  EXPECT_TRUE(Has(out, "ctl 1001 C:\\shx\\dir")) << out;
  EXPECT_TRUE(Has(out, "ctl 1002 Owner:")) << out;
  EXPECT_TRUE(Has(out, "ctl 1003 1234")) << out;
  EXPECT_TRUE(Has(out, "ctl 1004 Protect Level:")) << out;
  EXPECT_TRUE(Has(out, "ctl 1005 General Protection")) << out;
  EXPECT_TRUE(Has(out, "shot 1")) << out;
  EXPECT_TRUE(Has(out, "canunload after 0")) << out;
  EXPECT_EQ(ReadFileBytes("C:\\shx\\dir\\in.txt"), "inner");

  out = Host("page C:\\shx\\b.txt");
  EXPECT_TRUE(Has(out, "ctl 1001 C:\\shx\\b.txt")) << out;
  EXPECT_TRUE(Has(out, "ctl 1003")) << out;
  EXPECT_TRUE(Has(out, "ctl 1005")) << out;
  // Whoever the user is.
  SetUser("0");
  EXPECT_TRUE(Has(Host("page C:\\shx\\b.txt"), "pages 1"));
  EXPECT_TRUE(Has(Host("page C:\\shx\\a.txt C:\\shx\\b.txt"), "pages 1") == false);
}

TEST_F(Shell, MenusOnOneThreadWhileAnotherProtects) {
  // Protect and cancel alternate on one thread (an even count ends
  // released) while the other builds menus over a folder holding the item.
  const std::string out = Host("race 200 C:\\shx\\dir C:\\shx\\dir\\in.txt");
  EXPECT_TRUE(Has(out, "race built 200 200")) << out;
  // Both apartments are gone: COM has let the library go, or may.
  EXPECT_TRUE(Has(out, "canunload 0") || Has(out, "canunload 7fffffff")) << out;
  EXPECT_EQ(StoredText("1234", "fileNum"), "0") << out;
}

TEST_F(Shell, MenuOnScreen) {
  MainWindow main;
  g_letters = 0x00470045;
  const std::string out = Host("track C:\\shx\\a.txt " + g_shots + "\\contextmenu.png");
  EXPECT_TRUE(Has(out, "shot 1")) << out;
}

TEST_F(Shell, ThousandCyclesLeaveNothingBehind) {
  MainWindow main;
  g_letters = 0x45;
  const std::string out = Host("cycles 1000 C:\\shx\\a.txt");
  unsigned long h0 = 0, g0 = 0, u0 = 0, h1 = 0, g1 = 0, u1 = 0;
  unsigned long long m0 = 0, m1 = 0;
  auto before = Lines(out, "before "), after = Lines(out, "after ");
  ASSERT_EQ(before.size(), 1u) << out;
  ASSERT_EQ(after.size(), 1u) << out;
  std::sscanf(before[0].c_str(), "before handles=%lu gdi=%lu user=%lu pagefile=%llu", &h0, &g0, &u0, &m0);
  std::sscanf(after[0].c_str(), "after handles=%lu gdi=%lu user=%lu pagefile=%llu", &h1, &g1, &u1, &m1);
  std::printf("%s%s", before[0].c_str(), ("\n" + after[0] + "\n").c_str());
  EXPECT_LE(h1, h0 + 5) << out;
  EXPECT_LE(g1, g0 + 5) << out;
  EXPECT_LE(u1, u0 + 5) << out;
  EXPECT_LE(m1, m0 + 2 * 1024 * 1024) << out;
  EXPECT_TRUE(Has(out, "canunload 0")) << out;
}

// --- Copy to a virtual disk. M: and N: are links in the prefix's
// dosdevices to a folder and to an 8 MB file system, which
// tests/script/wine_shellext_copy_test.sh sets up around this suite.

// Answers the message boxes of the given captions while it lives; keeps
// each box's caption and text.
class BoxCloser {
 public:
  explicit BoxCloser(std::vector<std::string> captions) : captions_(std::move(captions)) {
    thread_ = std::thread([this] {
      while (!stop_) {
        for (const std::string& c : captions_) {
          HWND box = FindWindowA("#32770", c.c_str());
          if (box && IsWindowVisible(box)) {
            char text[512] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            seen_.push_back(c + ": " + text);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            Sleep(200);
          }
        }
        Sleep(50);
      }
    });
  }
  ~BoxCloser() { Stop(); }
  std::vector<std::string> Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  std::vector<std::string> captions_;
  std::vector<std::string> seen_;
  volatile bool stop_ = false;
  std::thread thread_;
};

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  unsigned x = seed;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

class ShellCopy : public Shell {
 protected:
  void SetUp() override {
    if (!IsDir("M:\\") || !IsDir("N:\\")) GTEST_SKIP() << "M: and N: are not linked (run wine_shellext_copy_test.sh)";
    Shell::SetUp();
    RemoveTree("M:\\shx");
    RemoveTree("N:\\shx");
  }
  void TearDown() override {
    if (!IsDir("M:\\")) return;
    RemoveTree("M:\\shx");
    RemoveTree("N:\\shx");
    Shell::TearDown();
  }
  static bool IsDir(const char* p) {
    const DWORD a = GetFileAttributesA(p);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
};

TEST_F(ShellCopy, FileAndTreeArriveByteForByte) {
  MainWindow main;
  g_letters = 0x00004D45;  // E: (no disk behind it) slot 0, M: slot 1
  const std::string file = Pattern(3 * 1024 * 1024 + 17, 1);
  CreateDirectoryA("C:\\shx\\data", nullptr);
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\data\\f.bin", file));
  std::string out = Host("copy C:\\shx\\data\\f.bin 5");
  EXPECT_TRUE(Has(out, "sub 0 id=4 grayed=0 checks=0 popup=0 text=E:\\")) << out;
  EXPECT_TRUE(Has(out, "sub 1 id=5 grayed=0 checks=0 popup=0 text=M:\\")) << out;
  EXPECT_TRUE(Has(out, "dialog 1")) << out;
  EXPECT_TRUE(Has(out, "dialog hidden 1")) << out;
  EXPECT_TRUE(Has(out, "canunload 0")) << out;
  EXPECT_TRUE(ReadFileBytes("M:\\shx\\data\\f.bin") == file);

  // A folder tree keeps its folder path.
  CreateDirectoryA("C:\\shx\\tree", nullptr);
  CreateDirectoryA("C:\\shx\\tree\\sub", nullptr);
  CreateDirectoryA("C:\\shx\\tree\\sub\\deep", nullptr);
  CreateDirectoryA("C:\\shx\\tree\\empty", nullptr);
  const std::string b = Pattern(700000, 2), c = Pattern(5, 3);
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\tree\\a.txt", "top"));
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\tree\\sub\\b.bin", b));
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\tree\\sub\\deep\\c.txt", c));
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\tree\\sub\\zero.bin", ""));
  out = Host("copy C:\\shx\\tree 5");
  EXPECT_TRUE(Has(out, "dialog hidden 1")) << out;
  EXPECT_EQ(ReadFileBytes("M:\\shx\\tree\\a.txt"), "top");
  EXPECT_TRUE(ReadFileBytes("M:\\shx\\tree\\sub\\b.bin") == b);
  EXPECT_EQ(ReadFileBytes("M:\\shx\\tree\\sub\\deep\\c.txt"), c);
  EXPECT_EQ(ReadFileBytes("M:\\shx\\tree\\sub\\zero.bin"), "");
  EXPECT_TRUE(IsDir("M:\\shx\\tree\\empty"));

  // An offset without a drive.
  BoxCloser boxes({"Virtual Disk"});
  out = Host("copy C:\\shx\\data\\f.bin 9");
  const auto seen = boxes.Stop();
  ASSERT_EQ(seen.size(), 1u) << out;
  EXPECT_EQ(seen[0], "Virtual Disk: Copy File to Umbrel Hard Disk Fail.");
}

TEST_F(ShellCopy, FileLargerThanTheFreeSpaceIsRefused) {
  MainWindow main;
  g_letters = 0x4E;  // N: (8 MB)
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\ten.bin", Pattern(10 * 1024 * 1024, 4)));
  BoxCloser boxes({"Warning", "Copy File Fail"});
  const std::string out = Host("copy C:\\shx\\ten.bin 4");
  const auto seen = boxes.Stop();
  ASSERT_GE(seen.size(), 1u) << out;
  EXPECT_EQ(seen[0], "Warning: Disk Space is not enough") << out;
  EXPECT_TRUE(Has(out, "dialog hidden 1")) << out;
  EXPECT_EQ(ReadFileBytes("N:\\shx\\ten.bin"), "");  // there, and empty
}

// A 1 GB file with nothing written (sparse): long enough to cancel in.
bool MakeBigFile(const std::string& path) {
  UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!h) return false;
  LARGE_INTEGER size;
  size.QuadPart = 1024LL * 1024 * 1024;
  return SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(h.get());
}

// Names in the order a folder's search gives them, which is the order the
// copy goes through them.
std::vector<std::string> SearchOrder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  kelm::win::FindHandle f(FindFirstFileA((folder + "\\*.*").c_str(), &fd));
  if (!f) return names;
  do {
    if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0) names.push_back(fd.cFileName);
  } while (FindNextFileA(f.get(), &fd));
  return names;
}

// Cancel was pressed with the bar part-way, not after the last piece.
bool CancelledOnTheWay(const std::string& out) {
  const std::string prefix = "pos before cancel ";
  const auto l = Lines(out, prefix);
  if (l.size() != 1) return false;
  const int pos = std::atoi(l[0].c_str() + prefix.size());
  return pos > 0 && pos < 100;
}

TEST_F(ShellCopy, CancelStopsALargeCopy) {
  MainWindow main;
  g_letters = 0x4D;
  ASSERT_TRUE(MakeBigFile("C:\\shx\\big.bin"));
  const std::string out = Host("copy C:\\shx\\big.bin 4 1 " + g_shots + "\\copydialog.png");
  EXPECT_TRUE(Has(out, "shot 1")) << out;
  EXPECT_TRUE(CancelledOnTheWay(out)) << out;
  EXPECT_TRUE(Has(out, "hidden at cancel 1")) << out;
  EXPECT_TRUE(Has(out, "copy thread ended 1")) << out;
  EXPECT_TRUE(Has(out, "canunload 0")) << out;
  EXPECT_EQ(GetFileAttributesA("M:\\shx\\big.bin"), INVALID_FILE_ATTRIBUTES) << out;
  DeleteFileA("C:\\shx\\big.bin");
}

// Cancel in a folder copy stops at the file being copied: the files that
// were complete before it stay, the partial one goes, nothing after it is
// started. A copy asked for from another menu meanwhile is not started.
TEST_F(ShellCopy, CancelInAFolderKeepsTheFilesAlreadyCopied) {
  MainWindow main;
  g_letters = 0x4D;
  const std::string dir = "C:\\shx\\many";
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  std::vector<std::pair<std::string, std::string>> small;
  for (int i = 0; i < 6; ++i) {
    small.emplace_back("s" + std::to_string(i) + ".bin", Pattern(40000 + i, 10 + i));
    ASSERT_TRUE(WriteFileBytes(dir + "\\" + small.back().first, small.back().second));
  }
  // The search order is the file system's: pick a name for the large file
  // that does not come first, so that something is complete before it.
  std::string big;
  std::vector<std::string> order;
  for (int i = 0; i < 40 && big.empty(); ++i) {
    const std::string name = "video" + std::to_string(i) + ".avi";
    ASSERT_TRUE(MakeBigFile(dir + "\\" + name));
    order = SearchOrder(dir);
    if (!order.empty() && order.front() != name) big = name;
    else DeleteFileA((dir + "\\" + name).c_str());
  }
  ASSERT_FALSE(big.empty()) << "every name came first";
  ASSERT_TRUE(WriteFileBytes("C:\\shx\\other.txt", "second"));

  const std::string out = Host("copy " + dir + " 4 " + big + " - C:\\shx\\other.txt");
  EXPECT_TRUE(Has(out, "second copy threads 0 dialogs 1")) << out;
  EXPECT_TRUE(Has(out, "cancel during Copy File: " + dir + "\\" + big)) << out;
  EXPECT_TRUE(CancelledOnTheWay(out)) << out;
  EXPECT_TRUE(Has(out, "hidden at cancel 1")) << out;
  EXPECT_TRUE(Has(out, "copy thread ended 1")) << out;
  EXPECT_EQ(GetFileAttributesA("M:\\shx\\other.txt"), INVALID_FILE_ATTRIBUTES) << out;
  bool before = true;
  int kept = 0;
  for (const std::string& name : order) {
    const std::string copied = "M:\\shx\\many\\" + name;
    if (name == big) {
      before = false;
      EXPECT_EQ(GetFileAttributesA(copied.c_str()), INVALID_FILE_ATTRIBUTES) << "partial " << name;
      continue;
    }
    const auto it = std::find_if(small.begin(), small.end(), [&](const auto& f) { return f.first == name; });
    ASSERT_NE(it, small.end()) << name;
    if (before) {
      EXPECT_TRUE(ReadFileBytes(copied) == it->second) << "not kept whole: " << name;
      ++kept;
    } else {
      EXPECT_EQ(GetFileAttributesA(copied.c_str()), INVALID_FILE_ATTRIBUTES) << "copied after cancel: " << name;
    }
  }
  EXPECT_GE(kept, 1);
  DeleteFileA((dir + "\\" + big).c_str());
}

}  // namespace
