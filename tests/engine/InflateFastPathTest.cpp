// Inflate's fast loop (taken while enough input remains in the block and the output is short
// of the buffer's end) against its careful one: the same streams fed one byte per block, where
// only the careful one can run, must give the same verdict and the same output. Matches that
// end past a word, the buffer's end or its slack; bad codes met inside the fast loop; streams
// ending at every place relative to the end of an input block.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "engine/Inflate.h"
#include "support/DeflateStreams.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

using test::Expand;
using test::FixedBlock;
using test::Lit;
using test::StoredBlocks;
using test::TLsbBitWriter;
using test::TToken;
using test::ZlibDeflate;

struct Outcome {
  int result;
  Bytes out;
  size_t consumed;
};

// `loop`: the fast loop the processor's features choose, or the portable one.
enum class TLoop { kChosen, kPortable };

Outcome inflate(const Bytes& stream, size_t block, TLoop loop) {
  TMemoryDecodeIO io(stream.data(), stream.size(), SIZE_MAX, block);
  int r = loop == TLoop::kChosen ? Inflate(io) : InflatePortable(io, false);
  return {r, io.out, io.inPos ? size_t(io.inPos - stream.data()) : 0};
}

// Each test runs with both loops (the same one on processors without BMI2).
class InflateFastPath : public ::testing::TestWithParam<TLoop> {
 protected:
  Outcome run(const Bytes& stream, size_t block) { return inflate(stream, block, GetParam()); }
};
INSTANTIATE_TEST_SUITE_P(Loops, InflateFastPath,
                         ::testing::Values(TLoop::kChosen, TLoop::kPortable), [](const auto& info) {
                           return info.param == TLoop::kChosen ? "Chosen" : "Portable";
                         });

// Where the decoder's buffer first fills: 32 KiB of history and a chunk of 128 KiB.
constexpr size_t kBufferEnd = 32768 + 131072;

// Matches of every short distance, and lengths that end just before, at and after word and
// double-word boundaries, decoded at places that put them across the buffer's end.
TEST_P(InflateFastPath, ShortDistancesAndOddLengthsAcrossTheBufferEnd) {
  // Two fresh literals before each match keep the periods from turning into runs of one.
  std::vector<TToken> matches;
  unsigned k = 0;
  for (unsigned dist = 1; dist <= 40; ++dist) {
    for (int len : {3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, 41, 63, 64, 65, 100, 257, 258}) {
      matches.push_back(Lit(++k * 37 % 256));
      matches.push_back(Lit(++k * 37 % 256));
      matches.push_back({len, dist});
    }
  }
  for (size_t lead : {kBufferEnd - 5000, kBufferEnd - 2000, kBufferEnd - 300, kBufferEnd - 1}) {
    const Bytes start = test::textBytes(lead, uint32_t(lead));
    std::vector<TToken> t;
    for (int i = 0; i < 5; ++i) t.push_back(Lit('A' + i));  // so distance 1..5 has bytes
    t.insert(t.end(), matches.begin(), matches.end());
    for (int i = 0; i < 64; ++i) t.push_back(Lit('a' + i % 26));  // keeps the fast loop going
    TLsbBitWriter w;
    StoredBlocks(w, start);
    FixedBlock(w, true, t);
    const Bytes want = Expand(t, start);
    for (size_t block : {size_t(16000), size_t(4096), size_t(1)}) {
      Outcome r = run(w.bytes(), block);
      ASSERT_EQ(r.result, kInflateOk) << "lead " << lead << ", blocks of " << block;
      ASSERT_EQ(r.out.size(), want.size());
      auto diff = std::mismatch(r.out.begin(), r.out.end(), want.begin());
      ASSERT_TRUE(diff.first == r.out.end())
          << "lead " << lead << ", blocks of " << block << ": first difference at "
          << (diff.first - r.out.begin()) << " of " << want.size();
    }
  }
}

