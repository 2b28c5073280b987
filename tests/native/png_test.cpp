// The screenshot PNG writer, read back with zlib.
#include "tests/wine/png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

namespace {

using kelmtest::png::Encode;

std::uint32_t Be32(const std::string& s, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3]));
}

// Walks the chunks (checking each CRC with zlib), inflates the image data
// and undoes the row filters; the pixels as Encode took them.
std::vector<std::uint32_t> Decode(const std::string& png, int& width, int& height) {
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  std::string idat;
  std::vector<std::string> types;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t len = Be32(png, at);
    const std::string type = png.substr(at + 4, 4);
    const std::string body = png.substr(at + 8, len);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), len + 4);
    EXPECT_EQ(Be32(png, at + 8 + len), crc) << type;
    types.push_back(type);
    if (type == "IHDR") {
      width = static_cast<int>(Be32(body, 0));
      height = static_cast<int>(Be32(body, 4));
      EXPECT_EQ(body.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
    }
    if (type == "IDAT") idat += body;
    at += 12 + len;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> raw((rowBytes + 1) * height + 1);
  uLongf rawLen = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &rawLen, reinterpret_cast<const Bytef*>(idat.data()), idat.size()), Z_OK);
  EXPECT_EQ(rawLen, (rowBytes + 1) * height);

  std::vector<std::uint32_t> px;
  std::vector<std::uint8_t> prev(rowBytes, 0), cur(rowBytes);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = raw.data() + y * (rowBytes + 1);
    const int filter = row[0];
    EXPECT_TRUE(filter == 1 || filter == 2) << filter;
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const std::uint8_t pred = filter == 1 ? (i >= 3 ? cur[i - 3] : 0) : prev[i];
      cur[i] = static_cast<std::uint8_t>(row[1 + i] + pred);
    }
    for (int x = 0; x < width; ++x)
      px.push_back((std::uint32_t{cur[x * 3]} << 16) | (std::uint32_t{cur[x * 3 + 1]} << 8) | cur[x * 3 + 2]);
    prev = cur;
  }
  return px;
}

void RoundTrip(int w, int h, const std::vector<std::uint32_t>& px) {
  const std::string png = Encode(w, h, px);
  ASSERT_FALSE(png.empty());
  int rw = 0, rh = 0;
  EXPECT_EQ(Decode(png, rw, rh), px);
  EXPECT_EQ(rw, w);
  EXPECT_EQ(rh, h);
}

}  // namespace

TEST(Png, ChecksumsAgreeWithZlib) {
  const char text[] = "Wikipedia";
  const auto* p = reinterpret_cast<const std::uint8_t*>(text);
  EXPECT_EQ(kelmtest::png::Adler32(p, 9), 0x11E60398u);
  EXPECT_EQ(kelmtest::png::Adler32(p, 9), adler32(1, p, 9));
  EXPECT_EQ(kelmtest::png::Crc32(reinterpret_cast<const std::uint8_t*>("IEND"), 4), 0xAE426082u);
  EXPECT_EQ(kelmtest::png::Crc32(p, 9), crc32(0, p, 9));
}

TEST(Png, FlatScreenIsSmallAndExact) {
  const int w = 1024, h = 768;
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h, 0x236E96);
  for (int x = 0; x < w; ++x)
    for (int y = 748; y < h; ++y) px[static_cast<std::size_t>(y) * w + x] = 0xFFFFFF;
  const std::string png = Encode(w, h, px);
  EXPECT_LT(png.size(), 60000u);  // stored blocks would be 2.3 MB
  RoundTrip(w, h, px);
}

TEST(Png, NoiseRunsAndOddSizes) {
  std::mt19937 rng(7);
  for (int w : {1, 2, 3, 17, 300}) {
    for (int h : {1, 2, 31}) {
      std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h);
      for (auto& p : px) {
        // Mostly runs of a few colours, with noise between: every match length.
        const auto r = rng();
        p = (r % 4 == 0) ? (r >> 8) & 0xFFFFFF : (r % 3) * 0x404040;
      }
      RoundTrip(w, h, px);
    }
  }
}

TEST(Png, LongRunsOfEveryLength) {
  for (int len : {3, 4, 10, 258, 259, 260, 261, 517, 1000}) {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(len), 0x010203);
    px[0] = 0xABCDEF;
    RoundTrip(len, 1, px);
  }
}

TEST(Png, RejectsImpossibleSizes) {
  EXPECT_TRUE(Encode(0, 1, {}).empty());
  EXPECT_TRUE(Encode(2, 2, std::vector<std::uint32_t>(3)).empty());
}
