// Reads TGA pictures of every kind in use: colour-mapped, true-colour and greyscale, plain or
// run-length encoded, 8 to 32 bits, stored from the top or from the bottom, with or without
// the closing footer of the later version of the format. Needs no window layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace quelt {

// A file that is not a TGA picture, or one that cannot be read whole. The text is for the user.
class ETgaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TTgaPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;  // 4 bytes a pixel, rows top to bottom, no padding
  bool hasAlpha = false;      // false: every alpha byte is 255
};

// Pictures with more pixels are refused before anything is allocated.
inline constexpr uint64_t kTgaMaxPixels = uint64_t(1) << 26;

TTgaPicture DecodeTga(const uint8_t* data, size_t size);

}  // namespace quelt
