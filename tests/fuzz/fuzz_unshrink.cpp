#include "FuzzLegacy.h"
#include "engine/Unshrink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::fuzz::TLegacyInput in;
  if (!quelt::fuzz::splitInput(data, size, in)) return 0;
  quelt::fuzz::runLegacy(in, uint32_t(in.size), 0,
                         [](quelt::TDecodeIO& io) { (void)quelt::Unshrink(io); });
  return 0;
}
