// The TGA reader: any bytes either decode to a picture of the size the header states or are
// refused with ETgaError; nothing else escapes and nothing is read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/viewers/TgaDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    quelt::TTgaPicture picture = quelt::DecodeTga(data, size);
    if (picture.width == 0 || picture.height == 0 ||
        picture.rgba.size() != size_t(picture.width) * picture.height * 4)
      std::abort();
  } catch (const quelt::ETgaError&) {
  }
  return 0;
}
