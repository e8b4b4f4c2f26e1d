// The AES extra field and the decrypting stage. The first byte picks what is fuzzed:
//   0: any extra field is parsed;
//   1: the rest is plain bytes, encrypted by our stage, then one byte changed (or none) as
//      the next bytes say: the reader must give the bytes back exactly when nothing was
//      changed, and must refuse every change;
//   2: any stored bytes behind a field the next bytes choose, run through the stage and
//      the real method's decoder when the password happens to pass.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/codecs/AesDecodeIO.h"
#include "engine/codecs/AesEncodeIO.h"
#include "engine/codecs/CodecPump.h"
#include "engine/codecs/Methods.h"

namespace {

using namespace quelt;

constexpr char kPassword[] = "fuzz";

void parseField(const uint8_t* data, size_t size) {
  std::optional<TAesField> f = ParseAesField({data, size});
  if (f && (f->Version < 1 || f->Version > 2 || f->Method == kMethodAes)) std::abort();
  (void)EntryMethodName(kMethodAes, data, size);
}

void tamper(const uint8_t* data, size_t size) {
  if (size < 5) return;
  const auto strength = TAesStrength(1 + data[0] % 3);
  const size_t at = size_t(data[1] | data[2] << 8);
  const uint8_t mask = data[3];
  const size_t block = 1 + data[4] % 32 * 512;
  const std::vector<uint8_t> plain(data + 5, data + size);

  TMemoryEncodeIO sink(nullptr, 0);
  const std::vector<uint8_t> salt(AesSaltSize(strength), 0x5A);
  TAesEncodeIO enc(sink, kPassword, strength, salt);
  enc.Begin();
  enc.Write(plain.data(), plain.size());
  enc.Finish();
  std::vector<uint8_t> stored = sink.out;
  const size_t changed = at % stored.size();
  stored[changed] ^= mask;

  TMemoryDecodeIO source(stored.data(), stored.size(), SIZE_MAX, block);
  source.UncompressedSize = uint32_t(plain.size());
  TAesDecodeIO aes(source, {2, strength, kMethodStored}, stored.size());
  if (aes.Start() != TAesResult::Ok) std::abort();
  const TAesResult password = aes.SetPassword(kPassword);
  if (mask == 0 && password != TAesResult::Ok) std::abort();
  if (password != TAesResult::Ok) return;
  const int decoded = MethodDecoder(kMethodStored)(aes);
  const TAesResult finish = aes.Finish();
  if (mask == 0 && (decoded != kCodecOk || finish != TAesResult::Ok || source.out != plain))
    std::abort();
  if (mask != 0 && finish == TAesResult::Ok) std::abort();
}

void anyStored(const uint8_t* data, size_t size) {
  if (size < 5) return;
  // Methods whose memory does not depend on the data: the decrypted bytes are the
  // decoder's input, and what they ask for is tested by the decoders' own targets.
  constexpr uint16_t kMethods[] = {kMethodStored, kMethodDeflated, kMethodBzip2};
  const TAesField field{uint16_t(1 + (data[0] & 1)), TAesStrength(1 + data[0] / 2 % 3),
                        kMethods[data[1] % 3]};
  const uint32_t declared = uint32_t(data[2] | data[3] << 8 | (data[4] & 0x0F) << 16);
  TMemoryDecodeIO source(data + 5, size - 5, SIZE_MAX, 1 + data[4] % 16 * 997);
  source.UncompressedSize = declared;
  TAesDecodeIO aes(source, field, size - 5);
  if (aes.Start() != TAesResult::Ok) return;
  if (aes.SetPassword(kPassword) != TAesResult::Ok) return;
  (void)MethodDecoder(field.Method)(aes);
  (void)aes.Finish();
  if (source.out.size() > declared) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  switch (data[0] % 3) {
    case 0:
      parseField(data + 1, size - 1);
      break;
    case 1:
      tamper(data + 1, size - 1);
      break;
    default:
      anyStored(data + 1, size - 1);
      break;
  }
  return 0;
}
