// Decoder of imploded entries (method 6): a 4 or 8 KiB sliding dictionary whose literals,
// lengths and distances are coded with prefix trees sent ahead of the data.
#pragma once

#include "engine/DecodeIO.h"
#include "engine/ZipFormat.h"

namespace quelt {

// Decompresses io.UncompressedSize bytes into io's output, as io.BitFlag and
// io.CompressedSize describe. Returns kLegacyOk, or why it stopped early (LegacyBits.h).
int Explode(TDecodeIO& io);

}  // namespace quelt
