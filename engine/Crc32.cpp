#include "engine/Crc32.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUELT_CRC_FOLDING 1
#endif

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

#ifdef QUELT_CRC_FOLDING
// Folding with carry-less multiplication: the register is carried along as a 128-bit
// remainder; multiplying by x^D mod P moves a part D bits ahead, where it meets later data.
// The constants are those powers, in the bit-reflected form the CRC works in.

constexpr uint64_t kPoly = 0x104C11DB7;  // P with its x^32 term

// x^n mod P.
constexpr uint64_t xPowMod(int n) {
  uint64_t r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t(1) << 32)) r ^= kPoly;
  }
  return r;
}

constexpr uint64_t reflect(uint64_t v, int bits) {
  uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
  return r;
}

// A fold constant for a distance: x^n mod P reflected, times x to line the product up.
constexpr uint64_t foldConstant(int n) {
  return reflect(xPowMod(n), 32) << 1;
}

// floor(x^64 / P), for the final Barrett reduction: long division, one dividend bit a step.
constexpr uint64_t xPow64DivP() {
  uint64_t q = 0, r = 0;
  for (int i = 64; i >= 0; --i) {
    r = (r << 1) | (i == 64 ? 1 : 0);
    if (r & (uint64_t(1) << 32)) {
      r ^= kPoly;
      q |= uint64_t(1) << i;
    }
  }
  return q;
}

constexpr uint64_t kFold512Lo = foldConstant(4 * 128 + 32), kFold512Hi = foldConstant(4 * 128 - 32);
constexpr uint64_t kFold128Lo = foldConstant(128 + 32), kFold128Hi = foldConstant(128 - 32);
constexpr uint64_t kFold1024Lo = foldConstant(8 * 128 + 32),
                   kFold1024Hi = foldConstant(8 * 128 - 32);
constexpr uint64_t kFold64 = foldConstant(64);
constexpr uint64_t kReflectedPoly = reflect(kPoly, 33);
constexpr uint64_t kBarrettMu = reflect(xPow64DivP(), 33);
static_assert(kFold512Lo == 0x154442BD4 && kFold512Hi == 0x1C6E41596);
static_assert(kFold128Lo == 0x1751997D0 && kFold128Hi == 0x0CCAA009E);
static_assert(kFold64 == 0x163CD6124 && kReflectedPoly == 0x1DB710641);
static_assert(kBarrettMu == 0x1F7011641);

[[gnu::target("pclmul")]] inline __m128i fold(__m128i x, __m128i k, __m128i data) {
  __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), data);
}

[[gnu::target("pclmul")]] inline __m128i load128(const uint8_t* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// Folds the n bytes at p (a multiple of 16) into x, then reduces x to the 32-bit register.
[[gnu::target("pclmul")]] uint32_t finishFolded(__m128i x1, const uint8_t* p, size_t n) {
  const __m128i k128 = _mm_set_epi64x(int64_t(kFold128Hi), int64_t(kFold128Lo));
  for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, k128, load128(p));

  // 128 bits to 64, then to 32 (each step also appends the 32 zero bits a CRC implies).
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k128, 0x10));
  x1 = _mm_xor_si128(
      _mm_srli_si128(x1, 4),
      _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), _mm_set_epi64x(0, int64_t(kFold64)), 0x00));
  // Barrett reduction: the quotient by P from mu, then the remainder.
  const __m128i poly = _mm_set_epi64x(int64_t(kBarrettMu), int64_t(kReflectedPoly));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x1, t), 4)));
}

// The register after n bytes, n a multiple of 16 and at least 64: four 128-bit lanes.
[[gnu::target("pclmul")]] uint32_t updateFolded(uint32_t crc, const uint8_t* p, size_t n) {
  __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(int(crc)));
  __m128i x2 = load128(p + 16), x3 = load128(p + 32), x4 = load128(p + 48);
  p += 64;
  n -= 64;
  const __m128i k512 = _mm_set_epi64x(int64_t(kFold512Hi), int64_t(kFold512Lo));
  while (n >= 64) {
    x1 = fold(x1, k512, load128(p));
    x2 = fold(x2, k512, load128(p + 16));
    x3 = fold(x3, k512, load128(p + 32));
    x4 = fold(x4, k512, load128(p + 48));
    p += 64;
    n -= 64;
  }
  const __m128i k128 = _mm_set_epi64x(int64_t(kFold128Hi), int64_t(kFold128Lo));
  x1 = fold(x1, k128, x2);
  x1 = fold(x1, k128, x3);
  x1 = fold(x1, k128, x4);
  return finishFolded(x1, p, n);
}

