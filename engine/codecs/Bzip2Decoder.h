// Decoder of bzip2 entries (method 12), on Debian's libbz2.
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Decompresses the entry's bzip2 stream - or several in a row, as parallel compressors
// write - into io's output. Returns kCodecOk after FlushOutput when the streams end with
// exactly io.UncompressedSize bytes, else at once with what went wrong (CodecPump.h);
// exceptions of io pass through. Memory is bounded by the format (under 4 MiB).
[[nodiscard]] int DecodeBzip2(TDecodeIO& io);

}  // namespace quelt
