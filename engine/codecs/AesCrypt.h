// AES encryption of entries (AE-1 and AE-2): the extra field that marks them, the keys a
// password gives, and AES in counter mode with an HMAC-SHA1 authentication code over the
// encrypted bytes. The primitives are the system's crypto library's; nothing here is a
// cipher of our own.
//
// An encrypted entry's stored bytes: salt, 2-byte password verifier, encrypted data, 10-byte
// authentication code. Its method is 99; the real one is in the extra field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "engine/ZipFormat.h"

namespace quelt {

inline constexpr uint16_t kAesExtraId = 0x9901;
inline constexpr size_t kAesExtraBodySize = 7;
inline constexpr size_t kAesVerifierSize = 2;
inline constexpr size_t kAesAuthCodeSize = 10;
inline constexpr unsigned kAesKeyIterations = 1000;

enum class TAesStrength : uint8_t { Aes128 = 1, Aes192 = 2, Aes256 = 3 };

constexpr size_t AesKeySize(TAesStrength s) {
  return 8 + 8 * size_t(s);
}  // 16, 24, 32
constexpr size_t AesSaltSize(TAesStrength s) {
  return 4 + 4 * size_t(s);
}  // 8, 12, 16
constexpr unsigned AesKeyBits(TAesStrength s) {
  return unsigned(AesKeySize(s)) * 8;
}

// The AES extra field of an entry.
struct TAesField {
  // 1 (AE-1): the entry's CRC is stored and must match as well. 2 (AE-2): the CRC is stored
  // as 0, and the authentication code alone vouches for the data.
  uint16_t Version = 2;
  TAesStrength Strength = TAesStrength::Aes256;
  uint16_t Method = kMethodDeflated;  // the real compression method

  bool ChecksCrc() const { return Version == 1; }
  // Stored bytes beyond the encrypted data: salt, verifier and authentication code.
  size_t Overhead() const { return AesSaltSize(Strength) + kAesVerifierSize + kAesAuthCodeSize; }
};

// Reads the AES block of an entry's extra field. nullopt when there is none or it is not
// one we can use: a version other than 1 or 2, another vendor mark than "AE", an unknown key
// size, or 99 again as the real method.
std::optional<TAesField> ParseAesField(std::span<const uint8_t> extra);
// The whole block (id, size, body) for the writer's extra fields.
std::array<uint8_t, 4 + kAesExtraBodySize> MakeAesField(const TAesField& field);

using TAesVerifier = std::array<uint8_t, kAesVerifierSize>;
using TAesAuthCode = std::array<uint8_t, kAesAuthCodeSize>;

// One entry's keys at work: AES in counter mode (a 64-bit little-endian block counter from
// 1) and HMAC-SHA1 over the encrypted bytes. Failures of the crypto library throw EZipError.
class TAesCipher {
 public:
  // Derives the keys and the verifier from the password's bytes and the entry's salt with
  // PBKDF2-HMAC-SHA1 (1000 rounds). The salt must be AesSaltSize(strength) bytes.
  TAesCipher(std::string_view password, std::span<const uint8_t> salt, TAesStrength strength);
  ~TAesCipher();
  TAesCipher(const TAesCipher&) = delete;
  TAesCipher& operator=(const TAesCipher&) = delete;

  // What the stored verifier must be for this password.
  const TAesVerifier& Verifier() const { return verifier_; }

  // Reading: authenticates n encrypted bytes, then decrypts them in place.
  void Decrypt(uint8_t* buf, size_t n);
  // Writing: encrypts n bytes from in into out (which may be in), then authenticates them.
  void Encrypt(const uint8_t* in, uint8_t* out, size_t n);
  // The authentication code of every encrypted byte so far. Ends the cipher's use.
  [[nodiscard]] TAesAuthCode AuthCode();

 private:
  struct TState;
  void applyKeystream(const uint8_t* in, uint8_t* out, size_t n);

  std::unique_ptr<TState> state_;
  TAesVerifier verifier_{};
};

// Compares two authentication codes in time that does not depend on where they differ.
bool SameAuthCode(const TAesAuthCode& a, const TAesAuthCode& b);

}  // namespace quelt
