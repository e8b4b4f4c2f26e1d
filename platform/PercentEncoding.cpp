#include "platform/PercentEncoding.h"

namespace quelt {

std::string PercentEncode(std::string_view text, std::string_view alsoKept) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '.' || c == '_' || c == '~' ||
                (c != 0 && alsoKept.find(char(c)) != std::string_view::npos);
    if (kept) {
      out.push_back(char(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

}  // namespace quelt
