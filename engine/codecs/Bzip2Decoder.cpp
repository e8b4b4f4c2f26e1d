#include "engine/codecs/Bzip2Decoder.h"

#include <bzlib.h>

#include <algorithm>

#include "engine/codecs/CodecPump.h"

namespace quelt {

namespace {

// One bzip2 stream's decoder state, ended on every path out.
class TBzStream {
 public:
  ~TBzStream() { end(); }
  [[nodiscard]] int start() {
    end();
    s_ = bz_stream{};
    const int r = BZ2_bzDecompressInit(&s_, 0, 0);
    live_ = r == BZ_OK;
    return r;
  }
  bz_stream* operator->() { return &s_; }
  bz_stream* get() { return &s_; }

 private:
  void end() {
    if (live_) BZ2_bzDecompressEnd(&s_);
    live_ = false;
  }
  bz_stream s_{};
  bool live_ = false;
};

int codecResult(int bzResult) {
  return bzResult == BZ_MEM_ERROR ? kCodecNoMemory : kCodecDamaged;
}

}  // namespace

int DecodeBzip2(TDecodeIO& io) {
  TCodecPump pump(io);
  TBzStream s;
  if (int r = s.start(); r != BZ_OK) return codecResult(r);
  for (;;) {
    const bool more = pump.input();
    // The library takes non-const pointers but never writes through next_in.
    s->next_in = const_cast<char*>(reinterpret_cast<const char*>(io.inPos));
    s->avail_in = more ? unsigned(std::min<size_t>(pump.inputSize(), 1u << 30)) : 0;
    s->next_out = reinterpret_cast<char*>(pump.out());
    s->avail_out = unsigned(TCodecPump::kOutSize);
    const int r = BZ2_bzDecompress(s.get());
    io.inPos = reinterpret_cast<const uint8_t*>(s->next_in);
    const size_t produced = TCodecPump::kOutSize - s->avail_out;
    if (!pump.emit(produced)) return kCodecDamaged;
    if (r == BZ_STREAM_END) {
      if (!pump.input()) return pump.finish();
      if (int again = s.start(); again != BZ_OK) return codecResult(again);
      continue;
    }
    if (r != BZ_OK) return codecResult(r);
    // Without input and without output the stream can only be cut short.
    if (!more && produced == 0) return kCodecTruncated;
  }
}

}  // namespace quelt
