// The character sets offered for stored names: canonical names, spellings, and which creators
// detection considers for each.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quelt {

// The letters a set is made for; detection checks a decoding against the language model of a
// sibling set of the same script.
enum class TScript : uint8_t { Latin, Cyrillic, Greek, Hebrew, Arabic, Thai, Cjk, Any };

// Which creators detection considers a set for.
enum : uint8_t { kForDos = 1, kForOthers = 2, kForAll = kForDos | kForOthers };

struct TCharsetInfo {
  const char* name;   // canonical, as shown
  const char* iconv;  // as given to iconv
  TScript script;
  uint8_t candidate;    // kForDos, kForOthers, both or neither (explicit choice only)
  const char* aliases;  // "|"-separated, compared without case and punctuation
};

// Every set, in the order detection prefers them when two fit equally well.
const std::vector<TCharsetInfo>& charsetTable();
// The entry for a name in any accepted spelling, or nullptr.
const TCharsetInfo* findCharset(std::string_view name);

}  // namespace quelt