// A bad code after enough good ones that the fast loop meets it, with more input after it:
// the same verdict as when the careful loop meets it.
TEST_P(InflateFastPath, BadCodesInTheFastLoopGiveTheCarefulVerdict) {
  struct TCase {
    const char* name;
    std::vector<TToken> bad;
    int result;
  };
  const TCase cases[] = {
      {"distance symbol 30", {{-1, 257}, {-2, 30}}, kInflateBadData},
      {"distance symbol 31", {{-1, 260}, {-2, 31}}, kInflateBadData},
      {"length symbol 286", {{-1, 286}}, kInflateBadData},
      {"length symbol 287", {{-1, 287}}, kInflateBadData},
      {"a match before the first byte", {{258, 2000}}, kInflateBadData},
      {"a match one byte before the first", {{3, 1301}}, kInflateBadData},
      {"a match reaching the first byte", {{3, 1300}}, kInflateOk},
      {"a good stream", {}, kInflateOk},
  };
  for (const TCase& c : cases) {
    std::vector<TToken> t;
    for (int i = 0; i < 1300; ++i) t.push_back(Lit(unsigned(i * 7 % 251)));
    t.insert(t.end(), c.bad.begin(), c.bad.end());
    for (int i = 0; i < 200; ++i) t.push_back(Lit('z'));
    TLsbBitWriter w;
    FixedBlock(w, true, t);
    const Outcome careful = run(w.bytes(), 1);
    EXPECT_EQ(careful.result, c.result) << c.name;
    for (size_t block : {size_t(16000), size_t(100), size_t(17)}) {
      Outcome r = run(w.bytes(), block);
      EXPECT_EQ(r.result, c.result) << c.name << ", blocks of " << block;
      if (c.result == kInflateOk) {
        EXPECT_EQ(r.out, Expand(t, {})) << c.name << ", blocks of " << block;
      }
    }
  }
}

// The stream's last byte at every place from the start to 40 bytes before the end of an
// input block (the fast loop stops some bytes before it), and the block ending in the middle
// of a code: the whole stream is taken, no byte past it.
TEST_P(InflateFastPath, StreamsEndingAtEveryPlaceInAnInputBlock) {
  const Bytes data = test::textBytes(60000, 5);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
    const Bytes s = ZlibDeflate(data, 6, strategy);
    std::vector<size_t> blocks = {8, 9, 15, 16, 17, 24, 25, 33};
    for (size_t k = 0; k <= 40; ++k) blocks.push_back(s.size() - k);
    for (size_t k = 1; k <= 40; ++k) blocks.push_back(s.size() / 2 + k);
    for (size_t block : blocks) {
      Outcome r = run(s, block);
      ASSERT_EQ(r.result, kInflateOk) << "strategy " << strategy << ", blocks of " << block;
      ASSERT_TRUE(r.out == data) << "strategy " << strategy << ", blocks of " << block;
      ASSERT_EQ(r.consumed, s.size()) << "strategy " << strategy << ", blocks of " << block;
    }
  }
}

// Damaged streams: whatever the verdict, the fast loop reaches the careful loop's.
TEST_P(InflateFastPath, DamagedStreamsGiveTheCarefulVerdict) {
  const Bytes inputs[] = {test::textBytes(40000, 3), test::randomBytes(5000, 4)};
  std::mt19937 rng(77);
  int n = 0;
  for (const Bytes& data : inputs) {
    for (int level : {1, 9}) {
      const Bytes good = ZlibDeflate(data, level, Z_DEFAULT_STRATEGY);
      for (int k = 0; k < 40; ++k) {
        Bytes bad = good;
        for (int flips = 1 + k % 3; flips > 0; --flips)
          bad[rng() % bad.size()] ^= uint8_t(1u << (rng() % 8));
        ++n;
        const Outcome careful = run(bad, 1);
        const Outcome fast = run(bad, 16000);
        ASSERT_EQ(fast.result, careful.result) << "damaged stream " << n;
        if (careful.result == kInflateOk) {
          ASSERT_TRUE(fast.out == careful.out) << "damaged stream " << n;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quelt
