#include "engine/codecs/AesEncodeIO.h"

#include <algorithm>

#include "engine/Errors.h"
#include "engine/ZipCrypt.h"

namespace quelt {

namespace {

constexpr size_t kEncryptBlock = 16384;

std::vector<uint8_t> freshSalt(TAesStrength strength) {
  std::vector<uint8_t> salt(AesSaltSize(strength));
  SystemRandomBytes(salt.data(), salt.size());
  return salt;
}

}  // namespace

TAesEncodeIO::TAesEncodeIO(TEncodeIO& io, std::string_view password, TAesStrength strength)
    : TAesEncodeIO(io, password, strength, freshSalt(strength)) {}

TAesEncodeIO::TAesEncodeIO(TEncodeIO& io, std::string_view password, TAesStrength strength,
                           std::span<const uint8_t> salt)
    : io_(io), strength_(strength), salt_(salt.begin(), salt.end()) {
  cipher_.emplace(password, salt_, strength);
}

void TAesEncodeIO::Begin() {
  if (phase_ != TPhase::Ready) throw EAssertionFailed("AES header written twice");
  io_.Write(salt_.data(), salt_.size());
  io_.Write(cipher_->Verifier().data(), cipher_->Verifier().size());
  phase_ = TPhase::Data;
}

void TAesEncodeIO::Write(const uint8_t* data, size_t n) {
  if (phase_ != TPhase::Data) throw EAssertionFailed("AES data outside its entry");
  while (n > 0) {
    const size_t take = std::min(n, kEncryptBlock);
    copy_.resize(take);
    cipher_->Encrypt(data, copy_.data(), take);
    io_.Write(copy_.data(), take);
    data += take;
    n -= take;
  }
}

void TAesEncodeIO::Finish() {
  if (phase_ != TPhase::Data) throw EAssertionFailed("AES code without its entry");
  phase_ = TPhase::Done;
  const TAesAuthCode code = cipher_->AuthCode();
  io_.Write(code.data(), code.size());
}

}  // namespace quelt
