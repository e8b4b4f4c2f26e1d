#include "engine/Unreduce.h"

#include <cstring>

#include "engine/LegacyBits.h"
#include "engine/LegacyWindow.h"

namespace quelt {

namespace {

constexpr uint32_t kWindowSize = 16384;
constexpr size_t kFollowerOffset = 16384;
constexpr size_t kFollowerSetSize = 64;
static_assert(kFollowerOffset + 256 * kFollowerSetSize <= TDecodeIO::kWorkAreaSize);

constexpr uint8_t kDle = 144;

// Bits of a follower index for a set of n bytes.
constexpr unsigned followerWidth(unsigned n) {
  if (n == 0) return 8;
  unsigned w = 1;
  while ((1u << w) < n) ++w;
  return w;
}
static_assert(followerWidth(1) == 1 && followerWidth(2) == 1 && followerWidth(3) == 2 &&
              followerWidth(5) == 3 && followerWidth(33) == 6 && followerWidth(63) == 6);

}  // namespace

int Unreduce(TDecodeIO& io, int factor) {
  if (factor < 1 || factor > 4) {
    io.FlushOutput();
    return kLegacyDamaged;
  }
  const uint32_t lengthMask = 0x7Fu >> (factor - 1);
  const unsigned distShift = 8 - unsigned(factor);
  const uint32_t distMask = (1u << factor) - 1;

  TLegacyBits bits(io);
  uint8_t* sets = io.WorkArea() + kFollowerOffset;
  // Indices past a set's size are damaged data; they read zeros, not the previous entry.
  std::memset(sets, 0, 256 * kFollowerSetSize);
  uint8_t setSize[256];
  for (int x = 255; x >= 0; --x) {
    uint32_t n;
    if (!bits.read(6, n)) {
      io.FlushOutput();
      return kLegacyTruncated;
    }
    setSize[x] = uint8_t(n);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t c;
      if (!bits.read(8, c)) {
        io.FlushOutput();
        return kLegacyTruncated;
      }
      sets[x * kFollowerSetSize + i] = uint8_t(c);
    }
  }

  TLegacyWindow window(io, kWindowSize, io.UncompressedSize);
  int result = kLegacyOk;
  uint8_t last = 0;
  int state = 0;
  uint32_t v = 0, length = 0;
  while (window.remaining() > 0) {
    uint32_t c = 0;
    unsigned n = setSize[last];
    if (n == 0) {
      if (!bits.read(8, c)) result = kLegacyTruncated;
    } else {
      uint32_t literal;
      if (!bits.read(1, literal)) {
        result = kLegacyTruncated;
      } else if (literal) {
        if (!bits.read(8, c)) result = kLegacyTruncated;
      } else {
        uint32_t index;
        if (!bits.read(followerWidth(n), index))
          result = kLegacyTruncated;
        else
          c = sets[last * kFollowerSetSize + index];
      }
    }
    if (result != kLegacyOk) break;

    switch (state) {
      case 0:
        if (c == kDle)
          state = 1;
        else
          window.put(uint8_t(c));
        break;
      case 1:
        if (c == 0) {
          window.put(kDle);
          state = 0;
        } else {
          v = c;
          length = v & lengthMask;
          state = length == lengthMask ? 2 : 3;
        }
        break;
      case 2:
        length += c;
        state = 3;
        break;
      case 3: {
        uint32_t dist = ((v >> distShift) & distMask) * 256 + c + 1;
        if (!window.copy(dist, length + 3)) result = kLegacyDamaged;
        state = 0;
        break;
      }
    }
    last = uint8_t(c);
  }
  if (result == kLegacyOk) window.flush();
  io.FlushOutput();
  return result;
}

}  // namespace quelt
