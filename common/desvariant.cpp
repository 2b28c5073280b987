// The suite's block cipher: the 32-bit-word DES construction (PC1/IP/FP as
// swap-and-mask steps, S-boxes merged with P into eight 64-entry tables, the
// key schedule through eight 64-entry tables) in which every word rotation
// turns left instead of right. The tables are built at compile time from the
// S-boxes of FIPS 46 and the bit placements of that construction.
#include "common/desvariant.h"

#include <array>
#include <cstring>

#include "common/byteorder.h"

namespace kelm {
namespace {

using u32 = std::uint32_t;

// FIPS 46 S-boxes, row-major (row = b1b6, column = b2b3b4b5).
constexpr std::uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2, 11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3, 13, 4, 7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1, 5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0, 5, 14, 9},
    {10, 0,  9, 14, 6,  3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2, 8,  5,  14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7, 1,  10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1, 2, 8, 5,  11, 12, 4,  15, 13, 8,  11, 5, 6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1, 3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1, 7,  10, 11, 6, 8,  5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0, 15, 10, 3,  9, 8,  6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4, 14, 7,  5,  11, 10, 15, 4,  2,  7, 12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0, 4,
     10, 1,  13, 11, 6,  4,  3,  2,  12, 9,  5, 15, 10, 11, 14, 1,  7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8, 13, 3,  12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1, 10, 14, 3,  5,  12, 2, 15, 8,  6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0, 5,  9,  2,  6,  11, 13, 8, 1,  4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7, 1,  15, 13, 8, 10, 3,
     7,  4,  12, 5,  6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0, 6,  10, 13,
     15, 3,  5,  8,  2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5, 6,  11}};

// Where the four output bits of S-box i (most significant first) land in a
// round word: the P permutation in the word layout of the block function.
constexpr std::uint8_t kSpBits[8][4] = {
    {11, 19, 25, 1}, {15, 30, 4, 20}, {26, 18, 0, 8},  {28, 22, 12, 3},
    {10, 16, 27, 5}, {6, 31, 13, 21}, {2, 14, 24, 9},  {7, 29, 17, 23}};

// Where each of the six index bits of the key-schedule lookups lands in the
// round-key halves (PC2 in the layout of the two 28-bit key registers).
constexpr std::uint8_t kSkbBits[8][6] = {
    {4, 29, 16, 11, 5, 19}, {25, 13, 21, 2, 10, 28}, {0, 18, 24, 1, 9, 27},
    {20, 8, 3, 12, 26, 17}, {28, 16, 2, 29, 20, 12}, {27, 3, 10, 17, 0, 25},
    {8, 19, 24, 4, 21, 9},  {26, 18, 1, 13, 5, 11}};

using Table = std::array<std::array<u32, 64>, 8>;

constexpr Table MakeSpTrans() {
  Table t{};
  for (int i = 0; i < 8; ++i) {
    for (int x = 0; x < 64; ++x) {
      // Index bit 0 is the S-box's first input bit b1.
      int b = 0;
      for (int k = 0; k < 6; ++k)
        if (x >> k & 1) b |= 1 << (5 - k);
      const int row = ((b >> 4) & 2) | (b & 1);
      const int col = (b >> 1) & 15;
      const int s = kSBox[i][row * 16 + col];
      u32 v = 0;
      for (int o = 0; o < 4; ++o)
        if (s >> (3 - o) & 1) v |= u32{1} << kSpBits[i][o];
      t[i][x] = v;
    }
  }
  return t;
}

constexpr Table MakeSkb() {
  Table t{};
  for (int i = 0; i < 8; ++i)
    for (int x = 0; x < 64; ++x) {
      u32 v = 0;
      for (int k = 0; k < 6; ++k)
        if (x >> k & 1) v |= u32{1} << kSkbBits[i][k];
      t[i][x] = v;
    }
  return t;
}

constexpr Table kSpTrans = MakeSpTrans();
constexpr Table kSkb = MakeSkb();

