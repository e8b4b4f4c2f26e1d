#include "engine/WildMatch.h"

#include <string>

#include "engine/ZipLib.h"

namespace quelt {

namespace {

enum class Result { None, Valid, End, Abort, Range, Literal, Pattern };

std::string lowerAZ(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return r;
}

Result matchAt(std::string_view p, std::string_view t);

// The set starting at p[i] == '[' against t[j]; leaves i on the closing ']'.
// Every read of p is bounds-checked: a set cut off by the end of the mask is malformed.
Result setTest(std::string_view p, size_t& i, char tc) {
  const size_t n = p.size();
  bool negated = false;
  ++i;
  if (i < n && (p[i] == '!' || p[i] == '^')) {
    negated = true;
    ++i;
  }
  if (i >= n || p[i] == ']') return Result::Pattern;
  bool found = false;
  while (!found && p[i] != ']') {
    size_t low = i, high = i;
    ++i;
    if (i >= n) return Result::Pattern;
    if (p[i] == '-') {
      ++i;
      high = i;
      if (i >= n || p[high] == ']') return Result::Pattern;
      ++i;
    }
    if (i >= n) return Result::Pattern;
    auto c = uint8_t(tc);
    if (uint8_t(p[low]) <= c && c <= uint8_t(p[high])) found = true;
  }
  if (negated == found) return Result::Range;
  if (found)
    while (i < n && p[i] != ']') ++i;
  if (i >= n) return Result::Pattern;
  return Result::None;
}

// p starts with '*'.
Result starMatch(std::string_view p, std::string_view t) {
  size_t i = 0, j = 0;
  const size_t np = p.size(), nt = t.size();
  // Runs of '*' and '?' are taken first; a '?' in the mask's last place is left alone.
  while ((j < nt && i + 1 < np && p[i] == '?') || (i < np && p[i] == '*')) {
    if (p[i] == '?') ++j;
    ++i;
  }
  if (j >= nt) return Result::Abort;
  if (i >= np) return Result::Valid;
  Result result = Result::None;
  const char c = p[i];
  for (; j < nt && result != Result::Valid; ++j) {
    if (c == t[j] || c == '[') result = matchAt(p.substr(i), t.substr(j));
  }
  return result;
}

Result matchAt(std::string_view p, std::string_view t) {
  size_t i = 0, j = 0;
  Result result = Result::None;
  while (result == Result::None && i < p.size()) {
    if (j >= t.size()) {
      result = (p[i] == '*' && i + 1 == p.size()) ? Result::Valid : Result::Abort;
      break;
    }
    switch (p[i]) {
      case '*':
        result = starMatch(p.substr(i), t.substr(j));
        break;
      case '[':
        result = setTest(p, i, t[j]);
        break;
      case '?':
        break;
      default:
        if (p[i] != t[j]) result = Result::Literal;
    }
    ++i;
    ++j;
  }
  if (result == Result::None) result = j >= t.size() ? Result::Valid : Result::End;
  return result;
}

}  // namespace

bool WildcardMatch(std::string_view mask, std::string_view name, bool ignoreCase) {
  if (!ignoreCase) return matchAt(mask, name) == Result::Valid;
  std::string p = lowerAZ(mask), t = lowerAZ(name);
  return matchAt(p, t) == Result::Valid;
}

bool MatchesPattern(std::string_view pattern, std::string_view name, bool ignoreCase) {
  if (!HasWildcards(std::string(pattern))) return pattern == name;
  return WildcardMatch(pattern, name, ignoreCase);
}

}  // namespace quelt
