// The byte comparisons of the Deflate match finder: how far two strings agree, and whether a
// match repeats the bytes it claims. Both read whole steps of 8 or 16 bytes, up to 15 bytes
// past the bytes they compare (commonLength: up to kMaxMatch + 15 bytes from its starts), so
// callers keep that much readable padding behind their data.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quelt::matchbytes {

constexpr int kMaxMatch = 258;

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Index of the first differing byte in the word a ^ b (nonzero).
inline int firstDiffering(uint64_t x) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::countr_zero(x) >> 3;
  } else {
    return std::countl_zero(x) >> 3;
  }
}

// Eight bytes a step, for any machine.
inline int commonLengthWords(const uint8_t* a, const uint8_t* b) {
  int len = 0;
  do {
    const uint64_t x = load64(a + len) ^ load64(b + len);
    if (x != 0) return std::min(len + firstDiffering(x), kMaxMatch);
    len += 8;
  } while (len < kMaxMatch);
  return kMaxMatch;
}

inline bool sameBytesWords(const uint8_t* a, const uint8_t* b, int length) {
  uint64_t diff = 0;
  int i = 0;
  for (; i + 8 <= length; i += 8) diff |= load64(a + i) ^ load64(b + i);
  if (i < length) {
    // The last word reaches past the match: only its first bytes count.
    const uint64_t x = load64(a + i) ^ load64(b + i);
    const int keep = (length - i) * 8;
    if constexpr (std::endian::native == std::endian::little) {
      diff |= x << (64 - keep);
    } else {
      diff |= x >> (64 - keep);
    }
  }
  return diff == 0;
}

#if defined(__SSE2__)
// Sixteen bytes a step: a match of 9 to 16 bytes, common in text, then takes one.
inline unsigned differingMask(const uint8_t* a, const uint8_t* b) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  return ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF;
}

inline int commonLengthWide(const uint8_t* a, const uint8_t* b) {
  int len = 0;
  do {
    const unsigned differ = differingMask(a + len, b + len);
    if (differ != 0) return std::min(len + std::countr_zero(differ), kMaxMatch);
    len += 16;
  } while (len < kMaxMatch);
  return kMaxMatch;
}

inline bool sameBytesWide(const uint8_t* a, const uint8_t* b, int length) {
  unsigned differ = 0;
  for (int i = 0; i < length; i += 16) {
    const unsigned bits = differingMask(a + i, b + i);
    differ |= length - i >= 16 ? bits : bits & ((1u << (length - i)) - 1);
  }
  return differ == 0;
}
#endif

// Number of equal bytes at the start of a and b, at most kMaxMatch.
inline int commonLength(const uint8_t* a, const uint8_t* b) {
#if defined(__SSE2__)
  return commonLengthWide(a, b);
#else
  return commonLengthWords(a, b);
#endif
}

// Whether the `length` bytes at a and b are the same.
inline bool sameBytes(const uint8_t* a, const uint8_t* b, int length) {
#if defined(__SSE2__)
  return sameBytesWide(a, b, length);
#else
  return sameBytesWords(a, b, length);
#endif
}

}  // namespace quelt::matchbytes
