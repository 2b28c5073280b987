// Win32 file layer of the image operations: positioned I/O through
// OVERLAPPED offsets (64 bits) on a synchronous handle.
#include <windows.h>

#include <new>

#include "common/imagefile.h"
#include "common/win32/handles.h"

namespace kelm {
namespace {

constexpr DWORD kMaxChunk = 1u << 24;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

class Win32ImageFile final : public ImageFile {
 public:
  explicit Win32ImageFile(HANDLE h) : h_(h) {}

  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t len) override {
    return Transfer(::WriteFile, data, len, offset);
  }

  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t len) override {
    return Transfer(::ReadFile, data, len, offset);
  }

  bool Length(std::uint64_t& length) override {
    DWORD high = 0;
    const DWORD low = ::GetFileSize(h_.get(), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
    length = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
  }

  bool Sync() override { return ::FlushFileBuffers(h_.get()) != FALSE; }

 private:
  // Repeats ReadFile/WriteFile at explicit offsets until len bytes moved.
  template <typename Op, typename Ptr>
  bool Transfer(Op op, Ptr data, std::size_t len, std::uint64_t offset) {
    while (len > 0) {
      const DWORD want = len > kMaxChunk ? kMaxChunk : static_cast<DWORD>(len);
      OVERLAPPED ov = At(offset);
      DWORD done = 0;
      if (!op(h_.get(), data, want, &done, &ov) || done == 0) return false;
      data += done;
      len -= done;
      offset += done;
    }
    return true;
  }

  win::UniqueHandle h_;
};

}  // namespace

std::unique_ptr<ImageFile> OpenImageFile(const char* path, ImageOpen mode) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode != ImageOpen::Read) access |= GENERIC_WRITE;
  if (mode == ImageOpen::Create) disposition = CREATE_ALWAYS;
  HANDLE h = ::CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return nullptr;
  }
  Win32ImageFile* file = new (std::nothrow) Win32ImageFile(h);
  if (!file) ::CloseHandle(h);
  return std::unique_ptr<ImageFile>(file);
}

bool ReplaceImageFile(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RemoveImageFile(const char* path) { return ::DeleteFileA(path) != FALSE; }

bool PathExists(const char* path) { return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace kelm
