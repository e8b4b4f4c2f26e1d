// Any bytes as an archive's stored names: detection and decoding must never crash, and every
// name must come back from its display form byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/CodePage.h"
#include "engine/NameEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 4096) return 0;
  const uint8_t mode = data[0], pick = data[1];
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  if (mode & 16) (void)quelt::canonicalCharsetName(rest);

  // Names are separated by 0x0A; a name starting with 0x01 carries the UTF-8 flag.
  std::vector<quelt::TStoredText> texts;
  const uint16_t hosts[] = {0x0014, 0x031E, 0x0B14, 0x0714};
  while (!rest.empty()) {
    size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view name = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    bool flag = !name.empty() && name[0] == '\x01';
    uint16_t host = hosts[(texts.size() + mode) % 4];
    texts.push_back({name, host, (mode & 4) == 0, flag});
  }

  const auto& choices = quelt::nameEncodingChoices();
  quelt::TNameEncoding enc =
      (mode & 8) ? quelt::TNameEncoding::Named(choices[pick % choices.size()].charset)
                 : quelt::TNameEncoding::Detect(texts);
  for (const quelt::TStoredText& t : texts) {
    std::string shown = enc.Decode(t.raw, t.utf8Flag);
    if (!quelt::isValidUtf8(shown)) std::abort();
    for (char c : shown)
      if (uint8_t(c) < 0x20 || c == 0x7F) std::abort();
    auto back = enc.Encode(shown, t.utf8Flag);
    if (!back || *back != t.raw) std::abort();
    (void)enc.Encode(t.raw, t.utf8Flag);  // user input need not be a display form
  }
  return 0;
}
