#include "engine/codecs/XzDecoder.h"

#include "engine/codecs/LzmaStream.h"

namespace quelt {

int DecodeXz(TDecodeIO& io, uint64_t memoryLimit) {
  TLzmaStream stream;
  const lzma_ret r =
      lzma_stream_decoder(stream.get(), memoryLimit ? memoryLimit : 1, LZMA_CONCATENATED);
  if (r != LZMA_OK) return LzmaCodecResult(r);
  return RunLzmaDecoder(stream, io);
}

}  // namespace quelt
