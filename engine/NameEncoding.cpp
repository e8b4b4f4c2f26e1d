#include "engine/NameEncoding.h"

#include "engine/CharsetCodec.h"
#include "engine/CharsetTable.h"
#include "engine/CodePage.h"

namespace quelt {

namespace {

constexpr uint32_t kMarker = 0xFFFD;
constexpr std::string_view kMarkerUtf8 = "\xEF\xBF\xBD";

// Bytes an escape may stand for: the controls and everything outside ASCII. Printable ASCII
// decodes in every set, so it is never escaped.
bool escapable(uint8_t b) {
  return b < 0x20 || b >= 0x7F;
}

// Control characters would upset terminals and file names; they are shown as their bytes.
bool isControl(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte an escape at s[i] (just after the marker) stands for, or -1.
int escapedByte(std::string_view s, size_t i) {
  if (i + 2 > s.size()) return -1;
  int hi = hexDigit(s[i]), lo = hexDigit(s[i + 1]);
  if (hi < 0 || lo < 0 || !escapable(uint8_t(hi * 16 + lo))) return -1;
  return hi * 16 + lo;
}

void appendRawByte(std::string& out, uint8_t b) {
  if (!escapable(b)) {
    out += char(b);
    return;
  }
  static const char hex[] = "0123456789ABCDEF";
  out += kMarkerUtf8;
  out += hex[b >> 4];
  out += hex[b & 15];
}

// Valid UTF-8 without controls or markers is its own display form: the common case of flagged
// names takes no decoding at all.
bool plainUtf8(std::string_view raw) {
  for (size_t i = 0; i < raw.size(); ++i) {
    auto b = uint8_t(raw[i]);
    if (b < 0x20 || b == 0x7F) return false;
    if (b == 0xC2 && i + 1 < raw.size() && uint8_t(raw[i + 1]) < 0xA0) return false;
  }
  return raw.find(kMarkerUtf8) == std::string_view::npos && isValidUtf8(raw);
}

std::string decodeWith(const TCharsetCodec& codec, std::string_view raw, bool injective) {
  std::string out;
  out.reserve(raw.size() + raw.size() / 2);
  // Most names decode whole, without controls or markers: no need to go character by character.
  std::u32string cps;
  if (!codec.SingleByte() && codec.DecodeExactly(raw, cps)) {
    bool plain = true;
    for (char32_t cp : cps) plain = plain && !isControl(cp) && cp != kMarker;
    if (plain) {
      for (char32_t cp : cps) appendCodePoint(out, cp);
      return out;
    }
    out.clear();
  }
  std::vector<size_t> markers;  // where literal U+FFFD went
  std::string again;
  for (size_t i = 0; i < raw.size();) {
    TCharsetCodec::TChar c = codec.Next(raw, i);
    bool shown = c.len != 0 && !isControl(c.cp);
    // Where two byte sequences decode alike, only the one that encodes back is shown as text:
    // the other is escaped, so display names stay distinct and reversible.
    if (shown && !injective && c.cp >= 0x80) {
      again.clear();
      shown = codec.Append(again, c.cp) && again == raw.substr(i, c.len);
    }
    if (!shown) {
      uint32_t n = c.len ? c.len : 1;
      for (uint32_t k = 0; k < n; ++k) appendRawByte(out, uint8_t(raw[i + k]));
      i += n;
      continue;
    }
    if (c.cp == kMarker) markers.push_back(out.size());
    appendCodePoint(out, c.cp);
    i += c.len;
  }
  // Back to front, so earlier positions stay valid as markers are doubled.
  for (auto it = markers.rbegin(); it != markers.rend(); ++it) {
    size_t next = *it + kMarkerUtf8.size();
    if (out.compare(next, kMarkerUtf8.size(), kMarkerUtf8) == 0 || escapedByte(out, next) >= 0)
      out.insert(*it, kMarkerUtf8);
  }
  return out;
}

std::shared_ptr<const TCharsetCodec> openCodec(const TCharsetInfo& info) {
  auto codec = TCharsetCodec::Open(info.iconv);
  if (!codec)
    throw EUnknownCharset("The name encoding \"" + std::string(info.name) +
                          "\" is not available on this system");
  return codec;
}

const TCharsetCodec& utf8Codec() {
  // Immutable once open and locked inside, so one serves every archive.
  static const auto codec = openCodec(*findCharset("UTF-8"));
  return *codec;
}

}  // namespace

TNameEncoding::TNameEncoding() : TNameEncoding(Named("CP437")) {}

TNameEncoding::TNameEncoding(std::string charset, std::shared_ptr<const TCharsetCodec> codec,
                             bool detected)
    : charset_(std::move(charset)), codec_(std::move(codec)), detected_(detected) {}

TNameEncoding TNameEncoding::Named(std::string_view charset) {
  const TCharsetInfo* info = findCharset(charset);
  if (!info) throw EUnknownCharset("Unknown name encoding \"" + std::string(charset) + "\"");
  return TNameEncoding(info->name, openCodec(*info), false);
}

std::optional<std::string> canonicalCharsetName(std::string_view name) {
  const TCharsetInfo* info = findCharset(name);
  if (!info) return std::nullopt;
  return std::string(info->name);
}

std::string TNameEncoding::Decode(std::string_view raw, bool utf8Flag) const {
  const bool utf8 = utf8Flag || charset_ == "UTF-8";
  if (utf8 && plainUtf8(raw)) return std::string(raw);
  // UTF-8 and the single-byte tables map one way only; the East Asian sets have duplicates.
  return utf8 ? decodeWith(utf8Codec(), raw, true) : decodeWith(*codec_, raw, codec_->SingleByte());
}

std::optional<std::string> TNameEncoding::Encode(std::string_view display, bool utf8Flag) const {
  const bool utf8 = utf8Flag || charset_ == "UTF-8";
  if (utf8 && plainUtf8(display)) return std::string(display);
  const TCharsetCodec& codec = utf8 ? utf8Codec() : *codec_;
  std::string out;
  for (size_t i = 0; i < display.size();) {
    if (display.compare(i, kMarkerUtf8.size(), kMarkerUtf8) == 0) {
      size_t next = i + kMarkerUtf8.size();
      if (int b = escapedByte(display, next); b >= 0) {
        out += char(b);
        i = next + 2;
        continue;
      }
      // A doubled marker is one literal U+FFFD; a lone one followed by anything else is too.
      if (display.compare(next, kMarkerUtf8.size(), kMarkerUtf8) == 0) next += kMarkerUtf8.size();
      if (!codec.Append(out, kMarker)) return std::nullopt;
      i = next;
      continue;
    }
    TCharsetCodec::TChar c = utf8Codec().Next(display, i);
    if (c.len == 0 || !codec.Append(out, c.cp)) return std::nullopt;
    i += c.len;
  }
  return out;
}

const std::vector<TCharsetChoice>& nameEncodingChoices() {
  static const std::vector<TCharsetChoice> choices = {
      {"UTF-8", "Unicode (UTF-8)"},
      {"CP437", "Western European (DOS, CP437)"},
      {"CP850", "Western European (DOS, CP850)"},
      {"CP1252", "Western European (Windows-1252)"},
      {"ISO-8859-1", "Western European (ISO 8859-1)"},
      {"CP852", "Central European (DOS, CP852)"},
      {"CP1250", "Central European (Windows-1250)"},
      {"ISO-8859-2", "Central European (ISO 8859-2)"},
      {"CP866", "Cyrillic (DOS, CP866)"},
      {"CP1251", "Cyrillic (Windows-1251)"},
      {"KOI8-R", "Cyrillic (KOI8-R)"},
      {"CP737", "Greek (DOS, CP737)"},
      {"CP1253", "Greek (Windows-1253)"},
      {"CP857", "Turkish (DOS, CP857)"},
      {"CP1254", "Turkish (Windows-1254)"},
      {"CP862", "Hebrew (DOS, CP862)"},
      {"CP1255", "Hebrew (Windows-1255)"},
      {"CP1256", "Arabic (Windows-1256)"},
      {"CP1257", "Baltic (Windows-1257)"},
      {"CP932", "Japanese (Shift-JIS)"},
      {"EUC-JP", "Japanese (EUC-JP)"},
      {"GBK", "Chinese Simplified (GBK)"},
      {"GB18030", "Chinese Simplified (GB18030)"},
      {"BIG5", "Chinese Traditional (Big5)"},
      {"CP949", "Korean (UHC)"},
  };
  return choices;
}

}  // namespace quelt
