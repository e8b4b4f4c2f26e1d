#include "FuzzCodec.h"
#include "engine/codecs/XzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::fuzz::runCodec(data, size, 0, true, [](quelt::TDecodeIO& io) {
    return quelt::DecodeXz(io, quelt::fuzz::kFuzzMemoryLimit);
  });
  return 0;
}
