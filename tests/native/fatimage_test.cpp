#include "common/fatimage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kelm {
namespace {

struct EdgeCase {
  std::uint32_t sizeMb;
  int fatType;
  std::uint32_t spc;
  std::uint32_t fatSize;
  std::uint32_t clusters;
  std::uint64_t fileLength;
};

// Sizes at both table edges and at the platform limits.
const EdgeCase kEdges[] = {
    {33, 16, 4, 66, 16854, 37748736ull},
    {128, 16, 4, 256, 65399, 137363456ull},
    {129, 16, 8, 129, 32987, 138412032ull},
    {512, 16, 16, 256, 65501, 540016640ull},
    {513, 32, 8, 1025, 131067, 541065216ull},
    {1000, 32, 8, 1999, 255496, 1051721728ull},
    {2046, 32, 8, 4088, 522750, 2148532224ull},
    {4094, 32, 8, 8180, 1046015, 4296015872ull},
};

class Edges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(Edges, Geometry) {
  const EdgeCase& e = GetParam();
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(e.sizeMb, g));
  EXPECT_EQ(g.totSec, e.sizeMb * 2048u);
  EXPECT_EQ(g.fatType, e.fatType);
  EXPECT_EQ(g.sectorsPerCluster, e.spc);
  EXPECT_EQ(g.fatSize, e.fatSize);
  EXPECT_EQ(g.clusterCount, e.clusters);
  EXPECT_EQ(g.fileLength, e.fileLength);
  EXPECT_EQ(g.reservedSectors, e.fatType == 16 ? 1u : 32u);
  EXPECT_EQ(g.rootDirSectors, e.fatType == 16 ? 32u : 0u);
  // The FAT holds an entry for every cluster (plus the two reserved ones).
  const std::uint64_t entryBytes = e.fatType == 16 ? 2 : 4;
  EXPECT_GE(static_cast<std::uint64_t>(g.fatSize) * 512, (g.clusterCount + 2ull) * entryBytes);
  // Every driver's FAT-type rule agrees with the table.
  EXPECT_EQ(g.clusterCount < 65525, e.fatType == 16);
  EXPECT_GE(g.clusterCount, 4085u);

  std::uint8_t boot[512];
  BuildBootSector(g, 0x12345678u, boot);
  FatGeometry back;
  std::uint32_t serial = 0;
  ASSERT_TRUE(ParseBootSector(boot, back, serial));
  EXPECT_EQ(serial, 0x12345678u);
  EXPECT_EQ(back.fatType, g.fatType);
  EXPECT_EQ(back.sizeMb, g.sizeMb);
  EXPECT_EQ(back.fatSize, g.fatSize);
  EXPECT_EQ(back.clusterCount, g.clusterCount);
  EXPECT_EQ(back.fileLength, g.fileLength);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Edges, ::testing::ValuesIn(kEdges),
                         [](const auto& info) { return std::to_string(info.param.sizeMb); });

TEST(SectorsPerClusterTable, FirstRowWhoseLimitIsReached) {
  struct { std::uint32_t totSec; int type; std::uint32_t spc; } rows[] = {
      {1, 16, 0},         {8400, 16, 0},        {8401, 16, 2},        {32680, 16, 2},
      {32681, 16, 4},     {262144, 16, 4},      {262145, 16, 8},      {524288, 16, 8},
      {524289, 16, 16},   {1048576, 16, 16},    {1048577, 32, 8},     {16777216, 32, 8},
      {16777217, 32, 16}, {33554432, 32, 16},
  };
  for (const auto& r : rows) {
    int type = 0;
    std::uint32_t spc = 99;
    ASSERT_TRUE(LookupSectorsPerCluster(r.totSec, type, spc)) << r.totSec;
    EXPECT_EQ(type, r.type) << r.totSec;
    EXPECT_EQ(spc, r.spc) << r.totSec;
  }
  int type = 0;
  std::uint32_t spc = 0;
  EXPECT_FALSE(LookupSectorsPerCluster(33554433u, type, spc));
  FatGeometry g;
  EXPECT_FALSE(ComputeGeometry(0, g));
  EXPECT_FALSE(ComputeGeometry(16385, g));
  EXPECT_FALSE(ComputeGeometry(4, g));  // the first row: no cluster size
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  return std::vector<std::uint8_t>(v.begin(), v.end());
}
std::vector<std::uint8_t> At(const std::uint8_t* s, std::size_t off, std::size_t n) {
  return std::vector<std::uint8_t>(s + off, s + off + n);
}
std::vector<std::uint8_t> Text(const char* t) {
  return std::vector<std::uint8_t>(t, t + std::strlen(t));
}

