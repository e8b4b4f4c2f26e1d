// Bit reading and result codes shared by the shrunk, reduced and imploded decoders.
#pragma once

#include <cstdint>

#include "engine/DecodeIO.h"

namespace quelt {

// What a legacy decompressor reports. The driver relies on its CRC check instead; the codes
// say why decoding stopped, for tests and diagnostics.
inline constexpr int kLegacyOk = 0;
inline constexpr int kLegacyDamaged = 1;    // a code, table or match the format does not allow
inline constexpr int kLegacyTruncated = 2;  // the compressed bytes ended before the output did
inline constexpr int kLegacyNoMemory = 3;   // a decoding table could not be allocated

// Least-significant-bit-first reader over the entry's compressed bytes. When the bytes run
// out it says so instead of inventing bits, so a damaged entry stops instead of decoding
// filler.
class TLegacyBits {
 public:
  explicit TLegacyBits(TDecodeIO& io) : io_(io) {}

  // Loads bytes until at least n (at most 24) bits are held or the data ends; returns the
  // number of bits held.
  unsigned fill(unsigned n) {
    while (held_ < n && !ended_) {
      uint8_t c;
      if (io_.NextByte(c) == 0) {
        ended_ = true;
        break;
      }
      buf_ |= uint32_t(c) << held_;
      held_ += 8;
    }
    return held_;
  }

  // The low n bits of the buffer; bits beyond the held ones read as zero.
  uint32_t peek(unsigned n) const { return buf_ & lowMask(n); }

  // Drops n bits; false when fewer are held.
  [[nodiscard]] bool drop(unsigned n) {
    if (n > held_) return false;
    buf_ >>= n;
    held_ -= n;
    return true;
  }

  // Takes n (0..16) bits into x; false when the data ends first.
  [[nodiscard]] bool read(unsigned n, uint32_t& x) {
    if (fill(n) < n) return false;
    x = peek(n);
    buf_ >>= n;
    held_ -= n;
    return true;
  }

  static constexpr uint32_t lowMask(unsigned n) { return n >= 32 ? ~0u : (1u << n) - 1; }

 private:
  TDecodeIO& io_;
  uint32_t buf_ = 0;
  unsigned held_ = 0;
  bool ended_ = false;
};

}  // namespace quelt
