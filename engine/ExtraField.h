// The extra field of local and central headers: a run of blocks, each a 2-byte id, a 2-byte
// size and that many bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace quelt {

// The body of the first block with the given id. nullopt when there is none, or when a
// block before it claims more bytes than the field holds (nothing after that can be trusted).
std::optional<std::span<const uint8_t>> FindExtraBlock(std::span<const uint8_t> extra, uint16_t id);

}  // namespace quelt