TEST(BootSector, Fat16ByteForByte) {
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(33, g));
  std::uint8_t s[512];
  BuildBootSector(g, 0xA1B2C3D4u, s);
  std::uint8_t expect[512] = {};
  const std::uint8_t head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1',
                               0x00, 0x02, 4, 1, 0, 2, 0x00, 0x02, 0, 0, 0xF8, 66, 0,
                               63, 0, 255, 0, 0, 0, 0, 0, 0x00, 0x08, 0x01, 0x00,
                               0x80, 0, 0x29, 0xD4, 0xC3, 0xB2, 0xA1};
  std::memcpy(expect, head, sizeof head);
  std::memcpy(expect + 0x2B, "NO NAME    FAT16   ", 19);
  const std::uint8_t part[] = {0x80, 0, 1, 0, 0x06, 0xFF, 0x3F, 0xFF, 1, 0, 0, 0, 0x00, 0x08, 0x01, 0x00};
  std::memcpy(expect + 0x1BE, part, sizeof part);
  expect[0x1FE] = 0x55;
  expect[0x1FF] = 0xAA;
  EXPECT_EQ(0, std::memcmp(s, expect, 512));
}

TEST(BootSector, Fat32ByteForByte) {
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(513, g));  // TotSec 1,050,624 = 0x00100800
  std::uint8_t s[512];
  BuildBootSector(g, 0x01020304u, s);
  std::uint8_t expect[512] = {};
  const std::uint8_t head[] = {0xEB, 0x5A, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1',
                               0x00, 0x02, 8, 32, 0, 2, 0, 0, 0, 0, 0xF8, 0, 0,
                               63, 0, 255, 0, 0, 0, 0, 0, 0x00, 0x08, 0x10, 0x00,
                               0x01, 0x04, 0, 0,   // FATSz32 1025
                               0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 6, 0};
  std::memcpy(expect, head, sizeof head);
  expect[0x40] = 0x80;
  expect[0x42] = 0x29;
  const std::uint8_t ser[] = {0x04, 0x03, 0x02, 0x01};
  std::memcpy(expect + 0x43, ser, 4);
  std::memcpy(expect + 0x47, "NO NAME    FAT32   ", 19);
  const std::uint8_t part[] = {0x80, 0, 1, 0, 0x0B, 0xFE, 0x3F, 0xFF, 1, 0, 0, 0, 0x00, 0x08, 0x10, 0x00};
  std::memcpy(expect + 0x1BE, part, sizeof part);
  expect[0x1FE] = 0x55;
  expect[0x1FF] = 0xAA;
  EXPECT_EQ(0, std::memcmp(s, expect, 512));
}

TEST(FsInfo, FreeCountLeavesOutTheRootCluster) {
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(513, g));
  std::uint8_t s[512];
  BuildFsInfoSector(g, s);
  EXPECT_EQ(At(s, 0, 4), Text("RRaA"));
  EXPECT_EQ(At(s, 0x1E4, 4), Text("rrAa"));
  EXPECT_EQ(At(s, 0x1E8, 4), Bytes({0xFA, 0xFF, 0x01, 0x00}));  // 131,066
  EXPECT_EQ(At(s, 0x1EC, 4), Bytes({2, 0, 0, 0}));
  EXPECT_EQ(At(s, 0x1FC, 4), Bytes({0, 0, 0x55, 0xAA}));
  int nonzero = 0;
  for (int i = 0; i < 512; ++i) nonzero += s[i] != 0;
  EXPECT_EQ(nonzero, 4 + 4 + 3 + 1 + 2);
}

TEST(FirstFat, EntriesZeroToTwo) {
  std::uint8_t s[512];
  BuildFirstFatSector(16, s);
  EXPECT_EQ(At(s, 0, 6), Bytes({0xF8, 0xFF, 0xFF, 0xFF, 0, 0}));
  BuildFirstFatSector(32, s);
  EXPECT_EQ(At(s, 0, 14), Bytes({0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0xF8, 0xFF, 0xFF, 0x0F, 0, 0}));
  for (int i = 12; i < 512; ++i) ASSERT_EQ(s[i], 0) << i;
}

