#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/BitWriter.h"
#include "engine/Errors.h"

namespace quelt {
namespace {

// Records each Write separately, and where its bytes came from.
struct TRecordingIO : TEncodeIO {
  size_t Read(uint8_t*, size_t) override { return 0; }
  void Write(const uint8_t* data, size_t n) override {
    chunks.emplace_back(data, data + n);
    sources.push_back(data);
  }
  std::vector<uint8_t> all() const {
    std::vector<uint8_t> v;
    for (const auto& c : chunks) v.insert(v.end(), c.begin(), c.end());
    return v;
  }
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<const uint8_t*> sources;
};

TEST(BitWriter, PacksCodesLeastSignificantBitFirst) {
  struct Case {
    std::vector<std::pair<uint32_t, unsigned>> sends;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {{{1, 1}, {1, 2}}, {0x03}},                                // 1, then 01 above it
      {{{0x5, 3}, {0x1F, 5}}, {0xFD}},                           // fills one byte exactly
      {{{0x7FFF, 15}, {0x7FFF, 15}}, {0xFF, 0xFF, 0xFF, 0x3F}},  // 30 bits: 4th byte padded
      {{{0x1FF, 9}}, {0xFF, 0x01}},                              // 9 bits become two bytes
      {{{0xABCD, 16}, {0x12345678, 32}}, {0xCD, 0xAB, 0x78, 0x56, 0x34, 0x12}},
      {{{0xFFFFFFFF, 3}}, {0x07}},  // bits above the length are ignored
  };
  for (const auto& c : cases) {
    TRecordingIO io;
    TBitWriter w;
    w.Start(io);
    for (auto [v, n] : c.sends) w.SendBits(v, n);
    w.AlignBits();
    EXPECT_EQ(io.all(), c.bytes);
    EXPECT_EQ(w.BytesWritten(), c.bytes.size());
    EXPECT_EQ(w.PendingBits(), 0u);
  }
}

TEST(BitWriter, AlignWithNothingHeldWritesNothing) {
  TRecordingIO io;
  TBitWriter w;
  w.Start(io);
  w.AlignBits();
  EXPECT_TRUE(io.chunks.empty());
  EXPECT_EQ(w.BytesWritten(), 0u);
}

TEST(BitWriter, RejectsLengthsOutsideOneTo32) {
  TRecordingIO io;
  TBitWriter w;
  w.Start(io);
  EXPECT_THROW(w.SendBits(1, 0), EAssertionFailed);
  EXPECT_THROW(w.SendBits(1, 33), EAssertionFailed);
}

TEST(BitWriter, HandsOverFullChunksOf1024Bytes) {
  TRecordingIO io;
  TBitWriter w;
  w.Start(io);
  // 7-bit codes, so chunk ends fall in the middle of codes.
  for (int i = 0; i < 2500; ++i) w.SendBits(uint32_t(i) & 0x7F, 7);
  ASSERT_EQ(io.chunks.size(), 2u);
  EXPECT_EQ(io.chunks[0].size(), 1024u);
  EXPECT_EQ(io.chunks[1].size(), 1024u);
  w.AlignBits();
  ASSERT_EQ(io.chunks.size(), 3u);
  EXPECT_EQ(io.chunks[2].size(), (2500 * 7 + 7) / 8 - 2048u);

  // The same codes re-read from the bytes.
  std::vector<uint8_t> all = io.all();
  for (int i = 0; i < 2500; ++i) {
    unsigned v = 0;
    for (int b = 0; b < 7; ++b) {
      size_t bit = size_t(i) * 7 + size_t(b);
      v |= unsigned((all[bit >> 3] >> (bit & 7)) & 1) << b;
    }
    ASSERT_EQ(v, unsigned(i) & 0x7F) << "code " << i;
  }
}

TEST(BitWriter, StoredBlockAlignsThenSendsLenAndNlenThenTheCallersBytes) {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  for (bool header : {true, false}) {
    TRecordingIO io;
    TBitWriter w;
    w.Start(io);
    w.SendBits(1, 3);  // a stored block's header bits: final, type 00
    w.CopyStored(data.data(), data.size(), header);
    std::vector<uint8_t> expect = {0x01};
    if (header) expect.insert(expect.end(), {0x2C, 0x01, 0xD3, 0xFE});
    ASSERT_EQ(io.chunks.size(), 2u);
    EXPECT_EQ(io.chunks[0], expect);
    EXPECT_EQ(io.chunks[1], data);
    // Stored bytes go out from the caller's buffer, not through a copy.
    EXPECT_EQ(io.sources[1], data.data());
    EXPECT_EQ(w.BytesWritten(), expect.size() + data.size());
  }
}

// The batch writer keeps its bits in a 64-bit word flushed with 8-byte stores: what it writes
// must equal packing the same codes one bit at a time, wherever the word, chunk and entry
// ends fall, and the writer must carry on after it as if every code had gone through it.
TEST(BitWriter, BatchPacksLikeSingleBitsAcrossWordChunkAndEntryEnds) {
  struct Case {
    const char* name;
    std::vector<unsigned> lengths;  // code lengths, cycled
    size_t codes;
    unsigned before;  // bits sent with SendBits before the batch
  };
  const Case cases[] = {
      {"single bits", {1}, 9000, 0},
      {"byte-sized codes end on bytes", {8}, 1030, 0},
      {"pairs of codes 64 bits long", {57, 7}, 300, 0},
      {"longest codes with 7 bits held", {55}, 200, 7},
      {"mixed lengths over chunk ends", {15, 3, 48, 9, 1, 20}, 3000, 5},
      {"ends one bit past a chunk", {1}, 8193, 0},
      {"nothing in the batch", {1}, 0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937_64 gen(7);
    std::vector<bool> expect;
    auto record = [&](uint64_t v, unsigned n) {
      for (unsigned b = 0; b < n; ++b) expect.push_back((v >> b) & 1);
    };
    TRecordingIO io;
    TBitWriter w;
    w.Start(io);
    if (c.before) {
      w.SendBits(0x55, c.before);
      record(0x55, c.before);
    }
    TBitWriter::TBatch batch(w);
    for (size_t i = 0; i < c.codes; ++i) {
      unsigned n = c.lengths[i % c.lengths.size()];
      uint64_t v = gen() & ((uint64_t(1) << n) - 1);
      batch.Add(v, n);
      batch.Flush();
      record(v, n);
    }
    batch.Done();
    EXPECT_EQ(w.PendingBits() + w.BytesWritten() * 8, expect.size());
    w.SendBits(0x3, 2);  // the writer goes on where the batch stopped
    record(0x3, 2);
    w.AlignBits();

    std::vector<uint8_t> bytes((expect.size() + 7) / 8);
    for (size_t b = 0; b < expect.size(); ++b)
      bytes[b >> 3] = uint8_t(bytes[b >> 3] | unsigned(expect[b]) << (b & 7));
    EXPECT_EQ(io.all(), bytes);
    EXPECT_EQ(w.BytesWritten(), bytes.size());
    EXPECT_EQ(w.PendingBits(), 0u);
    for (size_t k = 0; k + 1 < io.chunks.size(); ++k) EXPECT_EQ(io.chunks[k].size(), 1024u);
  }
}

TEST(BitWriter, ReversesCodes) {
  struct Case {
    uint32_t code;
    unsigned length;
    uint32_t reversed;
  };
  const Case cases[] = {{0b1, 1, 0b1},
                        {0b110, 3, 0b011},
                        {0b10000, 5, 0b00001},
                        {0b1011, 4, 0b1101},
                        {0x0001, 15, 0x4000},
                        {0x7FFE, 15, 0x3FFF},
                        {0b1100101, 7, 0b1010011},
                        {0xFF00, 8, 0}};  // bits above the length drop
  for (const auto& c : cases) EXPECT_EQ(reverseBits(c.code, c.length), c.reversed) << c.code;
}

}  // namespace
}  // namespace quelt
