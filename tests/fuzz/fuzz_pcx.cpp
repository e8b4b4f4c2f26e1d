// The PCX reader: any bytes either decode to a picture of the size the header states or
// are refused with EPcxError; nothing else escapes and nothing is read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/viewers/PcxDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    quelt::TPcxPicture picture = quelt::DecodePcx(data, size);
    if (picture.width == 0 || picture.height == 0 ||
        picture.rgb.size() != size_t(picture.width) * picture.height * 3)
      std::abort();
  } catch (const quelt::EPcxError&) {
  }
  return 0;
}
