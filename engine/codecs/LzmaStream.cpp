#include "engine/codecs/LzmaStream.h"

#include "engine/codecs/CodecPump.h"

namespace quelt {

int LzmaCodecResult(lzma_ret r) {
  switch (r) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
      return kCodecNoMemory;
    case LZMA_BUF_ERROR:  // no progress possible: the input ended
      return kCodecTruncated;
    default:
      return kCodecDamaged;
  }
}

int RunLzmaDecoder(TLzmaStream& stream, TDecodeIO& io) {
  lzma_stream* s = stream.get();
  TCodecPump pump(io);
  for (;;) {
    const bool more = pump.input();
    s->next_in = io.inPos;
    s->avail_in = more ? pump.inputSize() : 0;
    s->next_out = pump.out();
    s->avail_out = TCodecPump::kOutSize;
    // Once the entry's bytes are used up the decoder is told so, and must end or fail.
    const lzma_ret r = lzma_code(s, more ? LZMA_RUN : LZMA_FINISH);
    io.inPos = s->next_in;
    if (!pump.emit(TCodecPump::kOutSize - s->avail_out)) return kCodecDamaged;
    if (r == LZMA_STREAM_END) return pump.finish();
    if (r != LZMA_OK) return LzmaCodecResult(r);
  }
}

}  // namespace quelt
