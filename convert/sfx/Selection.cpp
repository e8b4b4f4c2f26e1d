#include "convert/sfx/Selection.h"

#include <cstdlib>

#include "engine/ZipLib.h"

namespace quelt::sfx {

namespace {

std::string literal(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '*' || c == '?' || c == '[') {
      out += '[';
      out += c;
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

// A whole-number token's value; -1 when it is not one.
long number(const std::string& token) {
  if (token.empty() || token.size() > 9 ||
      token.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::strtol(token.c_str(), nullptr, 10);
}

}  // namespace

TSelection ParseSelection(const std::string& answer, const std::vector<std::string>& names) {
  TSelection s;
  std::string token;
  const long count = long(names.size());
  auto take = [&] {
    if (token.empty()) return;
    size_t dash = token.find('-', 1);
    long from = number(token), to = from;
    if (from < 0 && dash != std::string::npos) {
      from = number(token.substr(0, dash));
      to = number(token.substr(dash + 1));
    }
    if (from < 0 || to < 0) {
      s.patterns.push_back(Backslashed(token));
    } else if (from < 1 || to > count || from > to) {
      s.error = "No entry " + token + ": the entries are numbered 1 to " + std::to_string(count);
    } else {
      for (long i = from; i <= to; ++i) s.patterns.push_back(literal(names[size_t(i - 1)]));
    }
    token.clear();
  };
  for (char c : answer) {
    if (c == ' ' || c == ',' || c == '\t')
      take();
    else
      token += c;
  }
  take();
  return s;
}

}  // namespace quelt::sfx
