#include "FuzzCodec.h"
#include "engine/codecs/ZstdDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::fuzz::runCodec(data, size, 0, true, [](quelt::TDecodeIO& io) {
    return quelt::DecodeZstd(io, quelt::fuzz::kFuzzMemoryLimit);
  });
  return 0;
}