// The one change against standard DES: Left = true turns every word
// rotation of the construction to the left.
template <bool Left>
constexpr u32 Rot(u32 a, unsigned n) {
  return Left ? (a << n) | (a >> (32 - n)) : (a >> n) | (a << (32 - n));
}

inline void PermOp(u32& a, u32& b, unsigned n, u32 m) {
  const u32 t = ((a >> n) ^ b) & m;
  b ^= t;
  a ^= t << n;
}

template <bool Left>
void Schedule(const std::uint8_t key[8], DesSchedule& ks) {
  static constexpr bool kTwo[16] = {0, 0, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 0};
  u32 c = LoadLe32(key);
  u32 d = LoadLe32(key + 4);
  u32 t;
  // PC1.
  PermOp(d, c, 4, 0x0f0f0f0fu);
  t = ((c << 18) ^ c) & 0xcccc0000u;
  c = c ^ t ^ (t >> 18);
  t = ((d << 18) ^ d) & 0xcccc0000u;
  d = d ^ t ^ (t >> 18);
  PermOp(d, c, 1, 0x55555555u);
  PermOp(c, d, 8, 0x00ff00ffu);
  PermOp(d, c, 1, 0x55555555u);
  d = ((d & 0x000000ffu) << 16) | (d & 0x0000ff00u) | ((d & 0x00ff0000u) >> 16) |
      ((c & 0xf0000000u) >> 4);
  c &= 0x0fffffffu;

  u32* k = ks.k;
  for (int i = 0; i < 16; ++i) {
    // The 28-bit register shifts of the key halves are not word rotations.
    if (kTwo[i]) {
      c = (c >> 2) | (c << 26);
      d = (d >> 2) | (d << 26);
    } else {
      c = (c >> 1) | (c << 27);
      d = (d >> 1) | (d << 27);
    }
    c &= 0x0fffffffu;
    d &= 0x0fffffffu;
    const u32 s = kSkb[0][c & 0x3f] | kSkb[1][((c >> 6) & 0x03) | ((c >> 7) & 0x3c)] |
                  kSkb[2][((c >> 13) & 0x0f) | ((c >> 14) & 0x30)] |
                  kSkb[3][((c >> 20) & 0x01) | ((c >> 21) & 0x06) | ((c >> 22) & 0x38)];
    const u32 u = kSkb[4][d & 0x3f] | kSkb[5][((d >> 7) & 0x03) | ((d >> 8) & 0x3c)] |
                  kSkb[6][(d >> 15) & 0x3f] | kSkb[7][((d >> 21) & 0x0f) | ((d >> 22) & 0x30)];
    *k++ = Rot<Left>((u << 16) | (s & 0x0000ffffu), 30);
    *k++ = Rot<Left>((s >> 16) | (u & 0xffff0000u), 26);
  }
}

// A table entry by a byte offset already masked to a multiple of 4 (saves
// the shift of a 6-bit index on every lookup).
inline u32 Sp(int box, u32 byteOffset) {
  return *reinterpret_cast<const u32*>(reinterpret_cast<const unsigned char*>(kSpTrans[box].data()) +
                                       byteOffset);
}

template <bool Left>
inline void Round(u32& l, u32 r, const u32* s) {
  const u32 u = (r ^ s[0]) & 0xfcfcfcfcu;
  const u32 t = Rot<Left>(r ^ s[1], 4) & 0xfcfcfcfcu;
  l ^= Sp(0, u & 0xff) ^ Sp(2, (u >> 8) & 0xff) ^ Sp(4, (u >> 16) & 0xff) ^ Sp(6, u >> 24) ^
       Sp(1, t & 0xff) ^ Sp(3, (t >> 8) & 0xff) ^ Sp(5, (t >> 16) & 0xff) ^ Sp(7, t >> 24);
}

