// The decoding loop shared by the xz and LZMA decoders, which both run on liblzma.
#pragma once

#include <lzma.h>

#include "engine/DecodeIO.h"

namespace quelt {

// A liblzma stream, ended on every path out.
class TLzmaStream {
 public:
  TLzmaStream() = default;
  TLzmaStream(const TLzmaStream&) = delete;
  TLzmaStream& operator=(const TLzmaStream&) = delete;
  ~TLzmaStream() { lzma_end(&s_); }
  lzma_stream* get() { return &s_; }

 private:
  lzma_stream s_ = LZMA_STREAM_INIT;
};

// The decoder result of a liblzma failure.
int LzmaCodecResult(lzma_ret r);

// Feeds io's compressed bytes through the initialised decoder until it reports the end,
// handing its output on capped at io.UncompressedSize. Returns as the decoders do.
[[nodiscard]] int RunLzmaDecoder(TLzmaStream& stream, TDecodeIO& io);

}  // namespace quelt
