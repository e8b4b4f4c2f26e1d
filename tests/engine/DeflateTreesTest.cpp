#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "DeflateTrace.h"
#include "engine/DeflateTrees.h"

namespace quelt {
namespace {

using test::traceDeflate;
using test::TTrace;

struct TSink : TEncodeIO {
  size_t Read(uint8_t*, size_t) override { return 0; }
  void Write(const uint8_t* p, size_t n) override { out.insert(out.end(), p, p + n); }
  std::vector<uint8_t> out;
};

// One entry's block layer driven by hand: the items tallied and the bytes they stand for.
struct TBlockRig {
  explicit TBlockRig(int level = 6) : trees(std::make_unique<TDeflateTrees>()) {
    trees->Start(level);
    bits.Start(sink);
  }
  bool literal(uint8_t c) {
    data.push_back(c);
    items.push_back({0, 0, c});
    return trees->TallyLiteral(c, int64_t(data.size() - blockStart));
  }
  bool match(unsigned distance, unsigned length) {
    for (unsigned i = 0; i < length; ++i) data.push_back(data[data.size() - distance]);
    items.push_back({uint16_t(length), uint16_t(distance), 0});
    return trees->TallyMatch(distance, length - 3, int64_t(data.size() - blockStart));
  }
  // Ends the block, its bytes still at hand unless `gone`.
  uint64_t emit(bool last, bool gone = false) {
    uint64_t n = trees->EmitBlock(bits, gone ? nullptr : data.data() + blockStart,
                                  data.size() - blockStart, last);
    blockStart = data.size();
    return n;
  }

  std::unique_ptr<TDeflateTrees> trees;
  TSink sink;
  TBitWriter bits;
  std::vector<uint8_t> data;
  std::vector<test::TTraceItem> items;
  size_t blockStart = 0;
};

// Our tracing decoder and zlib both give back the rig's bytes; `t` gets the trace, for the
// blocks' items.
void decodeBothWays(const TBlockRig& rig, TTrace& t) {
  t = traceDeflate(rig.sink.out);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.out, rig.data);
  std::vector<uint8_t> z;
  ASSERT_TRUE(test::zlibInflateRaw(rig.sink.out, z));
  EXPECT_EQ(z, rig.data);
}

TEST(DeflateTrees, LiteralOnlyBlockSendsTwoForcedDistanceCodes) {
  TBlockRig rig;
  std::mt19937 gen(1);
  std::geometric_distribution<int> skew(0.3);
  for (int i = 0; i < 3000; ++i) rig.literal(uint8_t('a' + std::min(skew(gen), 12)));
  uint64_t size = rig.emit(true);

  TTrace t = traceDeflate(rig.sink.out);
  ASSERT_TRUE(t.ok) << t.error;
  ASSERT_EQ(t.blocks.size(), 1u);
  EXPECT_EQ(t.blocks[0].type, 2);
  EXPECT_EQ(t.blocks[0].hdist, 2);
  EXPECT_EQ(t.out, rig.data);
  EXPECT_EQ(size, rig.sink.out.size());
  EXPECT_EQ(rig.trees->Method(), 8);
}

TEST(DeflateTrees, EveryLengthAndDistanceCodeRoundTrips) {
  TBlockRig rig(2);
  std::mt19937 gen(7);
  for (int i = 0; i < 300; ++i) rig.literal(uint8_t(gen()));
  // Grow the history past the longest distance with long matches, then use every length and
  // distances from 1 to the largest the finder produces.
  while (rig.data.size() < 33000) rig.match(300, 258);
  const unsigned distances[] = {1,    2,     3,     4,     5,     8,    9,    16,   17,
                                32,   33,    64,    65,    128,   129,  256,  257,  511,
                                512,  513,   1024,  1025,  2048,  2049, 4096, 4097, 8192,
                                8193, 16384, 16385, 24577, 32505, 32506};
  unsigned k = 0;
  for (unsigned len = 3; len <= 258; ++len) {
    rig.match(distances[k++ % std::size(distances)], len);
    rig.literal(uint8_t(gen()));
  }
  rig.emit(true);

  TTrace t;
  ASSERT_NO_FATAL_FAILURE(decodeBothWays(rig, t));
  // Sent exactly as tallied, in order.
  ASSERT_EQ(t.blocks.size(), 1u);
  const auto& got = t.blocks[0].items;
  ASSERT_EQ(got.size(), rig.items.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].length, rig.items[i].length) << i;
    ASSERT_EQ(got[i].distance, rig.items[i].distance) << i;
    ASSERT_EQ(got[i].literal, rig.items[i].literal) << i;
  }
}