TEST(PlanFormat, SectorsWritten) {
  FatGeometry g;
  FormatWrite w[8];
  ASSERT_TRUE(ComputeGeometry(33, g));
  ASSERT_EQ(PlanFormat(g, w), 3u);
  EXPECT_EQ(w[0].sector, 0u);
  EXPECT_EQ(w[1].sector, 1u);
  EXPECT_EQ(w[2].sector, 67u);
  ASSERT_TRUE(ComputeGeometry(4094, g));
  ASSERT_EQ(PlanFormat(g, w), 6u);
  const std::uint32_t sectors[] = {0, 1, 6, 7, 32, 32 + 8180};
  const FormatWrite::Kind kinds[] = {FormatWrite::Boot,   FormatWrite::FsInfo,   FormatWrite::Boot,
                                     FormatWrite::FsInfo, FormatWrite::FirstFat, FormatWrite::FirstFat};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(w[i].sector, sectors[i]);
    EXPECT_EQ(w[i].kind, kinds[i]);
  }
}

TEST(SectorCipher, EmptyAndRefusedPasswordsStoreUnchanged) {
  std::uint8_t s[512], orig[512];
  for (int i = 0; i < 512; ++i) orig[i] = s[i] = static_cast<std::uint8_t>(i * 7);
  for (const char* pw : {"", "````````", "~~~~~~~~", "\x01\x01\x01\x01\x01\x01\x01\x01"}) {
    SectorCipher c(pw);
    EXPECT_FALSE(c.enciphers()) << pw;
    EXPECT_EQ(c.refused(), pw[0] != '\0') << pw;
    EXPECT_EQ(IsRefusedPassword(pw), pw[0] != '\0');
    c.Encipher(s, 512);
    EXPECT_EQ(0, std::memcmp(s, orig, 512));
  }
  SectorCipher c("secret");
  EXPECT_TRUE(c.enciphers());
  EXPECT_FALSE(IsRefusedPassword("secret"));
  c.Encipher(s, 512);
  EXPECT_NE(0, std::memcmp(s, orig, 512));
  c.Decipher(s, 512);
  EXPECT_EQ(0, std::memcmp(s, orig, 512));
}

TEST(SectorCipher, OnlyTheFirstEightCharactersCount) {
  std::uint8_t a[512] = {}, b[512] = {};
  SectorCipher("abcdefgh").Encipher(a, 512);
  SectorCipher("abcdefghXYZ").Encipher(b, 512);
  EXPECT_EQ(0, std::memcmp(a, b, 512));
  // Every 8-byte block of the empty sector enciphers alike (ECB).
  for (int i = 8; i < 512; i += 8) ASSERT_EQ(0, std::memcmp(a, a + i, 8));
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fatimage_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
  std::string dir_;
};

void CountProgress(void* ctx, std::uint32_t pos, std::uint32_t range) {
  auto* seen = static_cast<std::vector<std::uint32_t>*>(ctx);
  seen->push_back(pos);
  EXPECT_EQ(range, 35u);
}

using ImageOps = TempDir;

TEST_F(ImageOps, EncipheredImageHasNoClearSector) {
  const std::string path = Path("a.img");
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(33, g));
  SectorCipher cipher("pw1");
  ASSERT_TRUE(cipher.enciphers());
  {
    auto f = OpenImageFile(path.c_str(), ImageOpen::Create);
    ASSERT_TRUE(f);
    std::vector<std::uint32_t> seen;
    ASSERT_TRUE(FillImage(*f, cipher, 33 + 2, CountProgress, &seen));
    ASSERT_EQ(seen.size(), 36u);
    for (std::uint32_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i);
  }
  {
    auto f = OpenImageFile(path.c_str(), ImageOpen::Update);
    ASSERT_TRUE(f);
    ASSERT_TRUE(FormatImage(*f, g, cipher, 7));
    std::uint64_t len = 0;
    ASSERT_TRUE(f->Length(len));
    EXPECT_EQ(len, 37748736ull);
  }
  auto f = OpenImageFile(path.c_str(), ImageOpen::Read);
  ASSERT_TRUE(f);
  std::vector<std::uint8_t> all(37748736);
  ASSERT_TRUE(f->ReadAt(0, all.data(), all.size()));
  const std::uint8_t zero[512] = {};
  for (std::size_t off = 0; off < all.size(); off += 512)
    ASSERT_NE(0, std::memcmp(all.data() + off, zero, 512)) << "clear sector at " << off;
  std::uint8_t s[512];
  std::memcpy(s, all.data(), 512);
  cipher.Decipher(s, 512);
  EXPECT_EQ(s[21], 0xF8);
  EXPECT_TRUE(CheckImagePassword(*f, "pw1"));
  EXPECT_FALSE(CheckImagePassword(*f, "pw2"));
  EXPECT_FALSE(CheckImagePassword(*f, ""));
}

