#include "FuzzLegacy.h"
#include "engine/Explode.h"

// Option bits 1 and 2 are the entry's implode flags; bit 0 claims a large entry so that the
// wide distance lookups are used too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::fuzz::TLegacyInput in;
  if (!quelt::fuzz::splitInput(data, size, in)) return 0;
  uint16_t flags = in.option & (quelt::kFlagImplode8K | quelt::kFlagImplodeLiterals);
  uint32_t compressedSize = (in.option & 1) ? 200001 : uint32_t(in.size);
  quelt::fuzz::runLegacy(in, compressedSize, flags,
                         [](quelt::TDecodeIO& io) { (void)quelt::Explode(io); });
  return 0;
}
