// Decoder of xz entries (method 95), on Debian's liblzma.
#pragma once

#include <cstdint>

#include "engine/DecodeIO.h"
#include "engine/codecs/CodecPump.h"

namespace quelt {

// Decompresses the entry's xz streams (several in a row and stream padding allowed) into
// io's output, verifying their checks. Streams whose blocks would need more than
// `memoryLimit` bytes are refused with kCodecNoMemory. Otherwise as DecodeBzip2.
[[nodiscard]] int DecodeXz(TDecodeIO& io, uint64_t memoryLimit = kDecoderMemoryLimit);

}  // namespace quelt
