// Putting a finished file in place of its target by a rename, so the target is either the old
// file or the new one, never half of each.
#pragma once

#include <string>

namespace quelt {

// Renames `built` over `target`. With `replace` false an existing target is kept: false with
// errno EEXIST, even when the target appears between a check and the rename. Any other failure
// returns false with errno set.
[[nodiscard]] bool PlaceFile(const std::string& built, const std::string& target, bool replace);

}  // namespace quelt
