#include "common/fatimage.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/byteorder.h"

namespace kelm {

const SectorsPerClusterRow SectorsPerClusterTable[7] = {
    {16, 8400, 0},       {16, 32680, 2},       {16, 262144, 4},   {16, 524288, 8},
    {16, 1048576, 16},   {32, 16777216, 8},    {32, 33554432, 16},
};

bool LookupSectorsPerCluster(std::uint32_t totSec, int& fatType, std::uint32_t& sectorsPerCluster) {
  for (const auto& row : SectorsPerClusterTable) {
    if (row.maxTotSec >= totSec) {
      fatType = row.fatType;
      sectorsPerCluster = row.sectorsPerCluster;
      return true;
    }
  }
  return false;
}

bool ComputeGeometry(std::uint32_t sizeMb, FatGeometry& g) {
  g = FatGeometry{};
  if (sizeMb == 0 || sizeMb > 33554432u / kSectorsPerMb) return false;
  g.sizeMb = sizeMb;
  g.totSec = sizeMb * kSectorsPerMb;
  if (!LookupSectorsPerCluster(g.totSec, g.fatType, g.sectorsPerCluster) || g.sectorsPerCluster == 0)
    return false;
  const std::uint32_t spc = g.sectorsPerCluster;
  if (g.fatType == 16) {
    g.reservedSectors = 1;
    g.rootDirSectors = (512u * 32u + 511u) / 512u;
    const std::uint32_t d = 256u * spc + 2u;
    g.fatSize = ((g.totSec - 1u - 32u + d - 1u) / d) & 0xFFFFu;
  } else {
    g.reservedSectors = 32;
    g.rootDirSectors = 0;
    const std::uint32_t d = (256u * spc + 2u) / 2u;
    g.fatSize = (g.totSec - 32u + d - 1u) / d;
  }
  g.clusterCount =
      (g.totSec - g.rootDirSectors - 2u * g.fatSize - g.reservedSectors) / spc;
  g.fileLength = static_cast<std::uint64_t>(sizeMb + kTailMb) * kMb;
  return true;
}

namespace {

void PutText(std::uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }

}  // namespace

void BuildBootSector(const FatGeometry& g, std::uint32_t serial, std::uint8_t out[512]) {
  std::memset(out, 0, 512);
  const bool fat32 = g.fatType == 32;
  out[0] = 0xEB;
  out[1] = fat32 ? 0x5A : 0x3C;
  out[2] = 0x90;
  PutText(out + 0x03, "MSWIN4.1");
  StoreLe16(out + 0x0B, kSectorSize);
  out[0x0D] = static_cast<std::uint8_t>(g.sectorsPerCluster);
  StoreLe16(out + 0x0E, g.reservedSectors);
  out[0x10] = 2;
  StoreLe16(out + 0x11, fat32 ? 0 : 512);
  out[0x15] = 0xF8;
  StoreLe16(out + 0x16, fat32 ? 0 : g.fatSize);
  StoreLe16(out + 0x18, 63);
  StoreLe16(out + 0x1A, 255);
  StoreLe32(out + 0x20, g.totSec);
  std::uint8_t* ext = out + 0x24;
  if (fat32) {
    StoreLe32(out + 0x24, g.fatSize);
    StoreLe32(out + 0x2C, 2);
    StoreLe16(out + 0x30, 1);
    StoreLe16(out + 0x32, 6);
    ext = out + 0x40;
  }
  ext[0] = 0x80;                 // drive number
  ext[2] = 0x29;                 // boot signature
  StoreLe32(ext + 3, serial);
  PutText(ext + 7, "NO NAME    ");
  PutText(ext + 18, fat32 ? "FAT32   " : "FAT16   ");
  static const std::uint8_t kPart16[8] = {0x80, 0x00, 0x01, 0x00, 0x06, 0xFF, 0x3F, 0xFF};
  static const std::uint8_t kPart32[8] = {0x80, 0x00, 0x01, 0x00, 0x0B, 0xFE, 0x3F, 0xFF};
  std::memcpy(out + 0x1BE, fat32 ? kPart32 : kPart16, 8);
  StoreLe32(out + 0x1C6, 1);
  StoreLe32(out + 0x1CA, g.totSec);
  out[0x1FE] = 0x55;
  out[0x1FF] = 0xAA;
}

void BuildFsInfoSector(const FatGeometry& g, std::uint8_t out[512]) {
  std::memset(out, 0, 512);
  StoreLe32(out + 0x000, 0x41615252u);
  StoreLe32(out + 0x1E4, 0x61417272u);
  // Cluster 2 already holds the root directory.
  StoreLe32(out + 0x1E8, g.clusterCount - 1u);
  StoreLe32(out + 0x1EC, 2);
  out[0x1FE] = 0x55;
  out[0x1FF] = 0xAA;
}

void BuildFirstFatSector(int fatType, std::uint8_t out[512]) {
  std::memset(out, 0, 512);
  if (fatType == 32) {
    StoreLe32(out + 0, 0x0FFFFFF8u);
    StoreLe32(out + 4, 0x0FFFFFFFu);
    StoreLe32(out + 8, 0x0FFFFFF8u);
  } else {
    StoreLe32(out + 0, 0xFFFFFFF8u);
  }
}

std::size_t PlanFormat(const FatGeometry& g, FormatWrite out[8]) {
  std::size_t n = 0;
  const std::uint32_t r = g.reservedSectors;
  out[n++] = {0, FormatWrite::Boot};
  if (g.fatType == 32) {
    out[n++] = {1, FormatWrite::FsInfo};
    // A real backup where the boot sector says it is, so recovery tools find one.
    out[n++] = {6, FormatWrite::Boot};
    out[n++] = {7, FormatWrite::FsInfo};
  }
  out[n++] = {r, FormatWrite::FirstFat};
  out[n++] = {r + g.fatSize, FormatWrite::FirstFat};
  return n;
}

bool LooksLikeBootSector(const std::uint8_t sector[512]) {
  return (sector[0] == 0xEB || sector[0] == 0xE9) && sector[21] == 0xF8;
}

bool ParseBootSector(const std::uint8_t s[512], FatGeometry& g, std::uint32_t& serial) {
  g = FatGeometry{};
  serial = 0;
  if (!LooksLikeBootSector(s) || s[0x1FE] != 0x55 || s[0x1FF] != 0xAA) return false;
  if (LoadLe16(s + 0x0B) != kSectorSize || s[0x10] == 0) return false;
  const std::uint32_t spc = s[0x0D];
  if (spc == 0 || (spc & (spc - 1)) != 0) return false;
  const std::uint32_t rootEntries = LoadLe16(s + 0x11);
  const std::uint32_t fatSz16 = LoadLe16(s + 0x16);
  std::uint32_t totSec = LoadLe16(s + 0x13);
  if (totSec == 0) totSec = LoadLe32(s + 0x20);
  const std::uint32_t fats = s[0x10];
  g.sectorsPerCluster = spc;
  g.reservedSectors = LoadLe16(s + 0x0E);
  g.rootDirSectors = (rootEntries * 32u + 511u) / 512u;
  g.totSec = totSec;
  if (fatSz16 != 0) {
    g.fatSize = fatSz16;
    serial = LoadLe32(s + 0x27);
  } else {
    g.fatSize = LoadLe32(s + 0x24);
    serial = LoadLe32(s + 0x43);
  }
  const std::uint64_t meta =
      static_cast<std::uint64_t>(g.reservedSectors) + fats * static_cast<std::uint64_t>(g.fatSize) +
      g.rootDirSectors;
  if (g.reservedSectors == 0 || g.fatSize == 0 || meta >= totSec) return false;
  g.clusterCount = static_cast<std::uint32_t>((totSec - meta) / spc);
  // The FAT type follows from the cluster count, as every FAT driver decides it.
  g.fatType = g.clusterCount < 4085 ? 12 : g.clusterCount < 65525 ? 16 : 32;
  if ((g.fatType == 32) != (fatSz16 == 0)) return false;
  if (totSec % kSectorsPerMb == 0) {
    g.sizeMb = totSec / kSectorsPerMb;
    g.fileLength = static_cast<std::uint64_t>(g.sizeMb + kTailMb) * kMb;
  }
  return true;
}

SectorCipher::SectorCipher(const char* password) {
  if (password == nullptr || password[0] == '\0') return;
  if (CipherSchedule(password, ks_))
    active_ = true;
  else
    refused_ = true;
}

void SectorCipher::Encipher(std::uint8_t* data, std::size_t len) const {
  if (active_) DesVariantEcb(ks_, data, len, true);
}

void SectorCipher::Decipher(std::uint8_t* data, std::size_t len) const {
  if (active_) DesVariantEcb(ks_, data, len, false);
}

bool IsRefusedPassword(const char* password) { return SectorCipher(password).refused(); }

namespace {

// One MB of the empty-sector pattern: one sector enciphered, then repeated.
std::unique_ptr<std::uint8_t[]> PatternBlock(const SectorCipher& cipher) {
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kMb]);
  if (!block) return block;
  std::memset(block.get(), 0, kSectorSize);
  cipher.Encipher(block.get(), kSectorSize);
  for (std::uint32_t off = kSectorSize; off < kMb; off *= 2)
    std::memcpy(block.get() + off, block.get(), off);
  return block;
}

}  // namespace

