// What the decoders that run on a library share: their result codes, and the two ends of
// their loop - the entry's compressed bytes in, decoded bytes out through the work area,
// never more than the entry declares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/DecodeIO.h"

namespace quelt {

// Results of a decoder in the table of methods; 0 is success, as with the other decoders.
inline constexpr int kCodecOk = 0;
inline constexpr int kCodecDamaged = 1;    // breaks the format, or decodes to another size
inline constexpr int kCodecTruncated = 2;  // the compressed bytes end before the stream does
inline constexpr int kCodecNoMemory = 3;   // needs more memory than allowed, or none was had

// The most a decoder may hold for one entry (dictionary, window). The common presets of the
// tools need 64 to 128 MiB; a header asking for more than this is refused, not obeyed.
inline constexpr uint64_t kDecoderMemoryLimit = uint64_t(1) << 30;

class TCodecPump {
 public:
  explicit TCodecPump(TDecodeIO& io) : io_(io), declared_(io.UncompressedSize) {}

  // True when compressed bytes are at hand in io.inPos..io.inEnd, refilling as needed; false
  // once the entry's bytes are used up.
  bool input() {
    while (io_.inPos == io_.inEnd) {
      if (ended_ || !io_.Refill()) {
        ended_ = true;
        return false;
      }
    }
    return true;
  }
  size_t inputSize() const { return size_t(io_.inEnd - io_.inPos); }

  // The decoded bytes are made in the work area and handed on from there.
  uint8_t* out() { return io_.WorkArea(); }
  static constexpr size_t kOutSize = TDecodeIO::kWorkAreaSize;

  // Hands on the first n bytes of the work area; false, handing on nothing, when they would
  // pass the declared size: such a stream is damaged.
  [[nodiscard]] bool emit(size_t n) {
    if (n > declared_ - written_) return false;
    if (n > 0) io_.Output(out(), n);
    written_ += n;
    return true;
  }

  // The end of a stream that ended well: success when it gave exactly the declared size.
  [[nodiscard]] int finish() {
    if (written_ != declared_) return kCodecDamaged;
    io_.FlushOutput();
    return kCodecOk;
  }

  uint64_t declared() const { return declared_; }

 private:
  TDecodeIO& io_;
  uint64_t declared_;
  uint64_t written_ = 0;
  bool ended_ = false;
};

}  // namespace quelt
