// The UU, XX and Base64 decoders and the self-extractor's record: any text decodes without
// harm, a begin line never names a path, and what was decoded encodes and decodes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert/SFXRecord.h"
#include "convert/UUCode.h"

using namespace quelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the decoder and its settings; the rest is the text.
  const TAlgorithm decoders[] = {uudecode, xxdecode, base64decode};
  const TAlgorithm encoders[] = {uuencode, xxencode, base64encode};
  const int kind = data[0] % 3;
  const bool headers = data[0] & 4;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  (void)DetectDecoder(text);
  (void)ParseSFXRecord(data, size);
  TUUDecoded decoded;
  try {
    decoded = DecodeUUText(text, {decoders[kind], headers, LF, 644});
  } catch (const EUUCode&) {
    return 0;
  }
  if (headers && (decoded.Name.empty() || decoded.Name == "." || decoded.Name == ".." ||
                  decoded.Name.find_first_of("/\\") != std::string::npos))
    std::abort();
  std::string again = EncodeUUText(decoded.Data.data(), decoded.Data.size(), "x",
                                   {encoders[kind], headers, CRLF, 644});
  if (DecodeUUText(again, {decoders[kind], headers, CRLF, 644}).Data != decoded.Data) std::abort();
  return 0;
}