// Literals are written in runs between the matches: runs of every length up to a few words
// long, blocks that start or end with a match, and matches back to back, over several blocks.
TEST(DeflateTrees, LiteralRunsBetweenMatchesComeOutInOrder) {
  TBlockRig rig(6);
  std::mt19937 gen(11);
  for (int i = 0; i < 40; ++i) rig.literal(uint8_t(gen()));
  for (bool last : {false, false, true}) {
    rig.match(7, 5);  // the block's first item
    for (unsigned run = 0; run <= 11; ++run) {
      for (unsigned i = 0; i < run; ++i) rig.literal(uint8_t(gen() % 7 == 0 ? gen() : 'a' + i));
      rig.match(1 + unsigned(gen() % 30), 3 + unsigned(gen() % 20));
    }
    rig.match(30, 258);
    if (last) rig.literal('z');  // the last block ends with a literal
    rig.emit(last);
  }
  TTrace t;
  ASSERT_NO_FATAL_FAILURE(decodeBothWays(rig, t));
  ASSERT_EQ(t.blocks.size(), 3u);
  size_t i = 0;
  for (const auto& b : t.blocks)
    for (const auto& got : b.items) {
      ASSERT_LT(i, rig.items.size());
      EXPECT_EQ(got.length, rig.items[i].length) << i;
      EXPECT_EQ(got.distance, rig.items[i].distance) << i;
      EXPECT_EQ(got.literal, rig.items[i].literal) << i;
      ++i;
    }
  EXPECT_EQ(i, rig.items.size());
}

TEST(DeflateTrees, RejectsMatchesTheFinderCannotProduce) {
  TBlockRig rig;
  for (int i = 0; i < 10; ++i) rig.literal('x');
  EXPECT_THROW(rig.trees->TallyMatch(0, 0, 10), EAssertionFailed);
  EXPECT_THROW(rig.trees->TallyMatch(32507, 0, 10), EAssertionFailed);
  EXPECT_THROW(rig.trees->TallyMatch(1, 256, 10), EAssertionFailed);
}

// Fibonacci frequencies want codes far longer than 15 bits: the lengths must be limited and
// the code still complete.
TEST(DeflateTrees, SkewedFrequenciesGetLengthLimitedCompleteCodes) {
  TBlockRig rig(1);
  std::vector<int> fib = {1, 1};
  while (fib.size() < 21) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint8_t> symbols;
  for (size_t s = 0; s < fib.size(); ++s)
    symbols.insert(symbols.end(), size_t(fib[s]), uint8_t('A' + s));
  std::shuffle(symbols.begin(), symbols.end(), std::mt19937(3));
  ASSERT_LT(symbols.size(), 32767u);
  for (uint8_t c : symbols) rig.literal(c);
  rig.emit(true);

  TTrace t = traceDeflate(rig.sink.out);  // fails on an over-subscribed or incomplete code
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.blocks[0].type, 2);
  EXPECT_EQ(t.out, rig.data);
}

