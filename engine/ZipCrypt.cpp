#include "engine/ZipCrypt.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <stdexcept>

#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif

namespace quelt {

void TZipCrypt::InitKeys(std::string_view password) {
  Key0 = 0x12345678;
  Key1 = 0x23456789;
  Key2 = 0x34567890;
  for (char c : password) UpdateKeys(uint8_t(c));
}

void TZipCrypt::DecryptBuffer(uint8_t* buf, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    uint8_t p = buf[i] ^ DecryptByte();
    buf[i] = p;
    UpdateKeys(p);
  }
}

void TZipCrypt::EncryptBuffer(const uint8_t* in, uint8_t* out, size_t len) {
  for (size_t i = 0; i < len; ++i) out[i] = EncryptByte(in[i]);
}

uint8_t TZipCrypt::DecryptHeader(const uint8_t* header) {
  TEncryptionHeader plain;
  std::copy(header, header + plain.size(), plain.begin());
  DecryptBuffer(plain.data(), plain.size());
  return plain.back();
}

uint8_t TZipCrypt::DecryptHeader(std::string_view password, const uint8_t* header) {
  InitKeys(password);
  return DecryptHeader(header);
}

TEncryptionHeader TZipCrypt::MakeEncryptionHeader(std::string_view password, uint32_t crc32) {
  std::array<uint8_t, 10> random;
  SystemRandomBytes(random.data(), random.size());
  return MakeEncryptionHeader(password, crc32, random);
}

TEncryptionHeader TZipCrypt::MakeEncryptionHeader(std::string_view password, uint32_t crc32,
                                                  const std::array<uint8_t, 10>& random) {
  InitKeys(password);
  TEncryptionHeader plain;
  std::copy(random.begin(), random.end(), plain.begin());
  plain[10] = uint8_t(crc32 >> 16);
  plain[11] = uint8_t(crc32 >> 24);
  TEncryptionHeader out;
  EncryptBuffer(plain.data(), out.data(), out.size());
  return out;
}

void SystemRandomBytes(uint8_t* buf, size_t len) {
  // A clock-seeded generator would let anyone who knows the file's time predict the header
  // bytes; take them from the kernel instead.
#if __has_include(<sys/random.h>)
  while (len > 0) {
    ssize_t got = getrandom(buf, len, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;  // no getrandom: fall back below
    }
    buf += got;
    len -= size_t(got);
  }
#endif
  if (len > 0) {
    std::random_device device;
    for (size_t i = 0; i < len; ++i) buf[i] = uint8_t(device());
  }
}

}  // namespace quelt
