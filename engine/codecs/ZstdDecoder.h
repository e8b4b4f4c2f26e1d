// Decoder of Zstandard entries (method 93, and 20 from before that number was given), on
// Debian's libzstd.
#pragma once

#include <cstdint>

#include "engine/DecodeIO.h"
#include "engine/codecs/CodecPump.h"

namespace quelt {

// Decompresses the entry's Zstandard frames into io's output. Frames whose window would need
// more than `memoryLimit` bytes are refused with kCodecNoMemory. Otherwise as DecodeBzip2.
[[nodiscard]] int DecodeZstd(TDecodeIO& io, uint64_t memoryLimit = kDecoderMemoryLimit);

}  // namespace quelt