// The same with eight 128-bit lanes in four 256-bit registers, 128 bytes a step, where the
// processor multiplies in 256-bit registers: the lanes fold independently, so this is the
// loop above twice as wide. n is a multiple of 16 and at least kWideMinimum.
constexpr size_t kWideMinimum = 1024;

#define QUELT_WIDE_TARGET gnu::target("pclmul,avx2,vpclmulqdq")
[[QUELT_WIDE_TARGET]] inline __m256i fold256(__m256i x, __m256i k, __m256i data) {
  const __m256i lo = _mm256_clmulepi64_epi128(x, k, 0x00);
  const __m256i hi = _mm256_clmulepi64_epi128(x, k, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(lo, hi), data);
}

[[QUELT_WIDE_TARGET]] inline __m256i load256(const uint8_t* q) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
}

[[QUELT_WIDE_TARGET]] uint32_t updateFoldedWide(uint32_t crc, const uint8_t* p, size_t n) {
  __m256i y1 = _mm256_xor_si256(load256(p), _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, int(crc)));
  __m256i y2 = load256(p + 32), y3 = load256(p + 64), y4 = load256(p + 96);
  p += 128;
  n -= 128;
  const __m256i k1024 = _mm256_set_epi64x(int64_t(kFold1024Hi), int64_t(kFold1024Lo),
                                          int64_t(kFold1024Hi), int64_t(kFold1024Lo));
  while (n >= 128) {
    y1 = fold256(y1, k1024, load256(p));
    y2 = fold256(y2, k1024, load256(p + 32));
    y3 = fold256(y3, k1024, load256(p + 64));
    y4 = fold256(y4, k1024, load256(p + 96));
    p += 128;
    n -= 128;
  }
  // The eight lanes in stream order, folded into one.
  const __m128i k128 = _mm_set_epi64x(int64_t(kFold128Hi), int64_t(kFold128Lo));
  __m128i x = _mm256_castsi256_si128(y1);
  for (__m128i next : {_mm256_extracti128_si256(y1, 1), _mm256_castsi256_si128(y2),
                       _mm256_extracti128_si256(y2, 1), _mm256_castsi256_si128(y3),
                       _mm256_extracti128_si256(y3, 1), _mm256_castsi256_si128(y4),
                       _mm256_extracti128_si256(y4, 1)})
    x = fold(x, k128, next);
  return finishFolded(x, p, n);
}
#undef QUELT_WIDE_TARGET

bool haveWideCarrylessMultiply() {
  static const bool have = __builtin_cpu_supports("avx2") &&
                           __builtin_cpu_supports("vpclmulqdq") &&
                           __builtin_cpu_supports("pclmul");
  return have;
}

bool haveCarrylessMultiply() {
  static const bool have = __builtin_cpu_supports("pclmul");
  return have;
}
#endif

}  // namespace

namespace crcdetail {

uint32_t updateSliced(uint32_t crc, const uint8_t* p, size_t n) {
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

}  // namespace crcdetail

uint32_t crcdetail::updateNarrow(uint32_t crc, const uint8_t* p, size_t n) {
#ifdef QUELT_CRC_FOLDING
  if (n >= 64 && haveCarrylessMultiply()) {
    size_t whole = n & ~size_t(15);
    crc = updateFolded(crc, p, whole);
    p += whole;
    n -= whole;
  }
#endif
  return crcdetail::updateSliced(crc, p, n);
}

uint32_t UpdateCRC(uint32_t crc, const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
#ifdef QUELT_CRC_FOLDING
  if (n >= kWideMinimum && haveWideCarrylessMultiply()) {
    size_t whole = n & ~size_t(15);
    crc = updateFoldedWide(crc, p, whole);
    p += whole;
    n -= whole;
    return crcdetail::updateSliced(crc, p, n);
  }
#endif
  return crcdetail::updateNarrow(crc, p, n);
}

}  // namespace quelt
