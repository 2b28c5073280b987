#include "cfg/imagecreate.h"

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <string>

#include "cfg/logic/imagechecks.h"
#include "common/fatimage.h"
#include "common/imagefile.h"
#include "common/win32/diskstore.h"
#include "common/win32/language.h"
#include "common/win32/platform.h"

namespace kelm::cfg {
namespace {

constexpr char kWarning[] = "Warning";
constexpr char kProgressClass[] = "KelmProgressWindow";
constexpr char kProgressCaption[] = "Initialize Image File";
constexpr int kProgressBarId = 100;
constexpr std::size_t kFieldLimit = 299;

int g_platformForTest = 0;

int ShowMessage(HWND owner, const char* key, const char* builtin, const char* caption, UINT flags) {
  char text[256];
  win::LanguageLookup(key, builtin, text, sizeof text);
  return MessageBoxA(owner, text, caption, flags);
}

int Warn(HWND owner, const char* key, const char* builtin, UINT buttons = MB_YESNO) {
  return ShowMessage(owner, key, builtin, kWarning, buttons | MB_ICONWARNING);
}

// The dialog's fields hold at most 299 characters.
std::string Field(const char* text) {
  if (!text) return {};
  return std::string(text, strnlen(text, kFieldLimit));
}

LRESULT CALLBACK ProgressProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(w, msg, wp, lp);
}

// The ProgressWindow: caption, icon, the "inittext" line and a bar, shown
// while the file is filled.
class ProgressWindow {
 public:
  explicit ProgressWindow(HWND owner) {
    HINSTANCE inst = GetModuleHandleA(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HICON icon = LoadIconA(inst, MAKEINTRESOURCEA(1));
    if (!icon) icon = LoadIconA(nullptr, IDI_APPLICATION);
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProgressProc;
    wc.hInstance = inst;
    wc.hIcon = icon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kProgressClass;
    RegisterClassA(&wc);  // fails harmlessly when already registered
    char text[256];
    win::LanguageLookup("inittext", "Initialize the image file is processing.......", text, sizeof text);
    window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kProgressClass, kProgressCaption,
                              WS_POPUP | WS_CAPTION | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, 380, 130, owner,
                              nullptr, inst, nullptr);
    if (!window_) return;
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE, 16, 14, 340, 20, window_, nullptr, inst, nullptr);
    bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 16, 44, 340, 20, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)), inst, nullptr);
    UpdateWindow(window_);
  }
  ~ProgressWindow() {
    if (window_) DestroyWindow(window_);
  }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  void Set(std::uint32_t position, std::uint32_t range) {
    if (!bar_) return;
    if (position == 0) {
      SendMessageA(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
    }
    SendMessageA(bar_, PBM_SETPOS, position, 0);
    Pump();
  }

  static void Callback(void* context, std::uint32_t position, std::uint32_t range) {
    static_cast<ProgressWindow*>(context)->Set(position, range);
  }

 private:
  // Lets the window paint between the megabytes; input for other windows
  // waits (the dialog is busy), a quit request is kept for the loop.
  void Pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(m.wParam));
        break;
      }
      if ((m.message >= WM_KEYFIRST && m.message <= WM_KEYLAST) ||
          (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST))
        continue;
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }

  HWND window_ = nullptr;
  HWND bar_ = nullptr;
};

std::uint32_t NewSerial() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return MakeVolumeSerial(static_cast<std::uint64_t>(now.count()), GetTickCount());
}

}  // namespace

void SetPlatformVersionForTest(int version) { g_platformForTest = version; }

bool FreeSpaceMb(const char* path, std::uint64_t& freeMb) {
  freeMb = 0;
  if (!path || !*path) return false;
  const char root[4] = {path[0], ':', '\\', '\0'};
  if (GetDriveTypeA(root) != DRIVE_FIXED) return false;
  ULARGE_INTEGER avail{}, total{}, totalFree{};
  if (!GetDiskFreeSpaceExA(root, &avail, &total, &totalFree)) return false;
  freeMb = totalFree.QuadPart / kMb;
  return true;
}