TEST(DeflateTrees, OnlyAFirstAndLastBlockBecomesAStoredEntry) {
  std::mt19937 gen(11);
  std::vector<uint8_t> noise(2000);
  for (auto& b : noise) b = uint8_t(gen());

  struct Case {
    const char* name;
    bool blockBefore;  // a compressible block is written first
    bool gone;         // the noise left the window before its block ended
    int method;        // 0: the bytes are written as they are, no Deflate data
    bool storedBlock;  // else: the last block is a stored block, not a coded one
  };
  const Case cases[] = {
      {"first and last", false, false, 0, false},
      {"after another block", true, false, 8, true},
      {"bytes no longer in the window", false, true, 8, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBlockRig rig;
    if (c.blockBefore) {
      for (int i = 0; i < 500; ++i) rig.literal("abab"[i % 4]);
      rig.emit(false);
    }
    for (uint8_t b : noise) rig.literal(b);
    uint64_t size = rig.emit(true, c.gone);

    EXPECT_EQ(rig.trees->Method(), c.method);
    EXPECT_EQ(size, rig.sink.out.size());
    EXPECT_EQ(rig.trees->CompressedBits() >> 3, size);
    if (c.method == 0) {
      EXPECT_EQ(rig.sink.out, noise);
      continue;
    }
    TTrace t = traceDeflate(rig.sink.out);
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_EQ(t.blocks.back().type == 0, c.storedBlock);
    EXPECT_TRUE(t.blocks.back().final);
    EXPECT_EQ(t.out, rig.data);
    EXPECT_EQ(t.bytesUsed, rig.sink.out.size());
  }
}

TEST(DeflateTrees, ClassifiesTheEntryFromItsFirstBlock) {
  struct Case {
    int text;    // literals from 7..127
    int binary;  // literals from 0..6 and 128..255
    int attributes;
  };
  const Case cases[] = {{100, 25, 1}, {100, 26, 0}, {3, 1, 0}, {0, 0, 1}, {400, 0, 1}, {0, 5, 0}};
  for (const auto& c : cases) {
    TBlockRig rig;
    for (int i = 0; i < c.text; ++i) rig.literal(i % 2 ? 7 : 127);
    for (int i = 0; i < c.binary; ++i) rig.literal(i % 2 ? 6 : 128 + i % 128);
    rig.emit(false);
    EXPECT_EQ(rig.trees->InternalAttributes(), c.attributes) << c.text << "/" << c.binary;
    // Later blocks do not change the verdict.
    for (int i = 0; i < 1000; ++i) rig.literal(c.attributes ? 200 : 'e');
    rig.emit(true);
    EXPECT_EQ(rig.trees->InternalAttributes(), c.attributes);
  }
}

// Items of one kind of data, for the block-end tests: `text` literals are small letters with
// a skewed distribution, `noise` literals any byte, `matches` long copies from far back.
enum class TKind { text, noise, matches };

void tallyKind(TBlockRig& rig, TKind kind, int items, std::mt19937& gen, bool follow) {
  std::geometric_distribution<int> skew(0.25);
  for (int i = 0; i < items; ++i) {
    bool end = false;
    if (kind == TKind::text) {
      end = rig.literal(uint8_t('a' + std::min(skew(gen), 25)));
    } else if (kind == TKind::noise) {
      end = rig.literal(uint8_t(gen()));
    } else {
      end = rig.match(1000 + unsigned(gen() % 8000), 40 + unsigned(gen() % 200));
    }
    if (end && follow) rig.emit(false);
  }
}

// Blocks end where the kind of data changes, soon after the change, and the stream is then
// smaller than the same items in one block. Data of one kind runs on to the item limit.
TEST(DeflateTrees, BlocksEndWhereTheKindOfDataChanges) {
  struct Case {
    const char* name;
    TKind first, second;
    int firstItems, secondItems;
    bool splits;
  };
  const Case cases[] = {
      {"text, then noise", TKind::text, TKind::noise, 6000, 6000, true},
      {"noise, then text", TKind::noise, TKind::text, 6000, 6000, true},
      {"text, then long matches", TKind::text, TKind::matches, 6000, 3000, true},
      {"text throughout", TKind::text, TKind::text, 15000, 15000, false},
      {"noise throughout", TKind::noise, TKind::noise, 15000, 15000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A filler block first, so that the blocks under test are never a stored entry and the
    // matches have history to copy from.
    std::vector<uint64_t> sizes;
    std::vector<size_t> firstBlockItems;
    for (bool follow : {true, false}) {
      TBlockRig rig;
      std::mt19937 gen(5);
      for (int i = 0; i < 10000; ++i) rig.literal(uint8_t('A' + i % 20));
      rig.emit(false);
      tallyKind(rig, c.first, c.firstItems, gen, follow);
      tallyKind(rig, c.second, c.secondItems, gen, follow);
      sizes.push_back(rig.emit(true));

      TTrace t;
      ASSERT_NO_FATAL_FAILURE(decodeBothWays(rig, t));
      firstBlockItems.push_back(
          t.blocks.size() > 2 ? t.blocks[1].items.size() + t.blocks[1].storedLength : 0);
      if (!follow) continue;
      if (!c.splits) {
        // One block, or blocks ended at the item limit only.
        for (size_t b = 1; b + 1 < t.blocks.size(); ++b)
          EXPECT_GE(t.blocks[b].items.size() + t.blocks[b].storedLength,
                    size_t(TDeflateTrees::kMaxItems));
        continue;
      }
      ASSERT_GE(t.blocks.size(), 3u);
      // The block of the first kind ends within a few windows after the change.
      size_t ended = firstBlockItems.back();
      EXPECT_GE(ended, size_t(c.firstItems));
      EXPECT_LE(ended, size_t(c.firstItems + 3 * TDeflateTrees::kObsWindow));
    }
    if (c.splits) {
      EXPECT_LT(sizes[0], sizes[1]) << "split layout not smaller than one block";
    } else {
      EXPECT_EQ(sizes[0], sizes[1]);
    }
  }
}

// Blocks ended after a few items, as the last items of an entry are: the block never costs
// more than a stored block would (header bits, padding, LEN and NLEN, the bytes).
TEST(DeflateTrees, VeryShortBlocksNeverCostMoreThanStoring) {
  struct Case {
    const char* name;
    std::vector<test::TTraceItem> items;  // length 0: a literal
  };
  const Case cases[] = {
      {"one literal", {{0, 0, 'x'}}},
      {"two high literals", {{0, 0, 0xFE}, {0, 0, 0x81}}},
      {"five different literals", {{0, 0, 1}, {0, 0, 90}, {0, 0, 180}, {0, 0, 33}, {0, 0, 255}}},
      {"one short far match", {{3, 30000, 0}}},
      {"a long match", {{258, 1, 0}}},
      {"literals and matches", {{0, 0, 'q'}, {4, 5000, 0}, {0, 0, 200}, {17, 32506, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBlockRig rig;
    std::mt19937 gen(9);
    for (int i = 0; i < 300; ++i) rig.literal(uint8_t('a' + gen() % 4));
    while (rig.data.size() < 33000) rig.match(300, 258);  // history for the far matches
    rig.emit(false);
    for (int round = 0; round < 3; ++round) {
      uint64_t before = rig.trees->CompressedBits();
      size_t bytesBefore = rig.data.size();
      for (const auto& item : c.items)
        item.length ? (void)rig.match(item.distance, item.length) : (void)rig.literal(item.literal);
      bool last = round == 2;
      rig.emit(last);
      uint64_t stored = rig.data.size() - bytesBefore;
      // 3 header bits, at most 7 bits of padding, LEN and NLEN, the bytes.
      EXPECT_LE(rig.trees->CompressedBits() - before, 3 + 7 + (stored + 4) * 8 + (last ? 7 : 0));
    }
    TTrace t;
    ASSERT_NO_FATAL_FAILURE(decodeBothWays(rig, t));
  }
}

// Data of one kind is never split: every level ends the block at the item limit exactly.
TEST(DeflateTrees, BlocksOfOneKindEndAtTheItemLimit) {
  struct Case {
    int level;
    bool matches;  // every other item a match
  };
  const Case cases[] = {{1, false}, {2, true}, {3, false}, {6, true}, {9, false}, {9, true}};
  for (const auto& c : cases) {
    TDeflateTrees trees;
    trees.Start(c.level);
    unsigned n = 0;
    bool end = false;
    while (!end && n < 40000) {
      ++n;
      int64_t in = int64_t(n) * 3;
      end = c.matches && n % 2 ? trees.TallyMatch(1, 0, in) : trees.TallyLiteral('q', in);
    }
    EXPECT_EQ(n, unsigned(TDeflateTrees::kMaxItems)) << "level " << c.level;
  }
}

}  // namespace
}  // namespace quelt
