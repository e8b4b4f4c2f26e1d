// "Decoder" of stored entries (method 0): the bytes as they are.
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Copies the entry's bytes to io's output. Returns kCodecOk after FlushOutput when they are
// exactly io.UncompressedSize bytes; kCodecDamaged, having written no more than that, when
// there are more; kCodecTruncated when fewer.
[[nodiscard]] int CopyStored(TDecodeIO& io);

}  // namespace quelt
