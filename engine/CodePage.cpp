#include "engine/CodePage.h"

#include <array>

namespace quelt {

namespace {

// Unicode code points of CP437 bytes 128..255.
constexpr std::array<uint16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,};

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when malformed.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
  auto b = uint8_t(s[i]);
  size_t len;
  uint32_t min;
  if (b < 0x80) {
    cp = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    auto c = uint8_t(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not UTF-8.
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
  uint32_t cp;
  for (size_t i = 0; i < s.size();) {
    size_t n = decodeUtf8(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string cp437ToUtf8(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    auto b = uint8_t(c);
    if (b < 0x80)
      out += c;
    else
      appendUtf8(out, kCp437High[b - 0x80]);
  }
  return out;
}

std::optional<std::string> utf8ToCp437(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  uint32_t cp;
  for (size_t i = 0; i < utf8.size();) {
    size_t n = decodeUtf8(utf8, i, cp);
    if (n == 0) return std::nullopt;
    i += n;
    if (cp < 0x80) {
      out += char(cp);
      continue;
    }
    size_t k = 0;
    while (k < kCp437High.size() && kCp437High[k] != cp) ++k;
    if (k == kCp437High.size()) return std::nullopt;
    out += char(0x80 + k);
  }
  return out;
}

bool madeOnDosFileSystem(uint16_t versionMadeBy) {
  switch (versionMadeBy >> 8) {
    case 0:   // MS-DOS and FAT
    case 6:   // OS/2 HPFS
    case 11:  // NTFS
    case 14:  // VFAT
      return true;
    default:
      return false;
  }
}

std::string decodeStoredText(std::string_view raw, uint16_t flags, uint16_t versionMadeBy,
                             bool knownMadeBy) {
  if (flags & 0x0800) return isValidUtf8(raw) ? std::string(raw) : cp437ToUtf8(raw);
  if (knownMadeBy && madeOnDosFileSystem(versionMadeBy)) return cp437ToUtf8(raw);
  return isValidUtf8(raw) ? std::string(raw) : cp437ToUtf8(raw);
}

std::string encodeStoredText(std::string_view utf8, bool& utf8Flag) {
  if (auto cp = utf8ToCp437(utf8)) {
    utf8Flag = false;
    return *cp;
  }
  utf8Flag = true;
  return std::string(utf8);
}

}  // namespace quelt
