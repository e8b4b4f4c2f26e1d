// The user's answer to "Files to extract": entry numbers, ranges and patterns.
#pragma once

#include <string>
#include <vector>

namespace quelt::sfx {

struct TSelection {
  std::vector<std::string> patterns;  // for the engine's FilesList; empty selects all
  std::string error;                  // why the answer cannot be used
};

// `answer` holds numbers (1-based), ranges "2-5" and patterns, separated by blanks or commas;
// `names` are the entries' full names in listing order. A number stands for its entry's name,
// written so that no character of it acts as a wildcard.
TSelection ParseSelection(const std::string& answer, const std::vector<std::string>& names);

}  // namespace quelt::sfx
