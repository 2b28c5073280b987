// Byte layouts of the driver records.
#include "common/devices.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace kelm::dev;

namespace {

std::uint32_t Le32(const std::uint8_t* p) { return kelm::LoadLe32(p); }

}  // namespace

TEST(Devices, RequestCodes) {
  EXPECT_EQ(IOCTL_CREATE_SYM_LINK, 0x8000e00cu);
  EXPECT_EQ(IOCTL_FILE_DISK_OPEN_FILE, 0x8000e000u);
  EXPECT_EQ(kIoctlRemoveLink, 0x8000e014u);
  EXPECT_EQ(kIoctlCloseAll, 0x8000e018u);
  EXPECT_EQ(kIoctlStartup, 0x8000e020u);
  EXPECT_EQ(kFsctlLockVolume, 0x90018u);
  EXPECT_EQ(kFsctlDismountVolume, 0x90020u);
  EXPECT_EQ(kFsctlUnlockVolume, 0x9001cu);
  EXPECT_EQ(kIoctl98Check, 0x22001fu);
  EXPECT_EQ(kIoctl98SetUser, 0x220013u);
  EXPECT_EQ(kIoctl98MountSlot, 0x220007u);
  EXPECT_EQ(kIoctl98LetterQuery, 0x22001bu);
  EXPECT_EQ(kIoctl98DismountSlot, 0x22000bu);
  EXPECT_EQ(kIoctl98DismountAll, 0x220017u);
  EXPECT_EQ(kIoctlReadKey, 0x220008u);
  EXPECT_EQ(kIoctlMonitorSetUser, 0x83000228u);
  EXPECT_EQ(kIoctlMonitorApply, 0x83000214u);
  EXPECT_EQ(kIoctlMonitorConfiguring, 0x8300022cu);
}

