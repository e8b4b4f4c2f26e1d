// Text in legacy character sets for tests, made by iconv from UTF-8 and back.
#pragma once

#include <string>

namespace quelt::test {

// The bytes a creator working in `charset` stores for a name (fails the test on error).
std::string bytesIn(const char* charset, const std::string& utf8);
// What iconv reads `bytes` in `charset` as, in UTF-8.
std::string textIn(const char* charset, const std::string& bytes);

}  // namespace quelt::test
