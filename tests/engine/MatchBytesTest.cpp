#include "engine/MatchBytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace quelt::matchbytes {
namespace {

using TCommon = int (*)(const uint8_t*, const uint8_t*);
using TSame = bool (*)(const uint8_t*, const uint8_t*, int);

struct TVariant {
  const char* name;
  TCommon common;
  TSame same;
};

std::vector<TVariant> variants() {
  std::vector<TVariant> v{{"words", commonLengthWords, sameBytesWords}};
#if defined(__SSE2__)
  v.push_back({"wide", commonLengthWide, sameBytesWide});
#endif
  return v;
}

// Two copies of the same bytes with one byte changed at `at`: every length must see the
// change exactly when it lies inside, and the common length must stop there. The bytes past
// the compared length are read (the padding) but must never count.
TEST(MatchBytes, FindTheFirstDifferenceAndIgnoreTheBytesPastTheLength) {
  constexpr int kSize = kMaxMatch + 40;
  std::vector<uint8_t> a(kSize);
  for (int i = 0; i < kSize; ++i) a[size_t(i)] = uint8_t(i * 7 + 1);
  for (const TVariant& v : variants()) {
    SCOPED_TRACE(v.name);
    std::vector<uint8_t> b = a;
    EXPECT_EQ(v.common(a.data(), b.data()), kMaxMatch);
    for (int at = 0; at < kMaxMatch + 16; ++at) {
      b[size_t(at)] ^= 0x40;
      EXPECT_EQ(v.common(a.data(), b.data()), std::min(at, kMaxMatch)) << "at " << at;
      for (int length = 1; length <= kMaxMatch; ++length)
        ASSERT_EQ(v.same(a.data(), b.data(), length), at >= length)
            << "at " << at << ", length " << length;
      b[size_t(at)] ^= 0x40;
    }
  }
}

}  // namespace
}  // namespace quelt::matchbytes
