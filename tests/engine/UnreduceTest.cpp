#include <gtest/gtest.h>

#include <cstring>

#include <string>

#include "engine/LegacyBits.h"
#include "engine/Unreduce.h"
#include "support/LsbBitWriter.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

constexpr uint8_t kDle = 144;

// A reduced stream with every follower set empty, so each byte is 8 raw bits.
test::TLsbBitWriter plainStream() {
  test::TLsbBitWriter w;
  for (int x = 0; x < 256; ++x) w.put(0, 6);
  return w;
}

// Writes a match token for factor f: length n (3..), distance d (1..). Length 3 with a
// distance below 257 has no code: its first byte would be 0, the escape.
void putMatch(test::TLsbBitWriter& w, int f, uint32_t n, uint32_t d) {
  uint32_t lengthMask = 0x7Fu >> (f - 1);
  uint32_t len = n - 3;
  uint32_t high = (d - 1) >> 8;
  uint32_t v = (high << (8 - f)) | std::min(len, lengthMask);
  w.put(kDle, 8).put(v, 8);
  if (len >= lengthMask) w.put(len - lengthMask, 8);
  w.put((d - 1) & 0xFF, 8);
}

void putLiteral(test::TLsbBitWriter& w, uint8_t c) {
  w.put(c, 8);
  if (c == kDle) w.put(0, 8);
}

struct TDecoded {
  int result;
  std::vector<uint8_t> out;
};

TDecoded unreduce(const test::TLsbBitWriter& w, int factor, uint32_t size) {
  TMemoryDecodeIO io(w.bytes().data(), w.bytes().size());
  // Leftovers of an earlier entry must not show through.
  std::memset(io.WorkArea(), 0xEE, TDecodeIO::kWorkAreaSize);
  io.UncompressedSize = size;
  int r = Unreduce(io, factor);
  return {r, io.out};
}

// Repeats n bytes from d back, as any LZ77 decoder must.
void appendMatch(std::vector<uint8_t>& out, uint32_t n, uint32_t d) {
  for (uint32_t i = 0; i < n; ++i) out.push_back(out[out.size() - d]);
}

// The largest length and distance each factor can code, and a short one: wrong masks or
// shifts pick other bytes.
TEST(Unreduce, DecodesMatchesOfEveryFactor) {
  auto text = test::textBytes(5000, 7);
  for (int f = 1; f <= 4; ++f) {
    uint32_t maxLength = (0x7Fu >> (f - 1)) + 255 + 3;
    uint32_t maxDistance = ((1u << f) - 1) * 256 + 256;
    struct {
      uint32_t n, d;
    } matches[] = {{maxLength, maxDistance}, {4, 1}, {(0x7Fu >> (f - 1)) + 2, 77}, {3, 300}};
    auto w = plainStream();
    std::vector<uint8_t> want;
    for (uint8_t c : text) {
      putLiteral(w, c);
      want.push_back(c);
    }
    for (auto m : matches) {
      putMatch(w, f, m.n, m.d);
      appendMatch(want, m.n, m.d);
    }
    auto got = unreduce(w, f, uint32_t(want.size()));
    EXPECT_EQ(got.result, kLegacyOk) << "factor " << f;
    EXPECT_TRUE(got.out == want) << "factor " << f;
  }
}

TEST(Unreduce, EscapesAndFollowerSets) {
  // 144,0 is a literal 144, also twice in a row.
  auto w = plainStream();
  for (uint8_t c : {uint8_t('x'), kDle, uint8_t(0), kDle, uint8_t(0), uint8_t('y')}) w.put(c, 8);
  auto got = unreduce(w, 2, 4);
  EXPECT_EQ(got.result, kLegacyOk);
  EXPECT_EQ(got.out, (std::vector<uint8_t>{'x', kDle, kDle, 'y'}));

  // Sets are stored from byte 255 down to 0. After byte 0 (the start) the set {h, i, !} is
  // indexed with 2 bits; after 'i' the set {j} with 1 bit; a 1 bit escapes to a literal.
  test::TLsbBitWriter s;
  for (int x = 255; x >= 0; --x) {
    std::string set = x == 0 ? "hi!" : x == 'i' ? "j" : "";
    s.put(uint32_t(set.size()), 6);
    for (char c : set) s.put(uint8_t(c), 8);
  }
  s.put(0, 1).put(1, 2);    // 'i' from the set of byte 0
  s.put(0, 1).put(0, 1);    // 'j' from the set of 'i'
  s.put('k', 8);            // the set of 'j' is empty: raw bits
  s.put('i', 8);            // likewise after 'k'
  s.put(1, 1).put('z', 8);  // after 'i', a literal outside its set
  got = unreduce(s, 1, 5);
  EXPECT_EQ(got.result, kLegacyOk);
  EXPECT_EQ(std::string(got.out.begin(), got.out.end()), "ijkiz");
}

TEST(Unreduce, MatchesBeforeTheFirstByteGiveZeros) {
  struct {
    uint32_t n, d;
    std::vector<uint8_t> want;
  } cases[] = {
      {5, 10, {'x', 0, 0, 0, 0, 0}},
      // Crosses from the unwritten end of the window back to its start.
      {5, 3, {'x', 0, 0, 'x', 0, 0}},
  };
  for (auto& c : cases) {
    auto w = plainStream();
    w.put('x', 8);
    putMatch(w, 1, c.n, c.d);
    auto got = unreduce(w, 1, uint32_t(c.want.size()));
    EXPECT_EQ(got.result, kLegacyOk);
    EXPECT_EQ(got.out, c.want) << c.d;
  }
}

// Entries longer than the 16 KiB window: matches reach back across its wrap.
TEST(Unreduce, MatchesAcrossTheWindowWrap) {
  auto w = plainStream();
  std::vector<uint8_t> want;
  auto text = test::textBytes(3000, 3);
  for (uint8_t c : text) {
    putLiteral(w, c);
    want.push_back(c);
  }
  uint32_t seed = 1;
  while (want.size() < 50000) {
    seed = seed * 1103515245 + 12345;
    uint32_t n = 4 + (seed >> 8) % 270, d = 1 + (seed >> 16) % 4096;
    putMatch(w, 4, n, d);
    appendMatch(want, n, d);
    putLiteral(w, uint8_t(seed >> 24));
    want.push_back(uint8_t(seed >> 24));
  }
  auto got = unreduce(w, 4, uint32_t(want.size()));
  EXPECT_EQ(got.result, kLegacyOk);
  EXPECT_TRUE(got.out == want);
}

TEST(Unreduce, NeverWritesPastTheDeclaredSize) {
  auto w = plainStream();
  w.put('a', 8);
  putMatch(w, 1, 100, 1);
  auto got = unreduce(w, 1, 10);
  EXPECT_EQ(got.result, kLegacyDamaged);
  EXPECT_LE(got.out.size(), 10u);

  // Data ending early stops at once instead of repeating its last byte.
  got = unreduce(w, 1, 1000);
  EXPECT_EQ(got.result, kLegacyTruncated);
  EXPECT_LE(got.out.size(), 101u);
}

}  // namespace
}  // namespace quelt
