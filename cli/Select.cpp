#include "cli/Select.h"

#include "cli/Cli.h"
#include "engine/WildMatch.h"
#include "engine/ZipLib.h"

namespace quelt::cli {

bool matchesEntry(const std::string& pattern, const TZipHeaderInfo& entry, bool ignoreCase) {
  const bool withFolder = pattern.find('\\') != std::string::npos;
  // A folder entry ends in a separator; "dir/" and "dir" both name it.
  std::string full = entry.FullName();
  if (MatchesPattern(pattern, withFolder ? full : entry.Filename(), ignoreCase)) return true;
  if (entry.IsFolder() && !full.empty() && full.back() == '\\') {
    full.pop_back();
    return MatchesPattern(pattern, full, ignoreCase);
  }
  return false;
}

Selection selectEntries(const TUnZipEngine& engine, const std::vector<std::string>& patterns,
                        const std::vector<std::string>& excludes, bool ignoreCase) {
  Selection s;
  std::vector<bool> used(patterns.size(), false);
  for (int i = 0; i < engine.Count(); ++i) {
    const TZipHeaderInfo& entry = engine.Entry(i);
    bool chosen = patterns.empty();
    for (size_t p = 0; p < patterns.size(); ++p)
      if (matchesEntry(patterns[p], entry, ignoreCase)) chosen = used[p] = true;
    if (!chosen) continue;
    bool excluded = false;
    for (const std::string& x : excludes) excluded = excluded || matchesEntry(x, entry, ignoreCase);
    if (!excluded) s.indices.push_back(i);
  }
  for (size_t p = 0; p < patterns.size(); ++p)
    if (!used[p]) s.unmatched.push_back(Slashed(patterns[p]));
  return s;
}

bool reportUnmatched(const std::vector<std::string>& unmatched) {
  for (const std::string& pattern : unmatched) error("no entry matches " + pattern);
  return !unmatched.empty();
}

}  // namespace quelt::cli
