#include "FuzzLegacy.h"
#include "engine/Unreduce.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::fuzz::TLegacyInput in;
  if (!quelt::fuzz::splitInput(data, size, in)) return 0;
  int factor = 1 + in.option % 4;
  quelt::fuzz::runLegacy(in, uint32_t(in.size), 0,
                         [factor](quelt::TDecodeIO& io) { (void)quelt::Unreduce(io, factor); });
  return 0;
}
