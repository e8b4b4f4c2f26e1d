#include "FuzzCodec.h"
#include "engine/codecs/Bzip2Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::fuzz::runCodec(data, size, 0, true,
                        [](quelt::TDecodeIO& io) { return quelt::DecodeBzip2(io); });
  return 0;
}
