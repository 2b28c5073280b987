// A small PNG writer for screenshots: 8-bit RGB, each row filtered with
// Sub or Up (whichever leaves more zero bytes), deflated with fixed Huffman
// codes and run-length matches. Screens are mostly flat colour, so runs
// make them small without a full LZ77 search. No Win32 here: the host
// tests check it against zlib.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelmtest::png {

inline std::uint32_t Crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

inline std::uint32_t Adler32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t a = 1, b = 0;
  for (std::size_t i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// Deflate bits go out least significant first; Huffman codes most
// significant first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void Bits(std::uint32_t value, int count) {
    acc_ |= static_cast<std::uint64_t>(value) << n_;
    n_ += count;
    while (n_ >= 8) {
      out_.push_back(static_cast<std::uint8_t>(acc_));
      acc_ >>= 8;
      n_ -= 8;
    }
  }
  void Code(std::uint32_t code, int length) {
    std::uint32_t r = 0;
    for (int i = 0; i < length; ++i) r |= ((code >> i) & 1u) << (length - 1 - i);
    Bits(r, length);
  }
  void Flush() {
    if (n_ > 0) out_.push_back(static_cast<std::uint8_t>(acc_));
    acc_ = 0;
    n_ = 0;
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t acc_ = 0;
  int n_ = 0;
};

// Fixed literal/length code of RFC 1951, 3.2.6.
inline void FixedSymbol(BitWriter& w, int sym) {
  if (sym < 144) w.Code(0x30 + sym, 8);
  else if (sym < 256) w.Code(0x190 + sym - 144, 9);
  else if (sym < 280) w.Code(sym - 256, 7);
  else w.Code(0xC0 + sym - 280, 8);
}

// A match of `length` (3..258) bytes at distance 1.
inline void RunMatch(BitWriter& w, int length) {
  static constexpr int kBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static constexpr int kExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int code = 28;
  while (kBase[code] > length) --code;
  FixedSymbol(w, 257 + code);
  if (kExtra[code]) w.Bits(static_cast<std::uint32_t>(length - kBase[code]), kExtra[code]);
  w.Code(0, 5);  // distance code 0: distance 1, no extra bits
}

inline std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out;
  BitWriter w(out);
  w.Bits(1, 1);  // the only block, and the last
  w.Bits(1, 2);  // fixed Huffman codes
  std::size_t i = 0;
  while (i < data.size()) {
    FixedSymbol(w, data[i]);
    std::size_t run = 0;
    while (i + 1 + run < data.size() && data[i + 1 + run] == data[i] && run < 258) ++run;
    ++i;
    if (run >= 3) {  // shorter repeats stay literals
      RunMatch(w, static_cast<int>(run));
      i += run;
    }
  }
  FixedSymbol(w, 256);
  w.Flush();
  return out;
}

inline void Put32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

inline void Chunk(std::string& png, const char* type, const std::vector<std::uint8_t>& body) {
  Put32(png, static_cast<std::uint32_t>(body.size()));
  std::vector<std::uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  png.append(reinterpret_cast<const char*>(typed.data()), typed.size());
  Put32(png, Crc32(typed.data(), typed.size()));
}

// pixels: width*height values 0x00RRGGBB, top row first.
inline std::string Encode(int width, int height, const std::vector<std::uint32_t>& pixels) {
  if (width <= 0 || height <= 0 || pixels.size() != static_cast<std::size_t>(width) * height) return {};
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> raw;
  raw.reserve((rowBytes + 1) * height);
  std::vector<std::uint8_t> prev(rowBytes, 0), cur(rowBytes), sub(rowBytes), up(rowBytes);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      cur[x * 3] = static_cast<std::uint8_t>(p >> 16);
      cur[x * 3 + 1] = static_cast<std::uint8_t>(p >> 8);
      cur[x * 3 + 2] = static_cast<std::uint8_t>(p);
    }
    std::size_t zerosSub = 0, zerosUp = 0;
    for (std::size_t i = 0; i < rowBytes; ++i) {
      sub[i] = static_cast<std::uint8_t>(cur[i] - (i >= 3 ? cur[i - 3] : 0));
      up[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
      zerosSub += sub[i] == 0;
      zerosUp += up[i] == 0;
    }
    const bool useUp = y > 0 && zerosUp > zerosSub;
    raw.push_back(useUp ? 2 : 1);
    const auto& f = useUp ? up : sub;
    raw.insert(raw.end(), f.begin(), f.end());
    prev.swap(cur);
  }

  std::vector<std::uint8_t> z = {0x78, 0x01};
  const auto deflated = Deflate(raw);
  z.insert(z.end(), deflated.begin(), deflated.end());
  const std::uint32_t adler = Adler32(raw.data(), raw.size());
  for (int shift = 24; shift >= 0; shift -= 8) z.push_back(static_cast<std::uint8_t>(adler >> shift));

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::vector<std::uint8_t> ihdr;
  for (std::uint32_t v : {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
    for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<std::uint8_t>(v >> shift));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, adaptive filters, no interlace
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace kelmtest::png