TEST_F(ImageOps, PlainImageHoldsOnlyThePlannedSectors) {
  const std::string path = Path("p.img");
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(513, g));
  SectorCipher cipher("");
  auto f = OpenImageFile(path.c_str(), ImageOpen::Create);
  ASSERT_TRUE(f);
  ASSERT_TRUE(FillImage(*f, cipher, 513 + 2, nullptr, nullptr));
  ASSERT_TRUE(FormatImage(*f, g, cipher, 99));
  std::uint8_t s[512];
  std::uint8_t boot[512], fsinfo[512], fat[512];
  BuildBootSector(g, 99, boot);
  BuildFsInfoSector(g, fsinfo);
  BuildFirstFatSector(32, fat);
  struct { std::uint32_t sector; const std::uint8_t* want; } expect[] = {
      {0, boot}, {1, fsinfo}, {6, boot}, {7, fsinfo}, {32, fat}, {32 + 1025, fat}};
  for (const auto& e : expect) {
    ASSERT_TRUE(f->ReadAt(e.sector * 512ull, s, 512));
    EXPECT_EQ(0, std::memcmp(s, e.want, 512)) << e.sector;
  }
  const std::uint32_t zeros[] = {2, 5, 8, 31, 33, 1056, 1058, 32 + 2050, 513u * 2048u + 6143u};
  const std::uint8_t zero[512] = {};
  for (std::uint32_t sec : zeros) {
    ASSERT_TRUE(f->ReadAt(sec * 512ull, s, 512));
    EXPECT_EQ(0, std::memcmp(s, zero, 512)) << sec;
  }
  EXPECT_TRUE(CheckImagePassword(*f, ""));
  EXPECT_FALSE(CheckImagePassword(*f, "pw"));
}

TEST_F(ImageOps, OffsetsBeyondFourGigabytes) {
  const std::string path = Path("big.img");
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(4094, g));
  {
    auto f = OpenImageFile(path.c_str(), ImageOpen::Create);
    ASSERT_TRUE(f);
  }
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(g.fileLength)), 0);  // sparse
  auto f = OpenImageFile(path.c_str(), ImageOpen::Update);
  ASSERT_TRUE(f);
  SectorCipher cipher("big");
  ASSERT_TRUE(FormatImage(*f, g, cipher, 1));
  std::uint8_t last[512];
  std::memset(last, 0xA5, 512);
  const std::uint64_t lastOff = g.fileLength - 512;
  ASSERT_GT(lastOff, 0xFFFFFFFFull);
  ASSERT_TRUE(f->WriteAt(lastOff, last, 512));
  std::uint8_t s[512] = {};
  ASSERT_TRUE(f->ReadAt(lastOff, s, 512));
  EXPECT_EQ(0, std::memcmp(s, last, 512));
  EXPECT_FALSE(f->ReadAt(g.fileLength, s, 1));
  std::uint64_t len = 0;
  ASSERT_TRUE(f->Length(len));
  EXPECT_EQ(len, 4296015872ull);
  ASSERT_TRUE(f->ReadAt((32ull + 8180ull) * 512, s, 512));
  cipher.Decipher(s, 512);
  EXPECT_EQ(s[0], 0xF8);
  EXPECT_EQ(s[8], 0xF8);
  EXPECT_TRUE(CheckImagePassword(*f, "big"));
}

TEST(ParseBootSector, RejectsWhatIsNotOurs) {
  FatGeometry g;
  ASSERT_TRUE(ComputeGeometry(100, g));
  std::uint8_t s[512];
  std::uint32_t serial;
  FatGeometry out;
  struct { std::size_t off; std::uint8_t value; } breaks[] = {
      {0, 0x00}, {21, 0xF0}, {0x1FE, 0}, {0x0B, 0x01}, {0x0D, 3}, {0x0D, 0}, {0x10, 0}, {0x16, 0}};
  for (const auto& b : breaks) {
    BuildBootSector(g, 1, s);
    s[b.off] = b.value;
    EXPECT_FALSE(ParseBootSector(s, out, serial)) << b.off;
  }
  std::memset(s, 0, 512);
  EXPECT_FALSE(ParseBootSector(s, out, serial));
  EXPECT_FALSE(LooksLikeBootSector(s));
  s[0] = 0xE9;
  s[21] = 0xF8;
  EXPECT_TRUE(LooksLikeBootSector(s));
}

TEST(VolumeSerial, DiffersBetweenCalls) {
  EXPECT_NE(MakeVolumeSerial(1000, 1), MakeVolumeSerial(1000, 2));
  EXPECT_NE(MakeVolumeSerial(1000, 1), MakeVolumeSerial(1001, 1));
}

}  // namespace
}  // namespace kelm
