// Reads PCX pictures as real files use them: monochrome, 4- and 16-colour (packed or in bit
// planes), 256-colour with the palette at the end, and 24-bit in three byte planes; run-length
// encoded or plain. It needs no window layer, so the fuzz target links it alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace quelt {

// A file that is not a PCX picture, or one that cannot be read whole. The text is for the user.
class EPcxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TPcxPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom, no padding
};

// Pictures with more pixels are refused before anything is allocated.
inline constexpr uint64_t kPcxMaxPixels = uint64_t(1) << 26;

TPcxPicture DecodePcx(const uint8_t* data, size_t size);

}  // namespace quelt
