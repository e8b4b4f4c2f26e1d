// Decoder of LZMA entries (method 14) as ZIP stores them: a 2-byte version of the writing
// library, a 2-byte size of the properties, 5 bytes of properties, then a raw LZMA stream -
// with an end marker when flag bit 1 says so, else ending at the declared size.
#pragma once

#include <cstdint>

#include "engine/DecodeIO.h"
#include "engine/codecs/CodecPump.h"

namespace quelt {

// General-purpose flag bit 1 on LZMA entries: the stream ends with an end marker.
inline constexpr uint16_t kFlagLzmaEndMarker = 0x0002;

// Decompresses the entry into io's output. The stream must give exactly io.UncompressedSize
// bytes: up to its end marker when flag bit 1 is set, else up to that size, where an
// unflagged end marker may follow. The dictionary is never made larger than the entry, and a stream
// that would still need more than `memoryLimit` bytes is refused with kCodecNoMemory. Otherwise as
// DecodeBzip2.
[[nodiscard]] int DecodeLzma(TDecodeIO& io, uint64_t memoryLimit = kDecoderMemoryLimit);

}  // namespace quelt
