#include "engine/codecs/AesCrypt.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <string>

#include "engine/Errors.h"
#include "engine/ExtraField.h"
#include "engine/codecs/Methods.h"

namespace quelt {

namespace {

constexpr size_t kBlock = 16;
// Counter blocks encrypted per call into the library: one call per 4 KiB keeps the cost of
// the call small beside the cipher's.
constexpr size_t kKeystreamBlocks = 256;
constexpr size_t kSha1Size = 20;

[[noreturn]] void cryptoFailed(const char* what) {
  std::string text = std::string("The cryptographic library failed to ") + what;
  if (unsigned long code = ERR_get_error()) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    text += std::string(": ") + reason;
  }
  ERR_clear_error();
  throw EZipError(text);
}

const EVP_CIPHER* ecbCipher(TAesStrength s) {
  switch (s) {
    case TAesStrength::Aes128:
      return EVP_aes_128_ecb();
    case TAesStrength::Aes192:
      return EVP_aes_192_ecb();
    case TAesStrength::Aes256:
      break;
  }
  return EVP_aes_256_ecb();
}

struct TFreeCipher {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct TFreeMac {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct TFreeMacCtx {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

// Key material wiped when it goes out of scope.
template <size_t N>
struct TSecret {
  std::array<uint8_t, N> bytes{};
  ~TSecret() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

}  // namespace

std::optional<TAesField> ParseAesField(std::span<const uint8_t> extra) {
  const auto body = FindExtraBlock(extra, kAesExtraId);
  if (!body || body->size() < kAesExtraBodySize) return std::nullopt;
  const uint8_t* p = body->data();
  TAesField field;
  field.Version = load16(p);
  const uint8_t strength = p[4];
  field.Method = load16(p + 5);
  if (field.Version < 1 || field.Version > 2 || p[2] != 'A' || p[3] != 'E' || strength < 1 ||
      strength > 3 || field.Method == kMethodAes)
    return std::nullopt;
  field.Strength = TAesStrength(strength);
  return field;
}

std::array<uint8_t, 4 + kAesExtraBodySize> MakeAesField(const TAesField& field) {
  std::array<uint8_t, 4 + kAesExtraBodySize> out{};
  store16(&out[0], kAesExtraId);
  store16(&out[2], uint16_t(kAesExtraBodySize));
  store16(&out[4], field.Version);
  out[6] = 'A';
  out[7] = 'E';
  out[8] = uint8_t(field.Strength);
  store16(&out[9], field.Method);
  return out;
}

struct TAesCipher::TState {
  std::unique_ptr<EVP_CIPHER_CTX, TFreeCipher> cipher;
  std::unique_ptr<EVP_MAC, TFreeMac> macAlgorithm;
  std::unique_ptr<EVP_MAC_CTX, TFreeMacCtx> mac;
  uint64_t counter = 0;
  std::array<uint8_t, kKeystreamBlocks * kBlock> counters{};
  std::array<uint8_t, kKeystreamBlocks * kBlock> keystream{};
  size_t keystreamPos = 0, keystreamLen = 0;
  bool finished = false;

  ~TState() { OPENSSL_cleanse(keystream.data(), keystream.size()); }
};

TAesCipher::TAesCipher(std::string_view password, std::span<const uint8_t> salt,
                       TAesStrength strength)
    : state_(std::make_unique<TState>()) {
  const size_t keySize = AesKeySize(strength);
  if (salt.size() != AesSaltSize(strength))
    throw EAssertionFailed("AES salt of " + std::to_string(salt.size()) + " bytes");
  // Cipher key, then authentication key, then the verifier.
  TSecret<2 * 32 + kAesVerifierSize> derived;
  const size_t derivedSize = 2 * keySize + kAesVerifierSize;
  if (PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt.data(), int(salt.size()),
                        int(kAesKeyIterations), EVP_sha1(), int(derivedSize),
                        derived.bytes.data()) != 1)
    cryptoFailed("derive the AES keys");
  std::copy_n(derived.bytes.data() + 2 * keySize, kAesVerifierSize, verifier_.begin());

  TState& s = *state_;
  s.cipher.reset(EVP_CIPHER_CTX_new());
  if (!s.cipher ||
      EVP_EncryptInit_ex(s.cipher.get(), ecbCipher(strength), nullptr, derived.bytes.data(),
                         nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(s.cipher.get(), 0) != 1)
    cryptoFailed("set up AES");
  s.macAlgorithm.reset(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr));
  if (s.macAlgorithm) s.mac.reset(EVP_MAC_CTX_new(s.macAlgorithm.get()));
  char digest[] = OSSL_DIGEST_NAME_SHA1;
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_END};
  if (!s.mac || EVP_MAC_init(s.mac.get(), derived.bytes.data() + keySize, keySize, params) != 1)
    cryptoFailed("set up HMAC-SHA1");
}

TAesCipher::~TAesCipher() = default;

void TAesCipher::applyKeystream(const uint8_t* in, uint8_t* out, size_t n) {
  TState& s = *state_;
  while (n > 0) {
    if (s.keystreamPos == s.keystreamLen) {
      // The next run of counter blocks, encrypted in one call.
      for (size_t b = 0; b < kKeystreamBlocks; ++b) {
        ++s.counter;
        uint8_t* block = &s.counters[b * kBlock];
        for (size_t i = 0; i < 8; ++i) block[i] = uint8_t(s.counter >> (8 * i));
      }
      int got = 0;
      if (EVP_EncryptUpdate(s.cipher.get(), s.keystream.data(), &got, s.counters.data(),
                            int(s.counters.size())) != 1 ||
          size_t(got) != s.keystream.size())
        cryptoFailed("run AES");
      s.keystreamPos = 0;
      s.keystreamLen = size_t(got);
    }
    const size_t take = std::min(n, s.keystreamLen - s.keystreamPos);
    const uint8_t* k = &s.keystream[s.keystreamPos];
    for (size_t i = 0; i < take; ++i) out[i] = in[i] ^ k[i];
    s.keystreamPos += take;
    in += take;
    out += take;
    n -= take;
  }
}

void TAesCipher::Decrypt(uint8_t* buf, size_t n) {
  if (state_->finished) throw EAssertionFailed("AES cipher used after its code");
  if (n > 0 && EVP_MAC_update(state_->mac.get(), buf, n) != 1) cryptoFailed("run HMAC-SHA1");
  applyKeystream(buf, buf, n);
}

void TAesCipher::Encrypt(const uint8_t* in, uint8_t* out, size_t n) {
  if (state_->finished) throw EAssertionFailed("AES cipher used after its code");
  applyKeystream(in, out, n);
  if (n > 0 && EVP_MAC_update(state_->mac.get(), out, n) != 1) cryptoFailed("run HMAC-SHA1");
}

TAesAuthCode TAesCipher::AuthCode() {
  if (state_->finished) throw EAssertionFailed("AES code asked for twice");
  state_->finished = true;
  std::array<uint8_t, kSha1Size> full{};
  size_t got = 0;
  if (EVP_MAC_final(state_->mac.get(), full.data(), &got, full.size()) != 1 || got != kSha1Size)
    cryptoFailed("finish HMAC-SHA1");
  TAesAuthCode code;
  std::copy_n(full.begin(), code.size(), code.begin());
  return code;
}

bool SameAuthCode(const TAesAuthCode& a, const TAesAuthCode& b) {
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace quelt
