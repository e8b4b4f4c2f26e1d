#include "engine/Crc32.h"

#include <bit>
#include <cstring>

namespace quelt {

namespace {

// Slicing by 16: kSlices[k][b] is the register contribution of byte b followed by k zero
// bytes, so 16 input bytes fold into the register with 16 independent lookups.
constexpr int kSliceCount = 16;
using Slices = std::array<std::array<uint32_t, 256>, kSliceCount>;

constexpr Slices makeSlices() {
  Slices s{};
  s[0] = kCrcTable;
  for (int k = 1; k < kSliceCount; ++k)
    for (int b = 0; b < 256; ++b) s[k][b] = (s[k - 1][b] >> 8) ^ kCrcTable[s[k - 1][b] & 0xFF];
  return s;
}
constexpr Slices kSlices = makeSlices();

inline uint32_t loadLE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

}  // namespace

uint32_t UpdateCRC(uint32_t crc, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const auto& t = kSlices;
  while (n >= 16) {
    uint32_t a = loadLE32(p) ^ crc, b = loadLE32(p + 4), c = loadLE32(p + 8), d = loadLE32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    n -= 16;
  }
  while (n--) crc = CRCByte(crc, *p++);
  return crc;
}

}  // namespace quelt
