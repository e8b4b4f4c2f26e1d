// The option byte's bit 1 is the entry's end-marker flag. Without it, liblzma may fail a
// stream whose unflagged end marker comes split across blocks, so the two runs need not
// agree then.
#include "FuzzCodec.h"
#include "engine/codecs/LzmaDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint16_t flags = data[0] & quelt::kFlagLzmaEndMarker;
  quelt::fuzz::runCodec(data, size, flags, flags != 0, [](quelt::TDecodeIO& io) {
    return quelt::DecodeLzma(io, quelt::fuzz::kFuzzMemoryLimit);
  });
  return 0;
}
