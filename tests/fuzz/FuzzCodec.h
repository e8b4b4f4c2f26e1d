// Shared set-up of the fuzz targets of the decoders that run on a library: the input is split
// as for the legacy decoders (option byte, declared size, block size, then the stream).
#pragma once

#include <cstdint>
#include <cstdlib>

#include "FuzzLegacy.h"
#include "engine/codecs/CodecPump.h"

namespace quelt::fuzz {

// Small enough that libFuzzer's allocation limit is never reached by what a header asks for.
inline constexpr uint64_t kFuzzMemoryLimit = 32u << 20;

// Decodes the stream twice, whole and in the chosen blocks. Each run must end with a known
// result, never pass the declared size, flush only on success and then give exactly the
// declared size. When `sameInAnyBlocks`, both runs must succeed alike with the same bytes
// (a damaged stream may be told damaged or cut short, as the library sees more or less of
// it at once).
template <typename Decode>
void runCodec(const uint8_t* data, size_t size, uint16_t flags, bool sameInAnyBlocks,
              Decode decode) {
  TLegacyInput in;
  if (!splitInput(data, size, in)) return;
  auto once = [&](TMemoryDecodeIO& io) {
    io.UncompressedSize = in.declaredSize;
    io.CompressedSize = uint32_t(in.size);
    io.BitFlag = flags;
    const int r = decode(io);
    if (r < kCodecOk || r > kCodecNoMemory) std::abort();
    if (io.out.size() > in.declaredSize) std::abort();
    if (r == kCodecOk && (io.out.size() != in.declaredSize || io.flushes != 1)) std::abort();
    if (r != kCodecOk && io.flushes != 0) std::abort();
    return r;
  };
  TMemoryDecodeIO whole(in.data, in.size, SIZE_MAX, in.size);
  const int r1 = once(whole);
  TMemoryDecodeIO pieces(in.data, in.size, SIZE_MAX, in.blockSize);
  const int r2 = once(pieces);
  if (sameInAnyBlocks &&
      ((r1 == kCodecOk) != (r2 == kCodecOk) || (r1 == kCodecOk && whole.out != pieces.out)))
    std::abort();
}

}  // namespace quelt::fuzz
