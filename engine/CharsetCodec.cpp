#include "engine/CharsetCodec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "engine/CodePage.h"

namespace quelt {

namespace {

const iconv_t kBadIconv = reinterpret_cast<iconv_t>(-1);

iconv_t asIconv(void* cd) {
  return static_cast<iconv_t>(cd);
}

// Converts the first character of `bytes` to one UTF-32 code unit: a four-byte output buffer
// makes iconv stop after one character and tell how many bytes it took. What iconv says about
// the bytes after that character does not matter here.
TCharsetCodec::TChar firstChar(iconv_t cd, const char* bytes, size_t n) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  unsigned char out[4];
  char* in = const_cast<char*>(bytes);
  char* o = reinterpret_cast<char*>(out);
  size_t inLeft = n, outLeft = sizeof out;
  iconv(cd, &in, &inLeft, &o, &outLeft);
  if (outLeft != 0 || inLeft == n) return {};
  uint32_t cp = out[0] | out[1] << 8 | out[2] << 16 | uint32_t(out[3]) << 24;
  return {cp, uint32_t(n - inLeft)};
}

// Reads one byte alone. Some converters hold a letter back until they see whether a combining
// mark follows (Windows-1255, -1258), so the byte is flushed out. EINVAL: it starts a longer
// sequence.
TCharsetCodec::TChar singleByte(iconv_t cd, uint8_t byte, bool& lead) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  unsigned char out[4];
  char c = char(byte);
  char* in = &c;
  char* o = reinterpret_cast<char*>(out);
  size_t inLeft = 1, outLeft = sizeof out;
  if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) {
    lead = errno == EINVAL;
    return {};
  }
  iconv(cd, nullptr, nullptr, &o, &outLeft);
  if (outLeft != 0) return {};
  return {uint32_t(out[0] | out[1] << 8 | out[2] << 16 | uint32_t(out[3]) << 24), 1};
}

}  // namespace

void appendCodePoint(std::string& out, uint32_t cp) {
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

std::shared_ptr<const TCharsetCodec> TCharsetCodec::Open(const std::string& iconvName) {
  std::shared_ptr<TCharsetCodec> codec(new TCharsetCodec);
  const bool cp437 = iconvName == "CP437";
  // CP437 is read from the engine's own table (through UTF-8), so names decode exactly as the
  // rest of the engine shows them.
  iconv_t to = iconv_open("UTF-32LE", cp437 ? "UTF-8" : iconvName.c_str());
  iconv_t from = cp437 ? kBadIconv : iconv_open(iconvName.c_str(), "UTF-32LE");
  if (to == kBadIconv || (!cp437 && from == kBadIconv)) {
    if (to != kBadIconv) iconv_close(to);
    if (from != kBadIconv) iconv_close(from);
    return nullptr;
  }
  codec->toUnicode_ = to;
  codec->fromUnicode_ = cp437 ? nullptr : from;

  // A set is single-byte when no high byte is the start of a longer sequence.
  std::vector<uint32_t> table(256, kNoChar);
  bool single = true;
  for (int b = 0; b < 256 && single; ++b) {
    if (cp437) {
      char c = char(b);
      std::string utf8 = cp437ToUtf8(std::string_view(&c, 1));
      table[b] = firstChar(to, utf8.data(), utf8.size()).cp;
      continue;
    }
    bool lead = false;
    TChar ch = singleByte(to, uint8_t(b), lead);
    if (ch.len == 1) table[b] = ch.cp;
    single = !lead;
  }
  if (single) {
    codec->table_ = std::move(table);
    for (int b = 255; b >= 0; --b)
      if (codec->table_[b] != kNoChar) codec->reverse_[codec->table_[b]] = uint8_t(b);
  }
  return codec;
}

TCharsetCodec::~TCharsetCodec() {
  if (toUnicode_) iconv_close(asIconv(toUnicode_));
  if (fromUnicode_) iconv_close(asIconv(fromUnicode_));
}

TCharsetCodec::TChar TCharsetCodec::Next(std::string_view raw, size_t pos) const {
  auto b = uint8_t(raw[pos]);
  if (b < 0x80) return {b, 1};
  if (!table_.empty()) return table_[b] == kNoChar ? TChar{} : TChar{table_[b], 1};
  std::lock_guard lock(mutex_);
  // No set we offer has characters longer than four bytes.
  return firstChar(asIconv(toUnicode_), raw.data() + pos, std::min<size_t>(4, raw.size() - pos));
}

bool TCharsetCodec::Append(std::string& out, uint32_t cp) const {
  if (cp < 0x80) {
    out += char(cp);
    return true;
  }
  if (!table_.empty()) {
    auto it = reverse_.find(cp);
    if (it == reverse_.end()) return false;
    out += char(it->second);
    return true;
  }
  std::lock_guard lock(mutex_);
  iconv_t cd = asIconv(fromUnicode_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char le[4] = {char(cp), char(cp >> 8), char(cp >> 16), char(cp >> 24)};
  char buf[16];
  char* in = le;
  char* o = buf;
  size_t inLeft = 4, outLeft = sizeof buf;
  if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) return false;
  // Sets with shift states would add a return to the initial state here; ours have none.
  iconv(cd, nullptr, nullptr, &o, &outLeft);
  out.append(buf, sizeof buf - outLeft);
  return true;
}

bool TCharsetCodec::DecodeExactly(std::string_view raw, std::u32string& cps) const {
  cps.clear();
  if (!table_.empty()) return false;  // tables are quicker character by character
  std::lock_guard lock(mutex_);
  iconv_t to = asIconv(toUnicode_), from = asIconv(fromUnicode_);
  std::string units(raw.size() * 4, '\0');
  char* in = const_cast<char*>(raw.data());
  char* o = units.data();
  size_t inLeft = raw.size(), outLeft = units.size();
  iconv(to, nullptr, nullptr, nullptr, nullptr);
  if (iconv(to, &in, &inLeft, &o, &outLeft) == size_t(-1) || inLeft != 0) return false;
  units.resize(units.size() - outLeft);
  std::string back(raw.size() + 8, '\0');
  in = units.data();
  o = back.data();
  inLeft = units.size();
  outLeft = back.size();
  iconv(from, nullptr, nullptr, nullptr, nullptr);
  if (iconv(from, &in, &inLeft, &o, &outLeft) == size_t(-1) || inLeft != 0) return false;
  if (std::string_view(back.data(), back.size() - outLeft) != raw) return false;
  for (size_t i = 0; i + 4 <= units.size(); i += 4) {
    auto u = reinterpret_cast<const unsigned char*>(units.data() + i);
    cps += char32_t(u[0] | u[1] << 8 | u[2] << 16 | uint32_t(u[3]) << 24);
  }
  return true;
}

}  // namespace quelt
