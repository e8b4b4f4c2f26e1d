// Decoder of shrunk entries (method 1): LZW with codes of 9 to 13 bits and partial clearing.
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Decompresses the entry into io's output until its compressed bytes end, never writing more
// than io.UncompressedSize bytes. Returns kLegacyOk, or why it stopped early (LegacyBits.h).
int Unshrink(TDecodeIO& io);

}  // namespace quelt
