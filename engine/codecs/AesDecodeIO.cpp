#include "engine/codecs/AesDecodeIO.h"

#include <algorithm>
#include <cstring>

#include "engine/Errors.h"

namespace quelt {

namespace {

constexpr size_t kDecryptBlock = 16000;

}  // namespace

TAesDecodeIO::TAesDecodeIO(TDecodeIO& source, const TAesField& field, uint64_t storedSize)
    : source_(source),
      field_(field),
      storedSize_(storedSize),
      salt_(AesSaltSize(field.Strength)),
      block_(kDecryptBlock) {
  UncompressedSize = source.UncompressedSize;
  BitFlag = source.BitFlag;
  const uint64_t data = storedSize > field.Overhead() ? storedSize - field.Overhead() : 0;
  CompressedSize = decltype(CompressedSize)(data);
}

bool TAesDecodeIO::readStored(uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (source_.NextByte(out[i]) == 0) return false;
  return true;
}

TAesResult TAesDecodeIO::Start() {
  if (storedSize_ < field_.Overhead()) return TAesResult::Truncated;
  if (!readStored(salt_.data(), salt_.size()) || !readStored(verifier_.data(), verifier_.size()))
    return TAesResult::Truncated;
  dataLeft_ = storedSize_ - field_.Overhead();
  started_ = true;
  return TAesResult::Ok;
}

TAesResult TAesDecodeIO::SetPassword(std::string_view password) {
  if (!started_) throw EAssertionFailed("AES password before the salt was read");
  cipher_.reset();
  TAesCipher& cipher = cipher_.emplace(password, salt_, field_.Strength);
  // Not a secret: the verifier is stored in the clear beside the salt.
  if (cipher.Verifier() != verifier_) {
    cipher_.reset();
    return TAesResult::WrongPassword;
  }
  return TAesResult::Ok;
}

bool TAesDecodeIO::Refill() {
  if (!cipher_) throw EAssertionFailed("AES data read before the password was set");
  while (dataLeft_ > 0) {
    if (source_.inPos == source_.inEnd && !source_.Refill()) {
      dataLeft_ = 0;  // the source ended early; Finish() will find the code missing
      return false;
    }
    // Only the data: whatever follows it in the source's block is the code.
    const size_t n = size_t(std::min<uint64_t>(
        {uint64_t(source_.inEnd - source_.inPos), dataLeft_, uint64_t(block_.size())}));
    if (n == 0) continue;
    std::memcpy(block_.data(), source_.inPos, n);
    source_.inPos += n;
    dataLeft_ -= n;
    cipher_->Decrypt(block_.data(), n);
    inPos = block_.data();
    inEnd = inPos + n;
    return true;
  }
  return false;
}

TAesResult TAesDecodeIO::Finish() {
  if (!cipher_) throw EAssertionFailed("AES entry finished before the password was set");
  inPos = inEnd = nullptr;
  while (Refill()) inPos = inEnd;
  TAesAuthCode stored;
  if (!readStored(stored.data(), stored.size())) return TAesResult::Truncated;
  return SameAuthCode(cipher_->AuthCode(), stored) ? TAesResult::Ok
                                                   : TAesResult::AuthenticationFailed;
}

}  // namespace quelt
