#include "engine/codecs/ZstdDecoder.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <bit>
#include <memory>

#include "engine/ZipFormat.h"

namespace quelt {

namespace {

constexpr size_t kMagicSize = 4;
constexpr size_t kMaxHeaderSize = 18;

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

// Bytes of a frame's header, from its magic and (for a frame of data) its descriptor byte;
// 0 for a magic that starts neither a frame of the format as published nor a skippable
// frame. The library also reads the drafts that came before, but only when their magic
// arrives in one piece, so whether such an entry decoded would hang on where a block ended;
// no ZIP writer made them.
size_t headerSize(uint32_t magic, uint8_t descriptor) {
  if ((magic & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START) return 8;
  if (magic != ZSTD_MAGICNUMBER) return 0;
  const bool singleSegment = descriptor & 0x20;
  constexpr size_t kDictIdSize[] = {0, 1, 2, 4};
  constexpr size_t kContentSize[] = {0, 2, 4, 8};
  const size_t flag = descriptor >> 6;
  return kMagicSize + 1 + (singleSegment ? 0 : 1) + kDictIdSize[descriptor & 3] +
         (flag == 0 && singleSegment ? 1 : kContentSize[flag]);
}

class TZstdRun {
 public:
  TZstdRun(TDecodeIO& io, ZSTD_DCtx* ctx) : io_(io), ctx_(ctx), pump_(io) {}

  int run() {
    for (;;) {
      if (int r = startFrame(); r != kCodecOk) return r;
      // The rest of the frame, block by block.
      for (;;) {
        const bool more = pump_.input();
        ZSTD_inBuffer in{io_.inPos, more ? pump_.inputSize() : 0, 0};
        size_t produced = 0;
        const size_t r = step(in, produced);
        io_.inPos += in.pos;
        if (ZSTD_isError(r)) return codecResult(r);
        if (produced == SIZE_MAX) return kCodecDamaged;
        // 0: the frame has ended and all of it is out. Another may follow.
        if (r == 0) break;
        if (!more && produced == 0) return kCodecTruncated;
      }
      if (!pump_.input()) return pump_.finish();
    }
  }

 private:
  // Gathers the next frame's header across blocks and hands it over in one piece. (Given the
  // magic alone and the rest later, libzstd 1.5.4 can take the rest for a frame of its own.)
  int startFrame() {
    uint8_t header[kMaxHeaderSize];
    for (size_t i = 0; i < kMagicSize + 1; ++i)
      if (io_.NextByte(header[i]) == 0) return kCodecTruncated;
    const size_t size = headerSize(load32(header), header[kMagicSize]);
    if (size == 0) return kCodecDamaged;
    for (size_t i = kMagicSize + 1; i < size; ++i)
      if (io_.NextByte(header[i]) == 0) return kCodecTruncated;
    ZSTD_inBuffer in{header, size, 0};
    while (in.pos < in.size) {
      size_t produced = 0;
      const size_t r = step(in, produced);
      if (ZSTD_isError(r)) return codecResult(r);
      if (produced == SIZE_MAX) return kCodecDamaged;
    }
    return kCodecOk;
  }

  // One call into the library with the work area as output; `produced` is SIZE_MAX when
  // the output would pass the declared size.
  size_t step(ZSTD_inBuffer& in, size_t& produced) {
    ZSTD_outBuffer out{pump_.out(), TCodecPump::kOutSize, 0};
    const size_t r = ZSTD_decompressStream(ctx_, &out, &in);
    produced = ZSTD_isError(r) || pump_.emit(out.pos) ? out.pos : SIZE_MAX;
    return r;
  }

  TDecodeIO& io_;
  ZSTD_DCtx* ctx_;
  TCodecPump pump_;
};

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
  return TZstdRun(io, ctx.get()).run();
}

}  // namespace quelt
