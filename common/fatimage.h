// Image files: the enciphered FAT16/FAT32 volume that the virtual disk
// driver presents. Pure layout logic plus the fill/format/check operations,
// written against the ImageFile interface so that every platform's file
// layer produces the same bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/desvariant.h"
#include "common/imagefile.h"

namespace kelm {

inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr std::uint32_t kMb = 1048576;
inline constexpr std::uint32_t kSectorsPerMb = kMb / kSectorSize;
// The volume is followed by this many MB of empty sectors.
inline constexpr std::uint32_t kTailMb = 3;
// Accepted slot sizes: above 32 MB, up to the platform's limit.
inline constexpr std::uint32_t kMinImageMb = 33;
inline constexpr std::uint32_t kMaxImageMbWin98 = 2046;
inline constexpr std::uint32_t kMaxImageMbNt = 4094;

// One row of the SectorsPerClusterTable.
struct SectorsPerClusterRow {
  int fatType;
  std::uint32_t maxTotSec;
  std::uint32_t sectorsPerCluster;
};
extern const SectorsPerClusterRow SectorsPerClusterTable[7];

// FAT type and sectors per cluster of the first row whose limit is at least
// totSec; false beyond the last row.
bool LookupSectorsPerCluster(std::uint32_t totSec, int& fatType, std::uint32_t& sectorsPerCluster);

// Everything the format derives from the slot size.
struct FatGeometry {
  int fatType = 0;                    // 16 or 32
  std::uint32_t sizeMb = 0;           // S
  std::uint32_t totSec = 0;           // S * 2048
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = 0;  // 1 (FAT16) or 32 (FAT32)
  std::uint32_t rootDirSectors = 0;   // 32 (FAT16) or 0 (FAT32)
  std::uint32_t fatSize = 0;          // FATSz16 (as stored, 16 bits) or FATSz32
  std::uint32_t clusterCount = 0;
  std::uint64_t fileLength = 0;       // (S + 3) MB
};

// False for sizes the table has no row for (0 and above 8192 MB); the
// platform limits are the caller's business.
bool ComputeGeometry(std::uint32_t sizeMb, FatGeometry& g);

// Reads the geometry back from a plain boot sector; false when it is not one
// of ours (signature, jump, media byte, sector size, counts).
bool ParseBootSector(const std::uint8_t sector[512], FatGeometry& g, std::uint32_t& serial);

// True when byte 0 is a jump (0xEB or 0xE9) and the media byte is 0xF8.
bool LooksLikeBootSector(const std::uint8_t sector[512]);

// The sector cipher: every 512-byte sector through DesVariant ECB under the
// slot password. An empty password stores sectors unchanged, and so does a
// password whose prepared key is refused (refused() tells which).
class SectorCipher {
 public:
  explicit SectorCipher(const char* password);
  bool enciphers() const { return active_; }
  bool refused() const { return refused_; }
  void Encipher(std::uint8_t* data, std::size_t len) const;
  void Decipher(std::uint8_t* data, std::size_t len) const;

 private:
  DesSchedule ks_{};
  bool active_ = false;
  bool refused_ = false;
};

// True when a slot password would be refused by the cipher step (the image
// would silently stay in clear).
bool IsRefusedPassword(const char* password);

// Plain volume structures; bytes not named are zero.
void BuildBootSector(const FatGeometry& g, std::uint32_t serial, std::uint8_t out[512]);
void BuildFsInfoSector(const FatGeometry& g, std::uint8_t out[512]);
void BuildFirstFatSector(int fatType, std::uint8_t out[512]);

// The sectors the format writes over the empty-sector pattern, in order.
struct FormatWrite {
  std::uint32_t sector;
  enum Kind { Boot, FsInfo, FirstFat } kind;
};
// Fills out (capacity 8) and returns the count.
std::size_t PlanFormat(const FatGeometry& g, FormatWrite out[8]);

// Progress of a long write: position and range in MB.
using ProgressFn = void (*)(void* context, std::uint32_t position, std::uint32_t range);

// Writes count + 1 MB of the empty-sector pattern from offset 0, 1 MB at a
// time from one prepared block. progress (may be null) is told 0..count.
bool FillImage(ImageFile& file, const SectorCipher& cipher, std::uint32_t count,
               ProgressFn progress, void* context);

// Writes the volume structures: the first 2 MB of empty sectors, then the
// planned sectors through the sector cipher.
bool FormatImage(ImageFile& file, const FatGeometry& g, const SectorCipher& cipher,
                 std::uint32_t serial);

// Reads sector 0, deciphers it with password when that is not empty, and
// gives true when it looks like a boot sector.
bool CheckImagePassword(ImageFile& file, const char* password);

// A volume serial number from a time value and a counter (any 32-bit value
// serves; this one differs between images made in one second).
std::uint32_t MakeVolumeSerial(std::uint64_t timeValue, std::uint32_t salt);

}  // namespace kelm
