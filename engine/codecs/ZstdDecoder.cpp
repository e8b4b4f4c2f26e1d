#include "engine/codecs/ZstdDecoder.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <bit>
#include <memory>

namespace quelt {

namespace {

struct TFreeDCtx {
  void operator()(ZSTD_DCtx* c) const { ZSTD_freeDCtx(c); }
};

int codecResult(size_t zstdError) {
  switch (ZSTD_getErrorCode(zstdError)) {
    case ZSTD_error_memory_allocation:
    case ZSTD_error_frameParameter_windowTooLarge:
      return kCodecNoMemory;
    default:
      return kCodecDamaged;
  }
}

}  // namespace

int DecodeZstd(TDecodeIO& io, uint64_t memoryLimit) {
  std::unique_ptr<ZSTD_DCtx, TFreeDCtx> ctx(ZSTD_createDCtx());
  if (!ctx) return kCodecNoMemory;
  // The window a frame may ask for, as a power of two within what the library accepts.
  const ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
  int windowLog = memoryLimit ? int(std::bit_width(memoryLimit)) - 1 : 0;
  if (windowLog < bounds.lowerBound) windowLog = bounds.lowerBound;
  if (windowLog > bounds.upperBound) windowLog = bounds.upperBound;
  if (ZSTD_isError(ZSTD_DCtx_setParameter(ctx.get(), ZSTD_d_windowLogMax, windowLog)))
    return kCodecNoMemory;

  TCodecPump pump(io);
  for (;;) {
    const bool more = pump.input();
    ZSTD_inBuffer in{io.inPos, more ? pump.inputSize() : 0, 0};
    ZSTD_outBuffer out{pump.out(), TCodecPump::kOutSize, 0};
    const size_t r = ZSTD_decompressStream(ctx.get(), &out, &in);
    io.inPos += in.pos;
    if (ZSTD_isError(r)) return codecResult(r);
    if (!pump.emit(out.pos)) return kCodecDamaged;
    // 0: a frame has ended and all of it is out. Another may follow.
    if (r == 0) {
      if (!pump.input()) return pump.finish();
      continue;
    }
    if (!more && out.pos == 0) return kCodecTruncated;
  }
}

}  // namespace quelt
