// SHA-256, for checking decoded bytes against manifests made by other tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::test {

// SHA-256 as 64 lowercase hex digits.
std::string sha256Hex(const std::vector<uint8_t>& data);

}  // namespace quelt::test
