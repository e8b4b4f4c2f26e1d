#include "engine/codecs/StoredCopy.h"

#include "engine/codecs/CodecPump.h"

namespace quelt {

int CopyStored(TDecodeIO& io) {
  uint64_t left = io.UncompressedSize;
  while (io.inPos != io.inEnd || io.Refill()) {
    const size_t n = size_t(io.inEnd - io.inPos);
    if (n > left) return kCodecDamaged;
    io.Output(io.inPos, n);
    io.inPos = io.inEnd;
    left -= n;
  }
  if (left > 0) return kCodecTruncated;
  io.FlushOutput();
  return kCodecOk;
}

}  // namespace quelt
