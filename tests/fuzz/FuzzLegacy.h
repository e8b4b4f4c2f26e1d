// Shared set-up of the legacy decoder fuzz targets: the first input bytes choose the entry's
// facts, the rest is its compressed data.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "engine/DecodeIO.h"

namespace quelt::fuzz {

struct TLegacyInput {
  uint8_t option = 0;         // method-specific: reduce factor, implode flags
  uint32_t declaredSize = 0;  // kept below 1 MiB so each run stays quick
  size_t blockSize = 1;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

inline bool splitInput(const uint8_t* data, size_t size, TLegacyInput& in) {
  if (size < 5) return false;
  in.option = data[0];
  in.declaredSize =
      (uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16) & 0xFFFFF;
  in.blockSize = 1 + data[4] % 64 * 256;
  in.data = data + 5;
  in.size = size - 5;
  return true;
}

// Decoding must end without writing more than the entry declares.
template <typename Decode>
void runLegacy(const TLegacyInput& in, uint32_t compressedSize, uint16_t flags, Decode decode) {
  TMemoryDecodeIO io(in.data, in.size, SIZE_MAX, in.blockSize);
  io.UncompressedSize = in.declaredSize;
  io.CompressedSize = compressedSize;
  io.BitFlag = flags;
  decode(io);
  if (io.out.size() > in.declaredSize) std::abort();
}

}  // namespace quelt::fuzz
