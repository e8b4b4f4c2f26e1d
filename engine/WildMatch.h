// Masks with "*", "?" and bracketed sets ("[a-c]", "[!x]"), A to Z compared without case or,
// as Linux tools do, every byte exactly.
#pragma once

#include <string_view>

namespace quelt {

// True when `name` fits `mask`. A malformed mask ("[]x", "[a", "x[a-") fits no name.
bool WildcardMatch(std::string_view mask, std::string_view name, bool ignoreCase = true);
// A name given by the user against a stored one: a literal name (no wildcard characters) is
// the same name only byte for byte; a wildcard follows WildcardMatch.
bool MatchesPattern(std::string_view pattern, std::string_view name, bool ignoreCase);

}  // namespace quelt
