// The encrypting stage of the writer: an encode sink that sits between an encoder and the
// archive writer, encrypting what the encoder writes with AES and authenticating it.
//
//   TAesEncodeIO aes(writer, password, strength);
//   aes.Begin();                     // salt and password verifier
//   encoder.Deflate(aes, level);     // or any other encoder, or stored bytes via Write()
//   aes.Finish();                    // the authentication code
// The entry then has method 99, the real method in MakeAesField({2, strength, method}), the
// encrypted flag, CRC 0 for AE-2 (its real CRC for AE-1), and a compressed size of the
// encoder's output plus Overhead().
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/EncodeIO.h"
#include "engine/codecs/AesCrypt.h"

namespace quelt {

class TAesEncodeIO : public TEncodeIO {
 public:
  // Keys from the password and a fresh salt from the operating system's random generator.
  TAesEncodeIO(TEncodeIO& io, std::string_view password,
               TAesStrength strength = TAesStrength::Aes256);
  // The same with the salt given (AesSaltSize(strength) bytes), for reproducible output.
  TAesEncodeIO(TEncodeIO& io, std::string_view password, TAesStrength strength,
               std::span<const uint8_t> salt);

  // Writes the salt and the password verifier; once, before any data.
  void Begin();
  // Writes the authentication code of everything written since; once, after the data.
  void Finish();

  // Stored bytes an entry gains: salt, verifier and code.
  uint64_t Overhead() const { return TAesField{2, strength_, 0}.Overhead(); }

  // The source passes through unchanged.
  size_t Read(uint8_t* buf, size_t count) override { return io_.Read(buf, count); }
  // Encrypts a copy (the encoder's buffers are its own) and writes it on.
  void Write(const uint8_t* data, size_t n) override;

 private:
  enum class TPhase { Ready, Data, Done };

  TEncodeIO& io_;
  TAesStrength strength_;
  std::vector<uint8_t> salt_;
  std::optional<TAesCipher> cipher_;
  std::vector<uint8_t> copy_;
  TPhase phase_ = TPhase::Ready;
};

}  // namespace quelt
