// Decoder of imploded entries (method 6): a 4 or 8 KiB sliding dictionary whose literals,
// lengths and distances are coded with prefix trees sent ahead of the data.
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Flag bits of imploded entries.
inline constexpr uint16_t kFlagImplode8K = 0x0002;        // 8 KiB dictionary, else 4 KiB
inline constexpr uint16_t kFlagImplodeLiterals = 0x0004;  // literals are coded with a tree

// Decompresses io.UncompressedSize bytes into io's output, as io.BitFlag and
// io.CompressedSize describe. Returns kLegacyOk, or why it stopped early (LegacyBits.h).
int Explode(TDecodeIO& io);

}  // namespace quelt
