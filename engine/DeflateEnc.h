// The Deflate encoder: compresses one archive entry at a time into a raw Deflate stream
// (RFC 1951): lazy matching over hash chains at levels 4 to 9 (linked by five bytes at levels
// 4 to 7, by four above), a quicker greedy search over four-byte chains at levels 2 and 3, and
// at level 1 a greedy look at the two latest positions of each four-byte hash only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/BitWriter.h"
#include "engine/DeflateTrees.h"
#include "engine/EncodeIO.h"

namespace quelt {

// What the writer stores in the entry after Deflate().
struct TDeflateResult {
  // Bytes handed to TEncodeIO::Write for this entry (before any encryption header).
  uint64_t CompressedSize = 0;
  // 8 (deflated), or 0 when the entry is stored as it is: then CompressedSize equals the
  // source's size and the bytes written are the source's bytes.
  uint16_t Method = 8;
  // General-purpose flag bits to OR into the entry's flags: 4 at levels 1 and 2, 2 at levels
  // 8 and 9, else 0. Set whatever the method.
  uint16_t Flags = 0;
  // 0 binary, 1 text, judged from the literals of the entry's first block.
  uint16_t InternalAttributes = 1;
};

// One encoder serves a whole write operation: it allocates all its memory when constructed
// and reuses it for every entry. Not thread-safe; one Deflate() call at a time.
class TDeflateEncoder {
 public:
  static constexpr int kWSize = 32768;
  static constexpr int kWindowSize = 2 * kWSize;
  static constexpr int kMinMatch = 3;
  static constexpr int kMaxMatch = 258;
  static constexpr int kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
  static constexpr int kMaxDist = kWSize - kMinLookahead;          // 32506
  static constexpr int kTooFar = 4096;

  TDeflateEncoder();

  // Compresses the whole source that io.Read delivers and writes it through io.Write.
  // `packLevel` 1 (fastest) to 9 (smallest); values outside are taken as the nearest end.
  // Nothing is written until the first block is complete, and a stored entry is decided
  // before anything is written, so the writer never has to rewind its output or re-read its
  // source. Exceptions of io.Read and io.Write end the call; the encoder stays usable.
  TDeflateResult Deflate(TEncodeIO& io, int packLevel);

 private:
  struct TLevel {
    int goodLength;  // a previous match this long quarters the chain searched
    int maxLazy;     // lazy: no search after a match this long; quick: longest match inserted;
                     // level 1: inner positions inserted
    int niceLength;  // a match this long ends the search
    int maxChain;    // candidates visited at most
  };

  // Levels 4 to 7 chain positions by five bytes, with a side table for four-byte matches.
  static bool fiveByteChains(int packLevel) { return packLevel >= 4 && packLevel <= 7; }
  void initMatcher(int packLevel);
  void forgetEntry();
  void refillWindow();
  void slideWindow();
  static int longestMatch(const uint8_t* win, const uint16_t* prev, int strstart,
                          unsigned chainStart, int prevLength, const TLevel& level,
                          int& matchStart);
  static int sideMatch(const uint8_t* win, int strstart, unsigned pos3, int maxDistance,
                       int& matchStart);
  static bool likelyMatch(const uint8_t* win, unsigned first, unsigned second, unsigned fourth,
                          unsigned third, int pos, int far3);
  static void verifyMatch(const uint8_t* win, int start, int match, int length);
  [[noreturn]] static void invalidMatch(int start, int match, int length);
  uint64_t endBlock(bool last);
  template <bool kFive>
  uint64_t deflateLazy();
  uint64_t deflateQuick();
  uint64_t deflateFast();

  // Positions are window offsets; a head of 0 means an empty chain, so position 0 is never
  // a match source.
  std::vector<uint8_t> window_;
  std::vector<uint16_t> prev_;
  // Latest position of each chain's hash (four or five bytes); at level 1, the two latest
  // positions of each four-byte hash side by side.
  std::vector<uint16_t> head_;
  std::vector<uint16_t> head3_;  // latest position of each three-byte hash
  std::vector<uint16_t> head4_;  // the same for four bytes, beside five-byte chains
  TDeflateTrees trees_;
  TBitWriter bits_;

  TEncodeIO* io_ = nullptr;
  TLevel level_{};
  int packLevel_ = 0;
  int strstart_ = 0;
  int64_t blockStart_ = 0;  // negative once the block's first bytes slid out of the window
  int lookahead_ = 0;
  int matchStart_ = 0;
  bool eof_ = false;
  int highWater_ = 0;  // window bytes filled since they were last cleared
  // Up to this many bytes, an entry's table slots are cleared one by one afterwards.
  static constexpr int kPreciseClear = 1024;
};

}  // namespace quelt
