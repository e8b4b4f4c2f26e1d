// URIs carry arbitrary bytes percent-encoded ("%20" for a blank).
#pragma once

#include <string>
#include <string_view>

namespace quelt {

// Encodes every byte but the unreserved characters (letters, digits, "-._~") and those in
// `alsoKept`, as "%" and two upper-case hex digits.
std::string PercentEncode(std::string_view text, std::string_view alsoKept = "");

}  // namespace quelt
