// The sliding window of the reduced and imploded decoders: the start of the work area, handed
// to the output whole each time it fills.
#pragma once

#include <cstdint>

#include "engine/DecodeIO.h"

namespace quelt {

class TLegacyWindow {
 public:
  // size is a power of two no larger than the work area; remaining is the declared
  // uncompressed size, which nothing written here ever exceeds.
  TLegacyWindow(TDecodeIO& io, uint32_t size, uint32_t remaining);

  uint32_t remaining() const { return remaining_; }

  // Appends one byte; only called while remaining() > 0.
  void put(uint8_t c) {
    win_[pos_] = c;
    --remaining_;
    if (++pos_ == size_) wrap();
  }

  // Repeats n bytes starting dist (1..size-1) bytes back. Positions before the entry's first
  // byte read as zero. A match reaching past the declared size is cut there; false then.
  [[nodiscard]] bool copy(uint32_t dist, uint32_t n);

  // Hands the partly filled window to the output at the end of the entry.
  void flush();

 private:
  void wrap();

  TDecodeIO& io_;
  uint8_t* win_;
  uint32_t size_;
  uint32_t pos_ = 0;
  uint32_t remaining_;
  bool firstPass_ = true;
};

}  // namespace quelt
