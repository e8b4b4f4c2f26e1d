// The decrypting stage of an AES-encrypted entry: a decode source that sits between the
// extraction's source of stored bytes and any decoder, decrypting each block as it is
// refilled and feeding the authentication code.
//
//   TAesDecodeIO aes(source, field, storedSize);
//   Start(), then SetPassword() until it is not kAesWrongPassword (or the user gives up),
//   then the decoder of field.Method on aes, then Finish() - the entry is good only when the
//   decoder succeeded, Finish() says kAesOk, and for AE-1 the CRC matches too.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/DecodeIO.h"
#include "engine/codecs/AesCrypt.h"

namespace quelt {

enum class TAesResult {
  Ok,
  WrongPassword,         // the password verifier disagrees: no decoding was attempted
  AuthenticationFailed,  // the data was changed after it was encrypted, or the password is
                         // wrong and passed the 2-byte verifier by chance
  Truncated,             // the entry's bytes end before its salt, data or code do
};

class TAesDecodeIO : public TDecodeIO {
 public:
  // `source` delivers the entry's stored bytes, `storedSize` of them, from its current
  // position on; its UncompressedSize and BitFlag pass through. The stage's CompressedSize
  // is that of the encrypted data alone.
  TAesDecodeIO(TDecodeIO& source, const TAesField& field, uint64_t storedSize);

  // Reads the salt and the password verifier. Truncated when the entry is too short to hold
  // them and the code.
  [[nodiscard]] TAesResult Start();
  // Derives the keys from the password; WrongPassword when the verifier disagrees, and then
  // another password may be tried. Start() must have said Ok.
  [[nodiscard]] TAesResult SetPassword(std::string_view password);
  // After the decoder: reads whatever data it left unread (the code covers all of it), then
  // the code, and compares. Ok only when all of the data is the data that was encrypted.
  [[nodiscard]] TAesResult Finish();

  bool Refill() override;
  void Output(const uint8_t* data, size_t n) override { source_.Output(data, n); }
  void FlushOutput() override { source_.FlushOutput(); }

 private:
  // Reads n stored bytes from the source; false when they end first.
  bool readStored(uint8_t* out, size_t n);

  TDecodeIO& source_;
  TAesField field_;
  uint64_t storedSize_;
  uint64_t dataLeft_ = 0;  // encrypted bytes not yet handed to the decoder
  std::vector<uint8_t> salt_;
  TAesVerifier verifier_{};
  std::optional<TAesCipher> cipher_;
  std::vector<uint8_t> block_;
  bool started_ = false;
};

}  // namespace quelt