TEST(Devices, OpenFileInfoLayout) {
  const std::string path = "C:\\img\\disk1.img";
  OpenFileInfo r;
  ASSERT_EQ(BuildOpenFileInfo(true, "secret", 40, path, r), OpenFileInfoError::None);
  const std::size_t nameLen = 4 + path.size();
  ASSERT_EQ(r.bytes.size(), path.size() + 36);
  EXPECT_EQ(r.passLength, nameLen + 31);
  const std::uint8_t* b = r.bytes.data();
  EXPECT_EQ(Le32(b), 0u);
  EXPECT_EQ(b[4], 1);
  EXPECT_EQ(std::memcmp(b + 5, "secret\0\0\0\0\0", 11), 0);
  EXPECT_EQ(Le32(b + 16), 40u * 1048576u);
  EXPECT_EQ(Le32(b + 20), 0u);
  EXPECT_EQ(b[24] | b[25] << 8, static_cast<int>(nameLen));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 26)), "\\??\\" + path);
  // Terminator and the allocation's tail are zero.
  for (std::size_t i = 26 + nameLen; i < r.bytes.size(); ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(Devices, OpenFileInfoReadWriteAndEmptyPassword) {
  OpenFileInfo r;
  ASSERT_EQ(BuildOpenFileInfo(false, "", 33, "D:\\a", r), OpenFileInfoError::None);
  EXPECT_EQ(r.bytes[4], 0);
  for (int i = 5; i < 16; ++i) EXPECT_EQ(r.bytes[i], 0);
}

TEST(Devices, OpenFileInfoPasswordCutToNine) {
  OpenFileInfo r;
  ASSERT_EQ(BuildOpenFileInfo(false, "0123456789abcdef", 33, "x", r), OpenFileInfoError::None);
  EXPECT_EQ(std::memcmp(r.bytes.data() + 5, "012345678\0\0", 11), 0);
}

TEST(Devices, OpenFileInfoSizes) {
  struct Case {
    std::uint32_t mb;
    OpenFileInfoError err;
    std::uint32_t low;
  } cases[] = {
      {0, OpenFileInfoError::None, 0},
      {4094, OpenFileInfoError::None, 4292870144u},
      {4095, OpenFileInfoError::None, 4293918720u},
      {4096, OpenFileInfoError::SizeTooLarge, 0},
      {0xFFFFFFFFu, OpenFileInfoError::SizeTooLarge, 0},
  };
  for (const Case& c : cases) {
    OpenFileInfo r;
    EXPECT_EQ(BuildOpenFileInfo(false, "", c.mb, "p", r), c.err) << c.mb;
    if (c.err == OpenFileInfoError::None) {
      EXPECT_EQ(Le32(r.bytes.data() + 16), c.low) << c.mb;
      EXPECT_EQ(Le32(r.bytes.data() + 20), 0u);
    } else {
      EXPECT_TRUE(r.bytes.empty());
    }
  }
}

TEST(Devices, OpenFileInfoPathLimit) {
  OpenFileInfo r;
  EXPECT_EQ(BuildOpenFileInfo(false, "", 33, std::string(0xFFFF - 4, 'a'), r), OpenFileInfoError::None);
  EXPECT_EQ(r.bytes[24] | r.bytes[25] << 8, 0xFFFF);
  EXPECT_EQ(BuildOpenFileInfo(false, "", 33, std::string(0xFFFF - 3, 'a'), r),
            OpenFileInfoError::PathTooLong);
}

TEST(Devices, OpenFileInfoRoundTrip) {
  OpenFileInfo r;
  ASSERT_EQ(BuildOpenFileInfo(true, "pw9chars!", 100, "C:\\x\\y.img", r), OpenFileInfoError::None);
  OpenFileInfoFields f{};
  ASSERT_TRUE(ParseOpenFileInfo(r.bytes.data(), r.passLength, f));
  EXPECT_TRUE(f.readOnly);
  EXPECT_STREQ(f.password, "pw9chars!");
  EXPECT_EQ(f.sizeBytes, 100ull * 1048576ull);
  EXPECT_EQ(std::string(f.fileName, f.fileNameLength), "\\??\\C:\\x\\y.img");
  EXPECT_EQ(std::string(f.imagePath, f.imagePathLength), "C:\\x\\y.img");
}

TEST(Devices, OpenFileInfoParserRefusals) {
  OpenFileInfo r;
  ASSERT_EQ(BuildOpenFileInfo(false, "", 33, "C:\\a.img", r), OpenFileInfoError::None);
  OpenFileInfoFields f{};
  EXPECT_FALSE(ParseOpenFileInfo(nullptr, 40, f));
  EXPECT_FALSE(ParseOpenFileInfo(r.bytes.data(), 25, f));
  // Name cut by the length: 26 + FileNameLength is the least accepted.
  const std::size_t least = 26 + 4 + 8;
  EXPECT_FALSE(ParseOpenFileInfo(r.bytes.data(), least - 1, f));
  EXPECT_TRUE(ParseOpenFileInfo(r.bytes.data(), least, f));
  // A zero inside the declared name.
  r.bytes[26 + 6] = 0;
  EXPECT_FALSE(ParseOpenFileInfo(r.bytes.data(), r.passLength, f));
}

TEST(Devices, OpenFileInfoParserUnterminatedPasswordAndNoPrefix) {
  std::uint8_t rec[40] = {};
  std::memset(rec + 5, 'p', 11);
  rec[24] = 3;
  std::memcpy(rec + 26, "abc", 3);
  OpenFileInfoFields f{};
  ASSERT_TRUE(ParseOpenFileInfo(rec, sizeof rec, f));
  EXPECT_EQ(std::string(f.password), std::string(11, 'p'));
  EXPECT_EQ(std::string(f.imagePath, f.imagePathLength), "abc");
}

TEST(Devices, LinkRecords) {
  EXPECT_EQ(CreateLinkRecord('h', 2), (std::array<std::uint8_t, 2>{'H', '2'}));
  EXPECT_EQ(CreateLinkRecord('Z', 0), (std::array<std::uint8_t, 2>{'Z', '0'}));
  EXPECT_EQ(RemoveLinkRecord('g', kRemoveLinkDismount), (std::array<std::uint8_t, 2>{'G', '0'}));
  EXPECT_EQ(RemoveLinkRecord('G', '3'), (std::array<std::uint8_t, 2>{'G', '3'}));
  EXPECT_STREQ(VolumeName('H').data(), "\\\\.\\H:");
}

TEST(Devices, Win98UserRecord) {
  for (std::uint32_t id : {0u, 7u, 1234u, 4294967295u}) {
    const auto r = Win98UserRecord(id);
    EXPECT_EQ(Le32(r.data()), id);
    const std::string text = std::to_string(id);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 10)), text);
    for (std::size_t i = 4; i < 10; ++i) EXPECT_EQ(r[i], 0);
    for (std::size_t i = 10 + text.size(); i < r.size(); ++i) EXPECT_EQ(r[i], 0);
    std::uint32_t back = 1;
    ASSERT_TRUE(ParseWin98UserRecord(r.data(), r.size(), back));
    EXPECT_EQ(back, id);
  }
}

TEST(Devices, Win98SlotRecord) {
  std::array<std::uint8_t, 100> r;
  r.fill(0xAA);
  ASSERT_TRUE(Win98SlotRecord(3, 0x01020304u, r));
  EXPECT_EQ(r[0], 3);
  EXPECT_EQ(r[1], 4);
  EXPECT_EQ(r[2], 3);
  EXPECT_EQ(r[3], 2);
  EXPECT_EQ(r[4], 1);
  for (std::size_t i = 5; i < r.size(); ++i) EXPECT_EQ(r[i], 0);
  EXPECT_FALSE(Win98SlotRecord(4, 1, r));
  std::uint8_t slot = 9;
  std::uint32_t id = 0;
  ASSERT_TRUE(ParseWin98SlotRecord(r.data(), r.size(), slot, id));
  EXPECT_EQ(slot, 3);
  EXPECT_EQ(id, 0x01020304u);
  r[0] = 4;
  EXPECT_FALSE(ParseWin98SlotRecord(r.data(), r.size(), slot, id));
  EXPECT_FALSE(ParseWin98SlotRecord(r.data(), 4, slot, id));
}

TEST(Devices, MonitorTexts) {
  EXPECT_EQ(FormatDecimal(0).view(), "0");
  EXPECT_EQ(FormatDecimal(1234).view(), "1234");
  EXPECT_EQ(FormatDecimal(4294967295u).view(), "4294967295");
  EXPECT_EQ(MonitorConfiguringText(true), "yes");
  EXPECT_EQ(MonitorConfiguringText(false), "no");
}
