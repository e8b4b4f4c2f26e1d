// The Deflate decoder (raw deflate data, as in ZIP method 8).
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Results of Inflate.
inline constexpr int kInflateOk = 0;
inline constexpr int kInflateBadData = 1;   // damaged data, or the data ends too early
inline constexpr int kInflateBadCodes = 2;  // over-subscribed code lengths, or block type 3
inline constexpr int kInflateNoMemory = 3;

// Decodes one entry's deflate stream from io's compressed bytes (inPos..inEnd, then
// Refill()) into the window at the start of io.WorkArea(), handing every full window to
// FlushWindow. On success it ends with FlushWindow(the rest) and FlushOutput(); on any other
// result it returns at once without those, and what was flushed stays flushed. Exceptions
// of Refill, Output and FlushOutput pass through unchanged. Memory use is bounded whatever
// the data says. On success io.inPos is left just past the stream's last byte when that
// byte came with the current block, else at its end; the rest of the block is not read.
[[nodiscard]] int Inflate(TDecodeIO& io);

}  // namespace quelt
