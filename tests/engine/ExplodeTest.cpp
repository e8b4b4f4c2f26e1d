#include <gtest/gtest.h>

#include <cstring>

#include <algorithm>

#include "engine/Explode.h"
#include "engine/LegacyBits.h"
#include "support/LsbBitWriter.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

// Canonical codes of a set of bit lengths, shortest first and by symbol within a length.
std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size());
  uint32_t code = 0;
  for (unsigned len = 1; len <= 16; ++len) {
    for (size_t v = 0; v < lengths.size(); ++v)
      if (lengths[v] == len) codes[v] = code++;
    code <<= 1;
  }
  return codes;
}

// Writes imploded streams by hand: trees as runs of lengths, then codes most significant
// bit first with every bit inverted, as the format stores them.
class TImplodeWriter {
 public:
  TImplodeWriter(uint16_t flags, std::vector<uint8_t> literal, std::vector<uint8_t> length,
                 std::vector<uint8_t> distance)
      : flags_(flags),
        lit_(std::move(literal)),
        len_(std::move(length)),
        dist_(std::move(distance)) {
    if (flags & kFlagImplodeLiterals) putTree(lit_);
    putTree(len_);
    putTree(dist_);
  }

  TImplodeWriter& literal(uint8_t c) {
    w_.put(1, 1);
    if (flags_ & kFlagImplodeLiterals)
      putCode(lit_, c);
    else
      w_.put(c, 8);
    out_.push_back(c);
    return *this;
  }

  TImplodeWriter& match(uint32_t length, uint32_t distance) {
    unsigned lowBits = (flags_ & kFlagImplode8K) ? 7 : 6;
    uint32_t minLength = (flags_ & kFlagImplodeLiterals) ? 3 : 2;
    w_.put(0, 1).put((distance - 1) & ((1u << lowBits) - 1), lowBits);
    putCode(dist_, (distance - 1) >> lowBits);
    uint32_t l = length - minLength;
    putCode(len_, std::min(l, 63u));
    if (l >= 63) w_.put(l - 63, 8);
    for (uint32_t i = 0; i < length; ++i)
      out_.push_back(distance <= out_.size() ? out_[out_.size() - distance] : 0);
    return *this;
  }

  const std::vector<uint8_t>& bytes() const { return w_.bytes(); }
  const std::vector<uint8_t>& expected() const { return out_; }

 private:
  void putTree(const std::vector<uint8_t>& lengths) {
    std::vector<uint8_t> runs;
    for (size_t i = 0; i < lengths.size();) {
      size_t j = i;
      while (j < lengths.size() && j - i < 16 && lengths[j] == lengths[i]) ++j;
      runs.push_back(uint8_t((j - i - 1) << 4 | (lengths[i] - 1)));
      i = j;
    }
    w_.byte(uint8_t(runs.size() - 1));
    for (uint8_t r : runs) w_.byte(r);
  }
  void putCode(const std::vector<uint8_t>& lengths, uint32_t symbol) {
    uint32_t code = canonicalCodes(lengths)[symbol];
    for (int i = lengths[symbol] - 1; i >= 0; --i) w_.put(~(code >> i) & 1, 1);
  }

  uint16_t flags_;
  std::vector<uint8_t> lit_, len_, dist_;
  test::TLsbBitWriter w_;
  std::vector<uint8_t> out_;
};

struct TDecoded {
  int result;
  std::vector<uint8_t> out;
};

TDecoded explode(const std::vector<uint8_t>& data, uint16_t flags, uint32_t size,
                 uint32_t compressedSize = 0) {
  TMemoryDecodeIO io(data.data(), data.size());
  // Leftovers of an earlier entry must not show through.
  std::memset(io.WorkArea(), 0xEE, TDecodeIO::kWorkAreaSize);
  io.UncompressedSize = size;
  io.CompressedSize = compressedSize ? compressedSize : uint32_t(data.size());
  io.BitFlag = flags;
  int r = Explode(io);
  EXPECT_EQ(io.flushes, 1);
  return {r, io.out};
}

std::vector<uint8_t> flat(size_t n, uint8_t length) {
  return std::vector<uint8_t>(n, length);
}

// Uneven lengths, up to 16 bits: 1..10 once each, ten of 15 and 44 of 16.
std::vector<uint8_t> skewed64() {
  std::vector<uint8_t> l;
  for (uint8_t i = 1; i <= 10; ++i) l.push_back(i);
  l.insert(l.end(), 10, 15);
  l.insert(l.end(), 44, 16);
  return l;
}

// Literal lengths of 7, 8 and 9 bits: 64 x 2^-7 + 64 x 2^-8 + 128 x 2^-9 = 1.
std::vector<uint8_t> mixed256() {
  std::vector<uint8_t> l(256, 9);
  std::fill(l.begin(), l.begin() + 128, 8);
  std::fill(l.begin(), l.begin() + 64, 7);
  return l;
}

