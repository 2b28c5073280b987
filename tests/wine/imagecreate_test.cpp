// The Create button's work run for real in this process: a helper thread
// answers the message boxes; a hook on the creating thread sees every
// position sent to the progress window's bar, however fast the fill.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>

#include <atomic>
#include <commctrl.h>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "cfg/imagecreate.h"
#include "common/fatimage.h"
#include "common/win32/diskstore.h"
#include "uidriver.h"

using kelm::cfg::CreateImage;
using kelm::cfg::CreateImageRequest;
using kelm::cfg::CreateImageResult;

namespace {

const char* const kTrees[] = {"SOFTWARE\\kelm", "SOFTWARE\\keskbuildin", "SOFTWARE\\kesk"};
constexpr char kDir[] = "C:\\kelmct";
constexpr char kImage[] = "C:\\kelmct\\slot.img";
constexpr char kReference[] = "C:\\kelmct\\ref.img";
constexpr char kUser[] = "kct1";

struct Box {
  std::string caption, text;
  bool warningIcon = false, infoIcon = false;
  bool operator==(const Box& o) const { return caption == o.caption && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Box& b) { return os << "[" << b.caption << ": " << b.text << "]"; }

// Answers every message box of this process with the next scripted answer
// (IDOK when the script is used up).
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::deque<int> answers) : answers_(std::move(answers)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~BoxAnswerer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<Box> boxes;

 private:
  void Run() {
    while (!stop_) {
      HWND box = FindWindowA("#32770", nullptr);
      DWORD pid = 0;
      if (box) GetWindowThreadProcessId(box, &pid);
      if (box && pid == GetCurrentProcessId() && IsWindowVisible(box)) {
        Box b;
        b.caption = kelmtest::WindowText(box);
        b.text = kelmtest::ItemText(box, 0xFFFF);
        const HICON warning = LoadIconA(nullptr, IDI_WARNING), info = LoadIconA(nullptr, IDI_INFORMATION);
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
          const HICON icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
          if (icon && icon == warning) b.warningIcon = true;
          if (icon && icon == info) b.infoIcon = true;
        }
        boxes.push_back(b);
        int answer = IDOK;
        if (!answers_.empty()) {
          answer = answers_.front();
          answers_.pop_front();
        }
        PostMessageA(box, WM_COMMAND, answer, 0);
        kelmtest::WaitGone(box);
      }
      Sleep(20);
    }
  }
  std::deque<int> answers_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Records, on the calling thread, every PBM_SETPOS sent to a bar inside a
// visible "Initialize Image File" window.
class ProgressSpy {
 public:
  ProgressSpy() {
    spy_ = this;
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Proc, nullptr, GetCurrentThreadId());
  }
  ~ProgressSpy() {
    if (hook_) UnhookWindowsHookEx(hook_);
    spy_ = nullptr;
  }
  ProgressSpy(const ProgressSpy&) = delete;
  ProgressSpy& operator=(const ProgressSpy&) = delete;
  bool hooked() const { return hook_ != nullptr; }
  bool progressSeen = false;
  std::vector<int> positions;

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM w, LPARAM l) {
    const auto* m = reinterpret_cast<const CWPSTRUCT*>(l);
    if (code == HC_ACTION && spy_ && m && m->message == PBM_SETPOS) {
      const HWND owner = GetParent(m->hwnd);
      if (owner && IsWindowVisible(owner) && kelmtest::WindowText(owner) == "Initialize Image File") {
        spy_->progressSeen = true;
        spy_->positions.push_back(static_cast<int>(m->wParam));
      }
    }
    return CallNextHookEx(nullptr, code, w, l);
  }
  static inline ProgressSpy* spy_ = nullptr;
  HHOOK hook_ = nullptr;
};

struct CreateRun {
  CreateImageResult result;
  std::vector<Box> boxes;
  bool progressSeen;
  std::vector<int> positions;
};

CreateRun RunCreate(const CreateImageRequest& r, std::deque<int> answers = {}) {
  ProgressSpy spy;
  EXPECT_TRUE(spy.hooked());
  BoxAnswerer a(std::move(answers));
  const CreateImageResult result = CreateImage(r);
  a.Stop();
  return {result, a.boxes, spy.progressSeen, spy.positions};
}

CreateImageRequest Request(const char* path, const char* size, const char* password) {
  CreateImageRequest r;
  r.userId = kUser;
  r.slot = 0;
  r.path = path;
  r.sizeText = size;
  r.password = password;
  r.valid = true;
  r.autoMount = true;
  return r;
}