template <bool Left>
inline void Block(const DesSchedule& ks, std::uint8_t* block, bool encrypt) {
  u32 r = LoadLe32(block);
  u32 l = LoadLe32(block + 4);
  // IP.
  PermOp(l, r, 4, 0x0f0f0f0fu);
  PermOp(r, l, 16, 0x0000ffffu);
  PermOp(l, r, 2, 0x33333333u);
  PermOp(r, l, 8, 0x00ff00ffu);
  PermOp(l, r, 1, 0x55555555u);
  r = Rot<Left>(r, 29);
  l = Rot<Left>(l, 29);
  const u32* s = ks.k;
  if (encrypt) {
#pragma GCC unroll 8
    for (int i = 0; i < 32; i += 4) {
      Round<Left>(l, r, s + i);
      Round<Left>(r, l, s + i + 2);
    }
  } else {
#pragma GCC unroll 8
    for (int i = 30; i > 0; i -= 4) {
      Round<Left>(l, r, s + i);
      Round<Left>(r, l, s + i - 2);
    }
  }
  l = Rot<Left>(l, 3);
  r = Rot<Left>(r, 3);
  // FP.
  PermOp(r, l, 1, 0x55555555u);
  PermOp(l, r, 8, 0x00ff00ffu);
  PermOp(r, l, 2, 0x33333333u);
  PermOp(l, r, 16, 0x0000ffffu);
  PermOp(r, l, 4, 0x0f0f0f0fu);
  StoreLe32(block, l);
  StoreLe32(block + 4, r);
}

constexpr std::uint8_t kRefused[16][8] = {
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},
    {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
    {0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F},
    {0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0, 0xE0},
    {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE},
    {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
    {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1},
    {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
    {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1},
    {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
    {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE},
    {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
    {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E},
    {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
    {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE},
    {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1}};

bool Crypt(const char* keyText, std::uint8_t* data, std::size_t len, bool encrypt) {
  DesSchedule ks;
  if (!CipherSchedule(keyText, ks)) return false;
  DesVariantEcb(ks, data, len, encrypt);
  return true;
}

}  // namespace

void PrepareKeyBytes(const char* keyText, std::uint8_t out[8]) {
  std::size_t i = 0;
  if (keyText)
    for (; i < 8 && keyText[i] != '\0'; ++i) out[i] = static_cast<std::uint8_t>(keyText[i]);
  for (; i < 8; ++i) out[i] = 0;
  for (i = 0; i < 8; ++i)
    if ((__builtin_popcount(out[i]) & 1) == 0) out[i] |= 0x80;
}

bool IsRefusedKey(const std::uint8_t key[8]) {
  for (const auto& r : kRefused)
    if (std::memcmp(r, key, 8) == 0) return true;
  return false;
}

void DesVariantSchedule(const std::uint8_t key[8], DesSchedule& ks) { Schedule<true>(key, ks); }

void DesVariantBlock(const DesSchedule& ks, std::uint8_t block[8], bool encrypt) {
  Block<true>(ks, block, encrypt);
}

void DesVariantEcb(const DesSchedule& ks, std::uint8_t* data, std::size_t len, bool encrypt) {
  for (std::size_t n = len / 8; n > 0; --n, data += 8) Block<true>(ks, data, encrypt);
}

void StandardDesSchedule(const std::uint8_t key[8], DesSchedule& ks) { Schedule<false>(key, ks); }

void StandardDesBlock(const DesSchedule& ks, std::uint8_t block[8], bool encrypt) {
  Block<false>(ks, block, encrypt);
}

bool CipherSchedule(const char* keyText, DesSchedule& ks) {
  std::uint8_t key[8];
  PrepareKeyBytes(keyText, key);
  if (IsRefusedKey(key)) return false;
  DesVariantSchedule(key, ks);
  return true;
}

bool CipherEncrypt(const char* keyText, std::uint8_t* data, std::size_t len) {
  return Crypt(keyText, data, len, true);
}

bool CipherDecrypt(const char* keyText, std::uint8_t* data, std::size_t len) {
  return Crypt(keyText, data, len, false);
}

}  // namespace kelm