CreateImageResult CreateImage(const CreateImageRequest& r) {
  try {
    if (!r.userId || !*r.userId) return CreateImageResult::NoUser;
    const std::string path = Field(r.path);
    const std::string sizeText = Field(r.sizeText);
    const std::string password = Field(r.password);

    const int platform = g_platformForTest ? g_platformForTest : win::ServicePlatformVersion();
    const std::uint32_t limit = ImageSizeLimitMb(platform);
    if (limit == 0) {
      Warn(r.owner, "cfgdlg_msg16", "The program can not running at this operation system.", MB_OK);
      return CreateImageResult::Unsupported;
    }
    if (!r.valid) {
      Warn(r.owner, "cfgdlg_msg17", "Please selects the valid checkbox option.", MB_OK);
      return CreateImageResult::NotValid;
    }
    if (path.empty()) {
      Warn(r.owner, "cfgdlg_msg19", "Please inputs the full path and name of virtual disk image file first.", MB_OK);
      return CreateImageResult::NoPath;
    }
    const std::uint32_t size = ParseImageSizeMb(sizeText.c_str());
    if (!ImageSizeAccepted(size, limit)) {
      Warn(r.owner, "cfgdlg_msg18",
           "Invalid Image file size. (32MB---2046MB) are valid at win98, (32MB---4094MB) are valid at win2000 and "
           "above.",
           MB_OK);
      return CreateImageResult::BadSize;
    }
    // A refused key would leave the image in clear, and a password the store
    // cannot hold would leave an image nobody can open: both are refused
    // before anything is written.
    if (IsRefusedPassword(password.c_str())) {
      Warn(r.owner, "cfgdlg_msgweakkey", "This password can not be used, please choose another one.", MB_OK);
      return CreateImageResult::WeakPassword;
    }
    if (password.size() > store::kMaxSlotPassword) {
      Warn(r.owner, "cfgdlg_msgpasslong", "The password is too long, at most 9 characters are allowed.", MB_OK);
      return CreateImageResult::PasswordTooLong;
    }
    // The store cannot hold a longer path: the image would exist with no
    // slot naming it.
    if (path.size() > store::kMaxImagePath) {
      ShowMessage(r.owner, store::kPathTooLongKey, store::kPathTooLongText, store::kPathTooLongCaption,
                  MB_OK | MB_ICONERROR);
      return CreateImageResult::PathTooLong;
    }
    const DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && attrs != FILE_ATTRIBUTE_DIRECTORY) {
      if (Warn(r.owner, "cfgdlg_msg20",
               "The image file already is exist,this operation will destory all data in the image file.Continue?") !=
          IDYES)
        return CreateImageResult::Declined;
      if (!DeleteFileA(path.c_str())) {
        Warn(r.owner, "cfgdlg_msg21", "Can not format the image file, maybe it is read only.");
        return CreateImageResult::CannotDelete;
      }
    }
    std::uint64_t freeMb = 0;
    const bool freeValid = FreeSpaceMb(path.c_str(), freeMb);
    if (!EnoughFreeSpace(freeValid, freeMb, size)) {
      Warn(r.owner, "cfgdlg_msg22", "The free space of the hard disk is too small.");
      return CreateImageResult::NoSpace;
    }

    const SectorCipher cipher(password.c_str());
    FatGeometry g;
    bool filled = false;
    std::unique_ptr<ImageFile> file = OpenImageFile(path.c_str(), ImageOpen::Create);
    if (file) {
      ProgressWindow progress(r.owner);
      filled = FillImage(*file, cipher, size + kTailMb - 1, &ProgressWindow::Callback, &progress);
    }
    if (!filled) {
      Warn(r.owner, "cfgdlg_msg23", "Create and empty the Virtual disk image file error.");
      return CreateImageResult::FillFailed;
    }
    if (!ComputeGeometry(size, g) || !FormatImage(*file, g, cipher, NewSerial()) || !file->Sync()) {
      Warn(r.owner, "cfgdlg_msg24", "Create the Virtual disk boot sector fail.");
      return CreateImageResult::FormatFailed;
    }
    file.reset();
    ShowMessage(r.owner, "cfgdlg_msg25", "Create the Virtual disk File Success.", "Information",
                MB_OK | MB_ICONINFORMATION);

    win::SlotSettings s;
    s.valid = true;
    s.imagePath = path;
    s.sizeMb = size;
    s.autoMount = r.autoMount;
    s.readOnly = r.readOnly;
    s.password = password;
    switch (win::SaveSlot(r.userId, r.slot, s, r.delayText ? r.delayText : "", r.passwords)) {
      case win::SaveSlotResult::Saved: return CreateImageResult::Created;
      case win::SaveSlotResult::PathTooLong:
        ShowMessage(r.owner, store::kPathTooLongKey, store::kPathTooLongText, store::kPathTooLongCaption,
                    MB_OK | MB_ICONERROR);
        return CreateImageResult::PathTooLong;
      default: return CreateImageResult::NotSaved;
    }
  } catch (...) {
    return CreateImageResult::FillFailed;
  }
}

}  // namespace kelm::cfg
