// Reference digests for checking decoded bytes against manifests made by other tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::test {

// CRC-32 (the archive format's polynomial), computed bit by bit.
uint32_t crc32Bitwise(const std::vector<uint8_t>& data);
// SHA-256 as 64 lowercase hex digits.
std::string sha256Hex(const std::vector<uint8_t>& data);

}  // namespace quelt::test
