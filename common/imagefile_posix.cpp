// POSIX file layer of the image operations (host builds only; the Windows
// builds use common/win32/imagefile.cpp).
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "common/imagefile.h"

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace kelm {
namespace {

class PosixImageFile final : public ImageFile {
 public:
  explicit PosixImageFile(int fd) : fd_(fd) {}
  ~PosixImageFile() override { ::close(fd_); }
  PosixImageFile(const PosixImageFile&) = delete;
  PosixImageFile& operator=(const PosixImageFile&) = delete;

  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t len) override {
    return Transfer(::pwrite, data, len, offset);
  }

  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t len) override {
    return Transfer(::pread, data, len, offset);
  }

  bool Length(std::uint64_t& length) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    length = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool Sync() override { return ::fsync(fd_) == 0; }

 private:
  // Repeats a pread/pwrite until len bytes moved; end of file or an error fails.
  template <typename Op, typename Ptr>
  bool Transfer(Op op, Ptr data, std::size_t len, std::uint64_t offset) {
    while (len > 0) {
      ssize_t n = op(fd_, data, len, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      len -= static_cast<std::size_t>(n);
      offset += static_cast<std::uint64_t>(n);
    }
    return true;
  }

  int fd_;
};

}  // namespace

std::unique_ptr<ImageFile> OpenImageFile(const char* path, ImageOpen mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case ImageOpen::Read: flags |= O_RDONLY; break;
    case ImageOpen::Update: flags |= O_RDWR; break;
    case ImageOpen::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  int fd = ::open(path, flags, 0644);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<ImageFile> file(new (std::nothrow) PosixImageFile(fd));
  if (!file) ::close(fd);
  return file;
}

bool ReplaceImageFile(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool RemoveImageFile(const char* path) { return ::unlink(path) == 0; }

bool PathExists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0;
}

}  // namespace kelm
#endif