// Each variant: its number of trees, its shortest and longest match and its farthest
// distance. Reading a tree too many or the wrong base shifts every following bit.
TEST(Explode, DecodesEveryVariant) {
  for (uint16_t flags : {0, 2, 4, 6}) {
    SCOPED_TRACE(flags);
    uint32_t minLength = (flags & kFlagImplodeLiterals) ? 3 : 2;
    uint32_t farthest = (flags & kFlagImplode8K) ? 8192 : 4096;
    TImplodeWriter w(flags, mixed256(), skewed64(), flat(64, 6));
    auto text = test::textBytes(farthest + 100, 5);
    for (uint8_t c : text) w.literal(c);
    w.match(minLength, 1).match(minLength + 62, 3).match(minLength + 63, 40);
    w.match(minLength + 63 + 255, farthest).match(minLength + 100, farthest - 1);
    w.literal('!').match(minLength + 1, 2);
    auto got = explode(w.bytes(), flags, uint32_t(w.expected().size()));
    EXPECT_EQ(got.result, kLegacyOk);
    EXPECT_TRUE(got.out == w.expected());
  }
}

TEST(Explode, MatchesBeforeTheFirstByteGiveZeros) {
  TImplodeWriter w(0, {}, flat(64, 6), flat(64, 6));
  w.literal('x').match(4, 10).match(3, 100);
  auto got = explode(w.bytes(), 0, 8);
  EXPECT_EQ(got.result, kLegacyOk);
  EXPECT_EQ(got.out, (std::vector<uint8_t>{'x', 0, 0, 0, 0, 0, 0, 0}));
}

// Entries above 200000 compressed bytes look distances up 8 bits at a time, others 7; the
// decoded bytes must not depend on it, also for codes that need a second lookup.
TEST(Explode, DistanceLookupWidthFollowsTheCompressedSize) {
  TImplodeWriter w(kFlagImplode8K, {}, flat(64, 6), skewed64());
  for (uint8_t c : test::textBytes(8192, 9)) w.literal(c);
  for (uint32_t code : {0u, 5u, 9u, 10u, 15u, 19u, 20u, 40u, 63u})
    w.match(5 + code % 7, code * 128 + 1 + code);
  for (uint32_t compressedSize : {200000u, 200001u}) {
    auto got = explode(w.bytes(), kFlagImplode8K, uint32_t(w.expected().size()), compressedSize);
    EXPECT_EQ(got.result, kLegacyOk) << compressedSize;
    EXPECT_TRUE(got.out == w.expected()) << compressedSize;
  }
}

TEST(Explode, RefusesBadTreesWithoutOutput) {
  auto tree = [](std::initializer_list<uint8_t> runs) {
    std::vector<uint8_t> t{uint8_t(runs.size() - 1)};
    t.insert(t.end(), runs);
    return t;
  };
  // Four runs of 16 codes of 6 bits: a complete distance tree.
  auto good = tree({0xF5, 0xF5, 0xF5, 0xF5});
  struct {
    const char* what;
    std::vector<uint8_t> lengthTree;
    int result;
  } cases[] = {
      {"more codes than the tree has", tree({0xF5, 0xF5, 0xF5, 0xF5, 0x05}), kLegacyDamaged},
      {"fewer codes than the tree has", tree({0xF5, 0xF5, 0xF5, 0xE5}), kLegacyDamaged},
      {"over-subscribed", tree({0xF4, 0xF4, 0xF4, 0xF4}), kLegacyDamaged},
      {"incomplete", tree({0xF6, 0xF6, 0xF6, 0xF6}), kLegacyDamaged},
      {"cut inside the tree", {3, 0xF5, 0xF5}, kLegacyTruncated},
  };
  for (auto& c : cases) {
    auto data = c.lengthTree;
    if (c.result != kLegacyTruncated) {
      data.insert(data.end(), good.begin(), good.end());
      data.insert(data.end(), 64, 0xAA);
    }
    auto got = explode(data, 0, 100);
    EXPECT_EQ(got.result, c.result) << c.what;
    EXPECT_TRUE(got.out.empty()) << c.what;
  }
}

TEST(Explode, StopsWhereTheDataOrTheDeclaredSizeEnds) {
  TImplodeWriter w(kFlagImplodeLiterals, flat(256, 8), flat(64, 6), flat(64, 6));
  for (uint8_t c : test::textBytes(300, 2)) w.literal(c);
  w.match(200, 100);
  const auto& full = w.bytes();
  // Cut anywhere after the trees: no filler, and what came out is right.
  for (size_t keep = 257 + 3 * 2; keep < full.size(); keep += 7) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + keep);
    auto got = explode(cut, kFlagImplodeLiterals, uint32_t(w.expected().size()));
    EXPECT_EQ(got.result, kLegacyTruncated) << keep;
    EXPECT_LT(got.out.size(), w.expected().size()) << keep;
    EXPECT_TRUE(std::equal(got.out.begin(), got.out.end(), w.expected().begin())) << keep;
  }
  // A match reaching past the declared size is not written out beyond it.
  auto got = explode(full, kFlagImplodeLiterals, 400);
  EXPECT_EQ(got.result, kLegacyDamaged);
  EXPECT_LE(got.out.size(), 400u);
}

}  // namespace
}  // namespace quelt
