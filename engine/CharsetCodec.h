// One character set's decoder and encoder on top of iconv, for stored names and comments.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quelt {

inline constexpr uint32_t kNoChar = 0xFFFFFFFF;

class TCharsetCodec {
 public:
  // A character found in the stored bytes; len 0 means no character starts there.
  struct TChar {
    uint32_t cp = 0;
    uint32_t len = 0;
  };

  // iconvName: a name iconv knows ("CP437" is the engine's own table). Returns nothing when
  // iconv cannot convert it both ways.
  static std::shared_ptr<const TCharsetCodec> Open(const std::string& iconvName);
  ~TCharsetCodec();
  TCharsetCodec(const TCharsetCodec&) = delete;
  TCharsetCodec& operator=(const TCharsetCodec&) = delete;

  // The character at raw[pos]. Bytes below 0x80 at a character boundary are ASCII in every
  // set we offer, so they never reach iconv.
  TChar Next(std::string_view raw, size_t pos) const;
  // Appends the set's bytes for cp; false (and nothing appended) when cp has no form in it.
  bool Append(std::string& out, uint32_t cp) const;
  bool SingleByte() const { return !table_.empty(); }
  // The code points of all of `raw` when every byte belongs to a character and they encode back
  // to exactly `raw`; false otherwise (the caller then goes character by character).
  bool DecodeExactly(std::string_view raw, std::u32string& cps) const;

 private:
  TCharsetCodec() = default;

  void* toUnicode_ = nullptr;    // iconv_t, set -> UTF-32LE
  void* fromUnicode_ = nullptr;  // iconv_t, UTF-32LE -> set
  // Both descriptors carry conversion state, so one caller at a time.
  mutable std::mutex mutex_;
  // Single-byte sets are read once into a table: the code point of each byte, or kNoChar.
  std::vector<uint32_t> table_;
  std::unordered_map<uint32_t, uint8_t> reverse_;
};

// Appends the UTF-8 form of a code point.
void appendCodePoint(std::string& out, uint32_t cp);

}  // namespace quelt
