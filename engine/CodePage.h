// Stored names and comments: the DOS code page 437 or UTF-8 on disk, UTF-8 in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quelt {

bool isValidUtf8(std::string_view s);
std::string cp437ToUtf8(std::string_view raw);
// The CP437 bytes of a UTF-8 text, or nothing when a character has no CP437 form.
std::optional<std::string> utf8ToCp437(std::string_view utf8);

// Host systems of "version made by" whose names are in the DOS code page.
bool madeOnDosFileSystem(uint16_t versionMadeBy);

// Decodes stored name (or comment) bytes: UTF-8 when flag bit 11 says so; CP437 when the
// entry was made on a DOS-like file system; otherwise UTF-8 when the bytes are valid
// UTF-8, else CP437. Entries found without a central header pass knownMadeBy = false.
std::string decodeStoredText(std::string_view raw, uint16_t flags, uint16_t versionMadeBy,
                             bool knownMadeBy);

// Encodes a UTF-8 name for writing: CP437 when it can hold the text (utf8Flag false),
// else the UTF-8 bytes themselves (utf8Flag true).
std::string encodeStoredText(std::string_view utf8, bool& utf8Flag);

}  // namespace quelt
