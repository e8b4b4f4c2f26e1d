// The traditional ZIP stream cipher: three 32-bit keys driven by the plain bytes, and the
// 12-byte encryption header in front of an encrypted entry's data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/Crc32.h"
#include "engine/ZipFormat.h"

namespace quelt {

using TEncryptionHeader = std::array<uint8_t, kEncryptionHeaderSize>;

class TZipCrypt {
 public:
  // Fresh keys from the password's bytes (no terminator); an empty password is allowed.
  void InitKeys(std::string_view password);

  // Advances the keys by one plain byte.
  void UpdateKeys(uint8_t b) {
    Key0 = CRCByte(Key0, b);
    Key1 = (Key1 + (Key0 & 0xFF)) * 134775813u + 1;
    Key2 = CRCByte(Key2, uint8_t(Key1 >> 24));
  }

  // The next keystream byte; does not advance the keys.
  uint8_t DecryptByte() const {
    uint32_t t = (Key2 & 0xFFFF) | 2;  // unsigned: the product overflows an int
    return uint8_t((t * (t ^ 1)) >> 8);
  }

  // Decrypts in place; the keys run on through the plain bytes.
  void DecryptBuffer(uint8_t* buf, size_t len);

  uint8_t EncryptByte(uint8_t p) {
    uint8_t t = DecryptByte();
    UpdateKeys(p);
    return p ^ t;
  }
  // Encrypts len bytes from in into out (which may be in itself).
  void EncryptBuffer(const uint8_t* in, uint8_t* out, size_t len);

  // Reading side: decrypts a copy of an entry's encryption header with the current keys (as
  // InitKeys left them) and returns its last plain byte, the check byte. The keys are then
  // ready for the entry's data. The caller's bytes are not changed.
  [[nodiscard]] uint8_t DecryptHeader(const uint8_t* header);
  // The same after InitKeys(password).
  [[nodiscard]] uint8_t DecryptHeader(std::string_view password, const uint8_t* header);

  // Writing side: InitKeys(password), then the encrypted header: ten random bytes from the
  // operating system, then bits 16-23 and 24-31 of the entry's CRC-32. The keys are then
  // ready to encrypt the entry's data.
  [[nodiscard]] TEncryptionHeader MakeEncryptionHeader(std::string_view password, uint32_t crc32);
  // The same with the ten random bytes given (for reproducible output).
  [[nodiscard]] TEncryptionHeader MakeEncryptionHeader(std::string_view password, uint32_t crc32,
                                                       const std::array<uint8_t, 10>& random);

  uint32_t Key0 = 0x12345678;
  uint32_t Key1 = 0x23456789;
  uint32_t Key2 = 0x34567890;
};

// The check byte a right password gives: the high byte of the DOS time when the entry's
// sizes and CRC follow its data (flag bit 3), else the high byte of its CRC-32.
constexpr uint8_t ExpectedCheckByte(uint16_t bitFlag, uint32_t crc32, uint32_t dosDateTime) {
  return (bitFlag & kFlagDataDescriptor) ? uint8_t(dosDateTime >> 8) : uint8_t(crc32 >> 24);
}

// Fills buf with bytes from the operating system's random generator.
void SystemRandomBytes(uint8_t* buf, size_t len);

}  // namespace quelt