std::string ReadAll(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

const Box kWarnSize{"Warning",
                    "Invalid Image file size. (32MB---2046MB) are valid at win98, (32MB---4094MB) are valid at "
                    "win2000 and above."};
const Box kWarnExists{"Warning",
                      "The image file already is exist,this operation will destory all data in the image "
                      "file.Continue?"};
const Box kSuccess{"Information", "Create the Virtual disk File Success."};

class ImageCreate : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* t : kTrees) {
      HKEY k = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, t, 0, KEY_READ, &k) == ERROR_SUCCESS) {
        RegCloseKey(k);
        GTEST_SKIP() << t << " exists in the prefix; not touching it";
      }
    }
    owned_ = true;
    CreateDirectoryA(kDir, nullptr);
  }
  void TearDown() override {
    kelm::cfg::SetPlatformVersionForTest(0);
    if (!owned_) return;
    for (const char* t : kTrees) SHDeleteKeyA(HKEY_LOCAL_MACHINE, t);
    DeleteFileA(kImage);
    DeleteFileA(kReference);
    RemoveDirectoryA(kDir);
  }
  bool owned_ = false;
};

TEST_F(ImageCreate, RefusedRequestsTellWhyAndWriteNothing) {
  const std::string kLongPath = std::string("C:\\kelmct\\") + std::string(140, 'p');  // 150 characters
  const struct {
    const char* name;
    int platform;
    bool valid;
    const char* path;
    const char* size;
    const char* password;
    CreateImageResult result;
    Box box;
  } cases[] = {
      {"platform", 95, true, kImage, "33", "", CreateImageResult::Unsupported,
       {"Warning", "The program can not running at this operation system."}},
      {"not valid", 0, false, kImage, "33", "", CreateImageResult::NotValid,
       {"Warning", "Please selects the valid checkbox option."}},
      {"no path", 0, true, "", "33", "", CreateImageResult::NoPath,
       {"Warning", "Please inputs the full path and name of virtual disk image file first."}},
      {"32", 0, true, kImage, "32", "", CreateImageResult::BadSize, kWarnSize},
      {"4095", 0, true, kImage, "4095", "", CreateImageResult::BadSize, kWarnSize},
      {"text", 0, true, kImage, "abc", "", CreateImageResult::BadSize, kWarnSize},
      {"negative", 0, true, kImage, "-1", "", CreateImageResult::BadSize, kWarnSize},
      {"wrapping", 0, true, kImage, "4294967329", "", CreateImageResult::BadSize, kWarnSize},
      {"weak key", 0, true, kImage, "33", "````````", CreateImageResult::WeakPassword,
       {"Warning", "This password can not be used, please choose another one."}},
      {"long password", 0, true, kImage, "33", "1234567890", CreateImageResult::PasswordTooLong,
       {"Warning", "The password is too long, at most 9 characters are allowed."}},
      {"long path", 0, true, kLongPath.c_str(), "33", "", CreateImageResult::PathTooLong,
       {"Error", "The image file path is too long, at most 149 characters are allowed."}},
      {"no drive letter", 0, true, "\\\\server\\share\\x.img", "33", "", CreateImageResult::NoSpace,
       {"Warning", "The free space of the hard disk is too small."}},
  };
  for (const auto& c : cases) {
    kelm::cfg::SetPlatformVersionForTest(c.platform);
    CreateImageRequest r = Request(c.path, c.size, c.password);
    r.valid = c.valid;
    const CreateRun run = RunCreate(r);
    EXPECT_EQ(run.result, c.result) << c.name;
    ASSERT_EQ(run.boxes.size(), 1u) << c.name;
    EXPECT_EQ(run.boxes[0], c.box) << c.name;
    EXPECT_EQ(run.boxes[0].warningIcon, c.box.caption == "Warning") << c.name;
    EXPECT_FALSE(run.progressSeen) << c.name;
    EXPECT_FALSE(Exists(kImage)) << c.name;
    EXPECT_FALSE(Exists(kLongPath.c_str())) << c.name;
  }
  HKEY k = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm\\kct1", 0, KEY_READ, &k), ERROR_SUCCESS);
}

TEST_F(ImageCreate, NoUserSelectedDoesNothing) {
  CreateImageRequest r = Request(kImage, "33", "");
  r.userId = nullptr;
  const CreateRun run = RunCreate(r);
  EXPECT_EQ(run.result, CreateImageResult::NoUser);
  EXPECT_TRUE(run.boxes.empty());
  r.userId = "";
  EXPECT_EQ(RunCreate(r).result, CreateImageResult::NoUser);
  EXPECT_FALSE(Exists(kImage));
}

