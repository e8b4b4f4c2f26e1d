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
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

class Bits {
 public:
  void put(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i, ++n_) {
      if (n_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= uint8_t(((value >> i) & 1) << (n_ % 8));
    }
  }
  void putCode(uint32_t code, unsigned len) {  // most significant bit first
    for (unsigned i = len; i-- > 0;) put((code >> i) & 1, 1);
  }
  void align() {
    while (n_ % 8) put(0, 1);
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t n_ = 0;
};

const unsigned kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
unsigned distBase(unsigned code) {
  return code < 4 ? code + 1 : (2u + (code & 1)) << (code / 2 - 1) | 1;
}
unsigned distExtra(unsigned code) {
  return code < 4 ? 0 : code / 2 - 1;
}

// A literal (length 0), a match, or a raw symbol written as it is (length -1: a
// literal/length symbol, -2: a distance symbol) to make bad streams.
struct Token {
  int length;
  unsigned value;
};
Token lit(unsigned b) {
  return {0, b};
}

void putFixedSymbol(Bits& w, unsigned sym) {
  if (sym < 144)
    w.putCode(0x30 + sym, 8);
  else if (sym < 256)
    w.putCode(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.putCode(sym - 256, 7);
  else
    w.putCode(0xC0 + sym - 280, 8);
}

void fixedBlock(Bits& w, bool final, const std::vector<Token>& tokens) {
  w.put(final, 1);
  w.put(1, 2);
  for (const Token& t : tokens) {
    if (t.length == 0 || t.length == -1) {
      putFixedSymbol(w, t.value);
    } else if (t.length == -2) {
      w.putCode(t.value, 5);
    } else {
      unsigned s = 28;
      while (unsigned(t.length) < kLenBase[s] || (s == 28 && t.length != 258)) --s;
      putFixedSymbol(w, 257 + s);
      w.put(unsigned(t.length) - kLenBase[s], kLenExtra[s]);
      unsigned d = 29;
      while (t.value < distBase(d)) --d;
      w.putCode(d, 5);
      w.put(t.value - distBase(d), distExtra(d));
    }
  }
  putFixedSymbol(w, 256);
}

void storedBlocks(Bits& w, const Bytes& data) {
  for (size_t at = 0; at < data.size(); at += 65535) {
    size_t n = std::min<size_t>(65535, data.size() - at);
    w.put(0, 3);
    w.align();
    w.put(uint32_t(n), 16);
    w.put(uint32_t(~n & 0xFFFF), 16);
    for (size_t i = 0; i < n; ++i) w.put(data[at + i], 8);
  }
}

Bytes expand(const std::vector<Token>& tokens, Bytes out) {
  for (const Token& t : tokens) {
    if (t.length == 0) out.push_back(uint8_t(t.value));
    for (int i = 0; i < t.length; ++i) out.push_back(out[out.size() - t.value]);
  }
  return out;
}

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
  std::vector<Token> matches;
  unsigned k = 0;
  for (unsigned dist = 1; dist <= 40; ++dist) {
    for (int len : {3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, 41, 63, 64, 65, 100, 257, 258}) {
      matches.push_back(lit(++k * 37 % 256));
      matches.push_back(lit(++k * 37 % 256));
      matches.push_back({len, dist});
    }
  }
  for (size_t lead : {kBufferEnd - 5000, kBufferEnd - 2000, kBufferEnd - 300, kBufferEnd - 1}) {
    const Bytes start = test::textBytes(lead, uint32_t(lead));
    std::vector<Token> t;
    for (int i = 0; i < 5; ++i) t.push_back(lit('A' + i));  // so distance 1..5 has bytes
    t.insert(t.end(), matches.begin(), matches.end());
    for (int i = 0; i < 64; ++i) t.push_back(lit('a' + i % 26));  // keeps the fast loop going
    Bits w;
    storedBlocks(w, start);
    fixedBlock(w, true, t);
    const Bytes want = expand(t, start);
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
    std::vector<Token> bad;
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
    std::vector<Token> t;
    for (int i = 0; i < 1300; ++i) t.push_back(lit(unsigned(i * 7 % 251)));
    t.insert(t.end(), c.bad.begin(), c.bad.end());
    for (int i = 0; i < 200; ++i) t.push_back(lit('z'));
    Bits w;
    fixedBlock(w, true, t);
    const Outcome careful = run(w.bytes(), 1);
    EXPECT_EQ(careful.result, c.result) << c.name;
    for (size_t block : {size_t(16000), size_t(100), size_t(17)}) {
      Outcome r = run(w.bytes(), block);
      EXPECT_EQ(r.result, c.result) << c.name << ", blocks of " << block;
      if (c.result == kInflateOk) {
        EXPECT_EQ(r.out, expand(t, {})) << c.name << ", blocks of " << block;
      }
    }
  }
}

Bytes zlibDeflate(const Bytes& in, int level, int strategy) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
  Bytes out(deflateBound(&z, uLong(in.size())));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The stream's last byte at every place from the start to 40 bytes before the end of an
// input block (the fast loop stops some bytes before it), and the block ending in the middle
// of a code: the whole stream is taken, no byte past it.
TEST_P(InflateFastPath, StreamsEndingAtEveryPlaceInAnInputBlock) {
  const Bytes data = test::textBytes(60000, 5);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
    const Bytes s = zlibDeflate(data, 6, strategy);
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
      const Bytes good = zlibDeflate(data, level, Z_DEFAULT_STRATEGY);
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
