#include <gtest/gtest.h>

#include <cstring>

#include <string>

#include "engine/LegacyBits.h"
#include "engine/Unshrink.h"
#include "support/LsbBitWriter.h"

namespace quelt {
namespace {

struct TCode {
  uint32_t value;
  unsigned bits;
};

struct TDecoded {
  int result;
  std::string text;
};

TDecoded unshrink(std::initializer_list<TCode> codes, uint32_t declaredSize = 100000) {
  test::TLsbBitWriter w;
  for (auto c : codes) w.put(c.value, c.bits);
  TMemoryDecodeIO io(w.bytes().data(), w.bytes().size());
  // Leftovers of an earlier entry must not show through.
  std::memset(io.WorkArea(), 0xEE, TDecodeIO::kWorkAreaSize);
  io.UncompressedSize = declaredSize;
  int r = Unshrink(io);
  EXPECT_GE(io.flushes, 1);
  return {r, std::string(io.out.begin(), io.out.end())};
}

constexpr unsigned k9 = 9;

TEST(Unshrink, DecodesHandBuiltStreams) {
  struct TCase {
    const char* what;
    std::vector<TCode> codes;
    std::string want;
  } cases[] = {
      {"empty entry", {}, ""},
      {"fewer bits than one code", {{'a', 7}}, ""},
      {"literals and a defined code", {{'a', k9}, {'b', k9}, {257, k9}}, "abab"},
      // A code the decoder has not defined yet is the previous string plus its first byte.
      {"code defined by its own use", {{'a', k9}, {257, k9}, {258, k9}}, "aaaaaa"},
      {"256 then 1 widens the codes",
       {{'a', k9}, {256, k9}, {1, k9}, {'b', 10}, {257, 10}, {258, 10}},
       "ababba"},
      {"256 then another value is ignored",
       {{'a', k9}, {256, k9}, {5, k9}, {'b', k9}, {257, k9}},
       "abab"},
      // 257="ab" stays as the prefix of 259="abc"; 258="ba" and 259 are freed and reused
      // from the lowest: 258="cd", 259="dc".
      {"256 then 2 frees the leaves",
       {{'a', k9},
        {'b', k9},
        {257, k9},
        {'c', k9},
        {256, k9},
        {2, k9},
        {'d', k9},
        {258, k9},
        {259, k9},
        {257, k9}},
       "ababcdcddcab"},
  };
  for (auto& c : cases) {
    test::TLsbBitWriter w;
    for (auto code : c.codes) w.put(code.value, code.bits);
    TMemoryDecodeIO io(w.bytes().data(), w.bytes().size());
    io.UncompressedSize = 100000;
    EXPECT_EQ(Unshrink(io), kLegacyOk) << c.what;
    EXPECT_EQ(std::string(io.out.begin(), io.out.end()), c.want) << c.what;
  }
}

TEST(Unshrink, WidensUpToThirteenBitsOnly) {
  auto widen = [](int times) {
    test::TLsbBitWriter w;
    w.put('a', 9);
    unsigned size = 9;
    for (int i = 0; i < times; ++i) {
      w.put(256, size).put(1, size);
      ++size;
    }
    w.put('b', size).put(257, size);
    TMemoryDecodeIO io(w.bytes().data(), w.bytes().size());
    io.UncompressedSize = 100;
    int r = Unshrink(io);
    return TDecoded{r, std::string(io.out.begin(), io.out.end())};
  };
  EXPECT_EQ(widen(4).result, kLegacyOk);
  EXPECT_EQ(widen(4).text, "abab");
  // A fifth widening would make codes the tables cannot hold.
  EXPECT_EQ(widen(5).result, kLegacyDamaged);
  EXPECT_EQ(widen(5).text, "a");
}

TEST(Unshrink, StopsOnDamagedStreams) {
  // Only a literal can come first.
  auto first = unshrink({{300, k9}, {'a', k9}});
  EXPECT_EQ(first.result, kLegacyDamaged);
  EXPECT_EQ(first.text, "");

  // 300 and 301 are never defined, so the chain of 301 runs through 300 for ever.
  auto cycle = unshrink({{'a', k9}, {300, k9}, {301, k9}, {'b', k9}});
  EXPECT_EQ(cycle.result, kLegacyDamaged);
  EXPECT_EQ(cycle.text, "aaa");

  // Output that would pass the declared size is cut there.
  auto longer = unshrink({{'a', k9}, {257, k9}, {258, k9}, {'b', k9}}, 4);
  EXPECT_EQ(longer.result, kLegacyDamaged);
  EXPECT_EQ(longer.text, "aaaa");
  auto exact = unshrink({{'a', k9}, {257, k9}, {258, k9}}, 6);
  EXPECT_EQ(exact.result, kLegacyOk);
  EXPECT_EQ(exact.text, "aaaaaa");
}

// After the table fills, codes stay at their value and new strings stop being added; the
// longest strings still fit the decode stack.
TEST(Unshrink, FillsTheWholeCodeTable) {
  test::TLsbBitWriter w;
  w.put('a', 9);
  unsigned size = 9;
  std::string want = "a";
  // Each code is the one just defined: strings "aa", "aaa", ... up to the table's end.
  std::string run = "a";
  for (uint32_t code = 257; code < 8192 + 5; ++code) {
    while (code >= (1u << size) && size < 13) {
      w.put(256, size).put(1, size);
      ++size;
    }
    uint32_t use = code < 8192 ? code : 8191;
    w.put(use, size);
    if (code < 8192) run += 'a';
    want += run;
  }
  TMemoryDecodeIO io(w.bytes().data(), w.bytes().size());
  io.UncompressedSize = uint32_t(want.size());
  EXPECT_EQ(Unshrink(io), kLegacyOk);
  EXPECT_EQ(io.out.size(), want.size());
  EXPECT_TRUE(std::string(io.out.begin(), io.out.end()) == want);
}

}  // namespace
}  // namespace quelt
