#include "engine/ExtraField.h"

#include "engine/ZipFormat.h"

namespace quelt {

std::optional<std::span<const uint8_t>> FindExtraBlock(std::span<const uint8_t> extra,
                                                       uint16_t id) {
  size_t at = 0;
  // Fewer than four bytes left cannot hold a block: some writers pad the field.
  while (extra.size() - at >= 4) {
    const uint16_t blockId = load16(&extra[at]);
    const size_t size = load16(&extra[at + 2]);
    at += 4;
    if (size > extra.size() - at) return std::nullopt;
    if (blockId == id) return extra.subspan(at, size);
    at += size;
  }
  return std::nullopt;
}

}  // namespace quelt
