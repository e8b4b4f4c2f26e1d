#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/HuffTable.h"

namespace quelt {
namespace {

struct ResultCase {
  const char* name;
  std::vector<uint8_t> lengths;
  unsigned wantedBits;
  int result;
  unsigned usedBits;
};

TEST(HuffTable, ClassifiesCodeSets) {
  std::vector<uint8_t> fixedLit(288, 8);
  for (int i = 144; i < 256; ++i) fixedLit[i] = 9;
  for (int i = 256; i < 280; ++i) fixedLit[i] = 7;
  const ResultCase cases[] = {
      {"all zero", {0, 0, 0, 0}, 9, kHuffOk, 0},
      {"single code of length 1", {0, 1, 0}, 9, kHuffOk, 1},
      {"single code of length 2", {0, 2, 0}, 9, kHuffIncomplete, 2},
      {"two codes of length 1", {1, 1}, 9, kHuffOk, 1},
      {"three codes of length 1", {1, 1, 1}, 9, kHuffOversubscribed, 0},
      {"1,2,2", {1, 2, 2}, 9, kHuffOk, 2},
      {"1,2", {1, 2}, 9, kHuffIncomplete, 2},
      {"five codes of length 2", {2, 2, 2, 2, 2}, 9, kHuffOversubscribed, 0},
      {"fixed distance set", std::vector<uint8_t>(30, 5), 5, kHuffIncomplete, 5},
      {"fixed literal set", fixedLit, 7, kHuffOk, 7},
      {"width raised to the shortest", std::vector<uint8_t>(8, 3), 1, kHuffOk, 3},
      {"width lowered to the longest", std::vector<uint8_t>(8, 3), 9, kHuffOk, 3},
      {"width capped", std::vector<uint8_t>(2, 1), 16, kHuffOk, 1},
  };
  for (const auto& c : cases) {
    THuffTable t;
    unsigned m = c.wantedBits;
    unsigned n = unsigned(c.lengths.size());
    int r = BuildTable(c.lengths.data(), n, n, nullptr, nullptr, t, m);
    EXPECT_EQ(r, c.result) << c.name;
    if (r <= kHuffIncomplete) {
      EXPECT_EQ(m, c.usedBits) << c.name;
      EXPECT_EQ(t.rootBits(), c.usedBits) << c.name;
    } else {
      EXPECT_TRUE(t.empty()) << c.name;
    }
  }
}

// Canonical codes as the stream delivers them (first bit lowest), computed the plain way.
std::vector<uint32_t> streamCodes(const std::vector<uint8_t>& lengths) {
  unsigned count[17] = {}, next[18] = {};
  for (auto l : lengths) ++count[l];
  count[0] = 0;
  for (unsigned len = 1, code = 0; len <= 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i) {
    unsigned len = lengths[i];
    if (!len) continue;
    uint32_t c = next[len]++, rev = 0;
    for (unsigned b = 0; b < len; ++b) rev |= ((c >> (len - 1 - b)) & 1) << b;
    codes[i] = rev;
  }
  return codes;
}

// Random complete code: split random leaves of a tree until it has n of them.
std::vector<uint8_t> randomCompleteLengths(unsigned n, unsigned maxLen, std::mt19937& rng) {
  std::vector<uint8_t> depth{0};
  while (depth.size() < n) {
    size_t i = rng() % depth.size();
    if (depth[i] >= maxLen) continue;
    ++depth[i];
    depth.push_back(depth[i]);
  }
  std::shuffle(depth.begin(), depth.end(), rng);
  return depth;
}

// Every code decodes to its own symbol and length whatever bits follow it, and a bit
// pattern matching no code decodes as invalid.
// With `reuse` the table is built over whatever that table held before, with the root width
// exactly m.
void checkDecodes(const std::vector<uint8_t>& lengths, unsigned m, std::mt19937& rng,
                  THuffTable* reuse = nullptr) {
  unsigned n = unsigned(lengths.size());
  THuffTable fresh;
  THuffTable& t = reuse ? *reuse : fresh;
  const unsigned wanted = m;
  int r = BuildTable(lengths.data(), n, n, nullptr, nullptr, t, m, reuse != nullptr);
  ASSERT_LE(r, kHuffIncomplete);
  if (reuse) {
    ASSERT_EQ(m, wanted);
  }
  auto codes = streamCodes(lengths);
  for (unsigned sym = 0; sym < n; ++sym) {
    if (!lengths[sym]) continue;
    uint64_t bits = codes[sym] | (uint64_t(rng()) << lengths[sym]);
    THuffCode c = t.decode(bits);
    ASSERT_TRUE(c.entry & (sym == 256 ? kHuffEnd : kHuffLiteral)) << "symbol " << sym;
    if (sym != 256) {
      ASSERT_EQ(huffValue(c.entry), sym);
    }
    ASSERT_EQ(c.length, lengths[sym]) << "symbol " << sym;
  }
  for (int k = 0; k < 2000; ++k) {
    uint64_t bits = rng() & 0xFFFF;
    bool matches = false;
    for (unsigned sym = 0; sym < n && !matches; ++sym)
      matches = lengths[sym] && (bits & ((1u << lengths[sym]) - 1)) == codes[sym];
    if (!matches) {
      ASSERT_TRUE(t.decode(bits).entry & kHuffInvalid) << "bits " << bits;
    }
  }
}

// A decoder keeps one table per alphabet and rebuilds it for every block at a fixed root
// width: nothing of an earlier code may show through a later one, complete or not.
TEST(HuffTable, ExactRootTablesRebuiltInPlace) {
  std::mt19937 rng(11);
  THuffTable t;
  for (int round = 0; round < 200; ++round) {
    unsigned n = 2 + rng() % 287;
    unsigned maxLen = (1u << 9) < n ? 15 : 9 + rng() % 7;
    auto lengths = randomCompleteLengths(n, maxLen, rng);
    if (round % 3 == 1) lengths[rng() % n] = 0;  // incomplete
    unsigned m = round % 2 ? 10 : 8;
    SCOPED_TRACE(testing::Message() << "round " << round << " n " << n << " m " << m);
    checkDecodes(lengths, m, rng, &t);
  }
}

TEST(HuffTable, DecodesRandomCompleteAndIncompleteCodes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    unsigned n = 2 + rng() % 287;
    unsigned maxLen = 2 + rng() % 15;  // up to 16
    if ((1u << maxLen) < n) maxLen = 16;
    auto lengths = randomCompleteLengths(n, maxLen, rng);
    // Unused symbols; every other round a few codes dropped too (an incomplete set).
    lengths.insert(lengths.begin() + rng() % n, 0);
    if (round % 2)
      for (int z = 1 + rng() % 3; z > 0; --z) lengths[rng() % n] = 0;
    unsigned m = 1 + rng() % 12;
    SCOPED_TRACE(testing::Message() << "round " << round << " n " << n << " m " << m);
    checkDecodes(lengths, m, rng);
  }
}

TEST(HuffTable, GivesBasesExtrasEndAndInvalidSymbols) {
  // Symbols 0..255 literals, 256 end, 257..259 bases with 0, 3 and invalid extra bits.
  std::vector<uint8_t> lengths(260, 9);
  lengths[0] = 0;
  lengths[1] = 2;  // a short code keeps the root narrower than the 9-bit codes
  const uint16_t bases[] = {3, 11, 0};
  const uint8_t extras[] = {0, 3, kHuffInvalidExtra};
  THuffTable t;
  unsigned m = 7;
  ASSERT_EQ(BuildTable(lengths.data(), 260, 257, bases, extras, t, m), kHuffIncomplete);
  auto codes = streamCodes(lengths);
  auto at = [&](unsigned sym) { return t.decode(codes[sym]).entry; };
  ASSERT_EQ(m, 7u);
  EXPECT_EQ(at(65), kHuffLiteral | (65u << 16) | (2u << 8) | 2u);  // 2 bits past the root
  EXPECT_TRUE(at(256) & kHuffEnd);
  EXPECT_EQ(at(257) & kHuffExceptional, 0u);
  EXPECT_EQ(huffValue(at(257)), 3u);
  EXPECT_EQ(huffExtraBits(at(257)), 0u);
  EXPECT_EQ(huffValue(at(258)), 11u);
  EXPECT_EQ(huffExtraBits(at(258)), 3u);
  EXPECT_EQ(huffBits(at(258)), huffCodeBits(at(258)) + 3);
  EXPECT_TRUE(at(259) & kHuffInvalid);
}

TEST(HuffTable, EmptyAndFailedTablesDecodeNothing) {
  THuffTable t;
  unsigned m = 9;
  const uint8_t zeros[5] = {};
  ASSERT_EQ(BuildTable(zeros, 5, 5, nullptr, nullptr, t, m), kHuffOk);
  EXPECT_TRUE(t.empty());
  EXPECT_TRUE(t.decode(0).entry & kHuffInvalid);
  // A failed build leaves no table behind, even after a good one.
  const uint8_t good[2] = {1, 1}, bad[3] = {1, 1, 1};
  m = 9;
  ASSERT_EQ(BuildTable(good, 2, 2, nullptr, nullptr, t, m), kHuffOk);
  ASSERT_EQ(BuildTable(bad, 3, 3, nullptr, nullptr, t, m), kHuffOversubscribed);
  EXPECT_TRUE(t.empty());
  EXPECT_TRUE(t.decode(1).entry & kHuffInvalid);
}

TEST(HuffTable, RejectsArgumentsOutOfRange) {
  THuffTable t;
  unsigned m = 9;
  const uint8_t tooLong[2] = {17, 1};
  EXPECT_THROW((void)BuildTable(tooLong, 2, 2, nullptr, nullptr, t, m), std::invalid_argument);
  std::vector<uint8_t> many(kHuffMaxSymbols + 1, 9);
  unsigned n = unsigned(many.size());
  EXPECT_THROW((void)BuildTable(many.data(), n, n, nullptr, nullptr, t, m), std::invalid_argument);
}

}  // namespace
}  // namespace quelt
