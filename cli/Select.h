// Choosing entries by the patterns of the command line, as the engine chooses them when
// extracting: a pattern with a folder separator is matched against folder and name, any
// other against the name alone.
#pragma once

#include <string>
#include <vector>

#include "engine/UnZipEngine.h"

namespace quelt::cli {

struct Selection {
  std::vector<int> indices;            // entries chosen, in catalogue order
  std::vector<std::string> unmatched;  // patterns that matched no entry, as given
};

// Entries matching any of `patterns` (every entry when there are none) and none of
// `excludes`. Patterns arrive as patternFromArg made them.
Selection selectEntries(const TUnZipEngine& engine, const std::vector<std::string>& patterns,
                        const std::vector<std::string>& excludes, bool ignoreCase);
bool matchesEntry(const std::string& pattern, const TZipHeaderInfo& entry, bool ignoreCase);

// Reports each unmatched pattern on standard error; true when there was one.
bool reportUnmatched(const std::vector<std::string>& unmatched);

}  // namespace quelt::cli
