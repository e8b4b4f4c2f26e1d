// The CRC-32 of ZIP entries (reflected polynomial 0xEDB88320). The register starts at
// kCrcInit and is complemented after the last byte; both are the caller's steps, so a CRC
// can run over data that arrives in pieces.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quelt {

inline constexpr uint32_t kCrcInit = 0xFFFFFFFF;

namespace crcdetail {
constexpr std::array<uint32_t, 256> makeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320 ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
}  // namespace crcdetail

// Built by the compiler; entry n is n run through eight steps of the polynomial.
inline constexpr std::array<uint32_t, 256> kCrcTable = crcdetail::makeTable();

// One byte through the register.
constexpr uint32_t CRCByte(uint32_t crc, uint8_t b) {
  return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// The register after the n bytes at data, as CRCByte over each in order (but several bytes
// a step). Pure; safe from any thread.
[[nodiscard]] uint32_t UpdateCRC(uint32_t crc, const void* data, size_t n);

namespace crcdetail {
// The table-driven steps alone (UpdateCRC uses carry-less multiplication where the
// processor has it); for tests and benchmarks.
[[nodiscard]] uint32_t updateSliced(uint32_t crc, const uint8_t* p, size_t n);
// Without the 256-bit folding that UpdateCRC uses where the processor has it.
[[nodiscard]] uint32_t updateNarrow(uint32_t crc, const uint8_t* p, size_t n);
}  // namespace crcdetail

// The finished CRC-32 of one whole buffer.
[[nodiscard]] inline uint32_t Crc32Of(const void* data, size_t n) {
  return ~UpdateCRC(kCrcInit, data, n);
}

}  // namespace quelt