bool FillImage(ImageFile& file, const SectorCipher& cipher, std::uint32_t count, ProgressFn progress,
               void* context) {
  auto block = PatternBlock(cipher);
  if (!block) return false;
  for (std::uint32_t i = 0; i <= count; ++i) {
    if (progress) progress(context, i, count);
    if (!file.WriteAt(static_cast<std::uint64_t>(i) * kMb, block.get(), kMb)) return false;
  }
  return true;
}

bool FormatImage(ImageFile& file, const FatGeometry& g, const SectorCipher& cipher,
                 std::uint32_t serial) {
  auto block = PatternBlock(cipher);
  if (!block) return false;
  for (std::uint64_t mb = 0; mb < 2; ++mb)
    if (!file.WriteAt(mb * kMb, block.get(), kMb)) return false;

  std::uint8_t boot[512], fsinfo[512], fat[512];
  BuildBootSector(g, serial, boot);
  BuildFsInfoSector(g, fsinfo);
  BuildFirstFatSector(g.fatType, fat);
  cipher.Encipher(boot, sizeof boot);
  cipher.Encipher(fsinfo, sizeof fsinfo);
  cipher.Encipher(fat, sizeof fat);

  FormatWrite plan[8];
  const std::size_t n = PlanFormat(g, plan);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* data = plan[i].kind == FormatWrite::Boot     ? boot
                               : plan[i].kind == FormatWrite::FsInfo ? fsinfo
                                                                     : fat;
    if (!file.WriteAt(static_cast<std::uint64_t>(plan[i].sector) * kSectorSize, data, kSectorSize))
      return false;
  }
  return true;
}

bool CheckImagePassword(ImageFile& file, const char* password) {
  std::uint8_t sector[512];
  if (!file.ReadAt(0, sector, sizeof sector)) return false;
  SectorCipher(password).Decipher(sector, sizeof sector);
  return LooksLikeBootSector(sector);
}

std::uint32_t MakeVolumeSerial(std::uint64_t timeValue, std::uint32_t salt) {
  std::uint64_t x = timeValue ^ (static_cast<std::uint64_t>(salt) << 32) ^ 0x9E3779B97F4A7C15ull;
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  return static_cast<std::uint32_t>(x);
}

}  // namespace kelm
