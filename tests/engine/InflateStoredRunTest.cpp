// Runs of stored blocks, which Inflate hands to the output straight from the input and keeps
// as history by writing on at the front of its buffer when the buffer's end comes: the
// compressed block after a run must still find every byte of the last 32 KiB (64 KiB in
// Deflate64) behind it, wherever the run crossed the buffer's end, however long its blocks
// were, and wherever the input blocks end.
#include <gtest/gtest.h>

#include <algorithm>
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
using test::TDeflateFormat;
using test::TLsbBitWriter;
using test::TToken;

void storedBlock(TLsbBitWriter& w, const Bytes& data, size_t at, size_t n) {
  w.put(0, 3);
  w.align();
  w.put(uint32_t(n), 16);
  w.put(uint32_t(~n & 0xFFFF), 16);
  for (size_t i = 0; i < n; ++i) w.byte(data[at + i]);
}

struct TFormatCase {
  const char* name;
  TDeflateFormat format;
  size_t history;
  int (*inflate)(TDecodeIO&);
};

// Where the decoder's buffer first fills: the history and a chunk of 128 KiB.
size_t bufferEnd(const TFormatCase& f) {
  return f.history + 131072;
}

TEST(InflateStoredRun, CompressedBlocksAfterARunFindTheWholeHistory) {
  const TFormatCase formats[] = {
      {"Deflate", TDeflateFormat::kDeflate, 32768, Inflate},
      {"Deflate64", TDeflateFormat::kDeflate64, 65536, Inflate64},
  };
  // Lengths of the run's blocks, repeated; the last one is cut to end the run where wanted.
  const std::vector<std::vector<size_t>> patterns = {
      {16384}, {32767, 32768, 32769}, {1, 100, 65535, 7000}};
  for (const TFormatCase& f : formats) {
    const size_t h = f.history;
    // Where the run ends (and the compressed block starts), from the buffer's end: just
    // before it, on it, and at places short of, at and past a whole history after it.
    const long ends[] = {-1, 0, 1, 5000, long(h) - 1, long(h), long(h) + 1};
    for (const auto& pattern : patterns) {
      for (long endOffset : ends) {
        const size_t runEnd = size_t(long(bufferEnd(f)) + endOffset);
        // Before the run: a stored block, then a compressed one that leaves the bit buffer
        // holding whole bytes of the run's first header and data.
        const size_t padding = 20000, leadLiterals = 300;
        const size_t runStart = padding + leadLiterals;
        const Bytes data = test::randomBytes(runEnd, uint32_t(runEnd + pattern.size()));
        TLsbBitWriter w;
        storedBlock(w, data, 0, padding);
        std::vector<TToken> lead;
        for (size_t i = 0; i < leadLiterals; ++i) lead.push_back(Lit(data[padding + i]));
        FixedBlock(w, false, lead, f.format);
        size_t crossing = 0;  // stream offset just past the block that crosses the buffer end
        for (size_t at = runStart, k = 0; at < runEnd; ++k) {
          const size_t n = std::min(pattern[k % pattern.size()], runEnd - at);
          storedBlock(w, data, at, n);
          if (at < bufferEnd(f) && at + n >= bufferEnd(f) && crossing == 0)
            crossing = w.bytes().size();
          at += n;
        }
        // Matches at the longest distance, across the place where the run wrapped, and near.
        std::vector<TToken> tail;
        const size_t front = runEnd > bufferEnd(f) ? runEnd - bufferEnd(f) : 0;
        for (size_t dist : {h, h - 1, front, front + 1, h / 2 + 3, size_t(300), size_t(1)}) {
          if (dist == 0 || dist > h) continue;
          tail.push_back({258, unsigned(dist)});
          tail.push_back(Lit(unsigned(dist) & 0xFF));
          tail.push_back({3, unsigned(dist)});
        }
        FixedBlock(w, true, tail, f.format);
        const Bytes want = Expand(tail, data);

        std::vector<size_t> blocks = {16000, 4093, 1};
        if (crossing > 0) blocks.push_back(crossing);
        for (size_t block : blocks) {
          const std::string where = std::string(f.name) + ", run ending at buffer end " +
                                    std::to_string(endOffset) + ", first block " +
                                    std::to_string(pattern[0]) + ", input blocks of " +
                                    std::to_string(block);
          TMemoryDecodeIO io(w.bytes().data(), w.bytes().size(), SIZE_MAX, block);
          ASSERT_EQ(f.inflate(io), kInflateOk) << where;
          ASSERT_EQ(io.out.size(), want.size()) << where;
          auto diff = std::mismatch(io.out.begin(), io.out.end(), want.begin());
          ASSERT_TRUE(diff.first == io.out.end())
              << where << ": first difference at " << (diff.first - io.out.begin());
        }
      }
    }
  }
}

}  // namespace
}  // namespace quelt
