#include <gtest/gtest.h>

#include "engine/WildMatch.h"

using quelt::MatchesPattern;
using quelt::WildcardMatch;

TEST(WildcardMatch, FollowsTheMaskRules) {
  struct Case {
    const char* mask;
    const char* name;
    bool fits;
  } cases[] = {
      {"*.txt", "a.txt", true},
      {"*.txt", "Readme.TXT", true},
      {"*.TXT", "readme.txt", true},
      {"*.txt", "a.txt.bak", false},
      {"a*", "a", true},
      {"a**", "a", false},
      {"*?", "ab", true},
      {"*?", "a", false},
      {"*?", "abc", false},
      {"?", "", false},
      {"", "", true},
      {"", "a", false},
      {"[a-c]*", "b1", true},
      {"[!a-c]*", "b1", false},
      {"[^a-c]*", "d1", true},
      {"[abc].txt", "c.txt", true},
      {"[abc].txt", "d.txt", false},
      {"docs\\*.txt", "docs\\a.txt", true},
      {"docs\\*.txt", "a.txt", false},
      {"*b", "abab", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      // Only A to Z fold; other letters must match byte for byte.
      {"\xc3\x89*", "\xc3\xa9t\xc3\xa9", false},
      {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
      // Malformed masks fit nothing and never read past their end.
      {"[]x", "]x", false},
      {"[a", "a", false},
      {"x[a-", "xa", false},
      {"[a-]", "a", false},
      {"[!", "a", false},
      {"*[", "a", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WildcardMatch(c.mask, c.name), c.fits) << c.mask << " vs " << c.name;
}

TEST(WildcardMatch, CaseCanCountAndLiteralNamesAlwaysCompareExactly) {
  struct Case {
    const char* pattern;
    const char* name;
    bool ignoreCase;
    bool fits;
  } cases[] = {
      {"*.TXT", "readme.txt", false, false},
      {"*.txt", "readme.txt", false, true},
      {"[A-C]*", "b1", false, false},
      {"[A-C]*", "B1", false, true},
      {"X*", "x.txt", true, true},
      // A name without wildcards is one file, whatever the switch says.
      {"x.txt", "X.txt", true, false},
      {"X.txt", "X.txt", true, true},
      {"docs\\A.txt", "docs\\a.txt", true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesPattern(c.pattern, c.name, c.ignoreCase), c.fits)
        << c.pattern << " vs " << c.name << (c.ignoreCase ? " ignoring case" : "");
}
