// The thin file layer under the image operations: positioned reads and
// writes with 64-bit offsets (images reach 4,296,015,872 bytes). POSIX on
// the host (common/imagefile_posix.cpp), Win32 on Windows
// (common/win32/imagefile.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kelm {

class ImageFile {
 public:
  virtual ~ImageFile() = default;
  // Whole writes and reads only: false unless len bytes were transferred.
  virtual bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t len) = 0;
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t len) = 0;
  virtual bool Length(std::uint64_t& length) = 0;
  // Flushes to the device (for callers that want the data on disk).
  virtual bool Sync() = 0;
};

enum class ImageOpen {
  Read,      // existing file, read only
  Update,    // existing file, read and write
  Create,    // created or truncated, read and write
};

// Null when the file cannot be opened; the file closes with the object.
std::unique_ptr<ImageFile> OpenImageFile(const char* path, ImageOpen mode);

// Renames from over to (replacing it); false on failure.
bool ReplaceImageFile(const char* from, const char* to);
// Removes a file; false on failure.
bool RemoveImageFile(const char* path);
// True when path names an existing file or directory.
bool PathExists(const char* path);

}  // namespace kelm