TEST_F(ImageCreate, ExistingFileKeptWhenDeclined) {
  { std::ofstream(kImage, std::ios::binary) << "keep"; }
  const CreateRun run = RunCreate(Request(kImage, "33", "pw33"), {IDNO});
  EXPECT_EQ(run.result, CreateImageResult::Declined);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0], kWarnExists);
  EXPECT_EQ(ReadAll(kImage), "keep");
}

TEST_F(ImageCreate, ReadOnlyExistingFileIsReported) {
  { std::ofstream(kImage, std::ios::binary) << "keep"; }
  ASSERT_TRUE(SetFileAttributesA(kImage, FILE_ATTRIBUTE_READONLY));
  const CreateRun run = RunCreate(Request(kImage, "33", ""), {IDYES});
  SetFileAttributesA(kImage, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(run.result, CreateImageResult::CannotDelete);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0], kWarnExists);
  EXPECT_EQ(run.boxes[1], (Box{"Warning", "Can not format the image file, maybe it is read only."}));
  EXPECT_EQ(ReadAll(kImage), "keep");
}

// Replaces an existing file, then compares with kelmimg's image and reads
// the slot back from the store.
TEST_F(ImageCreate, CreatesTheSameImageAsKelmimgAndSavesTheSlot) {
  { std::ofstream(kImage, std::ios::binary) << "old"; }
  const CreateRun run = RunCreate(Request(kImage, "33", "pw33"), {IDYES, IDOK});
  ASSERT_EQ(run.result, CreateImageResult::Created);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0], kWarnExists);
  EXPECT_EQ(run.boxes[1], kSuccess);
  EXPECT_TRUE(run.boxes[1].infoIcon);
  EXPECT_TRUE(run.progressSeen);
  EXPECT_FALSE(FindWindowA(nullptr, "Initialize Image File"));
  // One step per megabyte written, 33 MB plus the tail: 0..35 in order.
  std::vector<int> steps(36);
  for (int i = 0; i < 36; ++i) steps[i] = i;
  EXPECT_EQ(run.positions, steps);

  const std::string made = ReadAll(kImage);
  ASSERT_EQ(made.size(), 36u * 1048576u);

  char cmd[] = "C:\\kelmtest\\bin\\kelmimg.exe create --size 33 --password pw33 C:\\kelmct\\ref.img";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(code, 0u);
  const std::string ref = ReadAll(kReference);
  ASSERT_EQ(ref.size(), made.size());
  // Sector 0 carries the serial number (FAT16: 0x27); all else must match.
  EXPECT_TRUE(made.compare(512, std::string::npos, ref, 512, std::string::npos) == 0);
  const kelm::SectorCipher cipher("pw33");
  ASSERT_TRUE(cipher.enciphers());
  std::uint8_t a[512], b[512];
  std::memcpy(a, made.data(), 512);
  std::memcpy(b, ref.data(), 512);
  cipher.Decipher(a, 512);
  cipher.Decipher(b, 512);
  EXPECT_EQ(a[0], 0xEB);
  EXPECT_EQ(a[21], 0xF8);
  std::memset(a + 0x27, 0, 4);
  std::memset(b + 0x27, 0, 4);
  EXPECT_EQ(0, std::memcmp(a, b, 512));

  char text[150];
  ASSERT_EQ(kelm::win::GetText(kUser, "Valid0", text, sizeof text), ERROR_SUCCESS);
  EXPECT_STREQ(text, "yes");
  ASSERT_EQ(kelm::win::GetText(kUser, "ImageFile0", text, sizeof text), ERROR_SUCCESS);
  EXPECT_STREQ(text, kImage);
  std::uint32_t n = 0;
  ASSERT_EQ(kelm::win::GetNumber(kUser, "ImageFileSize0", n), ERROR_SUCCESS);
  EXPECT_EQ(n, 33u);
  std::uint8_t pass[20] = {};
  DWORD len = 0;
  ASSERT_EQ(kelm::win::GetValue(kUser, "pass0", pass, &len, sizeof pass), ERROR_SUCCESS);
  EXPECT_EQ(len, 20u);
  EXPECT_NE(std::memcmp(pass, "pw33", 4), 0);  // stored enciphered
  EXPECT_NE(std::memcmp(pass, std::string(20, '\0').data(), 20), 0);
}

}  // namespace

int main(int argc, char** argv) {
  const int respawned = kelmtest::RespawnUnmanaged();
  if (respawned >= 0) return respawned;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
