// Decoder of reduced entries (methods 2 to 5): follower-set coded bytes with DLE-escaped
// matches in a 16 KiB window.
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Decompresses io.UncompressedSize bytes with the given compression factor (1..4, the method
// number less one) into io's output. Returns kLegacyOk, or why it stopped early
// (LegacyBits.h).
int Unreduce(TDecodeIO& io, int factor);

}  // namespace quelt
