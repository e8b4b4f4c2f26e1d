#include "support/Charsets.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace quelt::test {

namespace {
std::string iconvText(const char* to, const char* from, const std::string& text) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, iconv_t(-1)) << from << " to " << to;
  if (cd == iconv_t(-1)) return {};
  std::string out(text.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(text.data());
  char* o = out.data();
  size_t inLeft = text.size(), outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), size_t(-1)) << from << " to " << to;
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}
}  // namespace

std::string bytesIn(const char* charset, const std::string& utf8) {
  return iconvText(charset, "UTF-8", utf8);
}

std::string textIn(const char* charset, const std::string& bytes) {
  return iconvText("UTF-8", charset, bytes);
}

}  // namespace quelt::test
