// Masks with "*", "?" and bracketed sets ("[a-c]", "[!x]"), A to Z compared without case.
#pragma once

#include <string_view>

namespace quelt {

// True when `name` fits `mask`. A malformed mask ("[]x", "[a", "x[a-") fits no name.
bool WildcardMatch(std::string_view mask, std::string_view name);

}  // namespace quelt
