// The Deflate decoder (raw deflate data, as in ZIP method 8) and its 64 KiB-window variant
// Deflate64 (method 9).
#pragma once

#include "engine/DecodeIO.h"

namespace quelt {

// Results of Inflate.
inline constexpr int kInflateOk = 0;
inline constexpr int kInflateBadData = 1;   // damaged data, or the data ends too early
inline constexpr int kInflateBadCodes = 2;  // over-subscribed code lengths, or block type 3
inline constexpr int kInflateNoMemory = 3;

// Decodes one entry's deflate stream from io's compressed bytes (inPos..inEnd, then
// Refill()) into a history buffer of its own (a few hundred KiB at most, whatever the data
// says), handing decoded bytes to io.Output as the buffer fills, and the bytes of stored
// blocks straight from the input as they come. On success it ends with the last Output and
// FlushOutput(); on any other result it returns at once without those, and what was output
// stays output. Exceptions of Refill, Output and FlushOutput pass
// through unchanged. On success io.inPos is left just past the stream's last byte when that
// byte came with the current block, else at its end; the rest of the block is not read.
[[nodiscard]] int Inflate(TDecodeIO& io);

// The same for Deflate64: a 64 KiB window, length symbol 285 meaning 3 plus 16 extra bits,
// and distance symbols 30 and 31 (32769 and 49153, 14 extra bits each) in use.
[[nodiscard]] int Inflate64(TDecodeIO& io);

// Inflate or Inflate64 with the decoder's portable fast loop, whatever the processor has: for
// tests, since on processors with BMI2 the other two run a loop built for those.
[[nodiscard]] int InflatePortable(TDecodeIO& io, bool deflate64);

}  // namespace quelt
