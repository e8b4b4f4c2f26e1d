#include "engine/DeflateEnc.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "engine/Errors.h"
#include "engine/MatchBytes.h"

namespace quelt {
namespace {

constexpr unsigned kWMask = 0x7FFF;
// The chains link positions by a hash of their next four bytes, so a walk meets few
// candidates that cannot give four; three-byte matches come from a single-entry side table
// that keeps the latest position of each three-byte hash. Levels 4 to 7 link by five bytes
// instead, with a side table for four-byte matches: the walks then skip the many candidates
// that repeat only four bytes (indentation, common words), and the nearest of those, which
// the side table keeps, is the one worth taking.
constexpr unsigned kHashBits = 15;
constexpr unsigned kHash3Bits = 15;
// Match comparison reads 16 bytes at a time and may run a few bytes past the last input byte.
constexpr size_t kWindowPad = 64;

inline uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
// Four bytes as a little-endian number whatever the machine, so hashes and thus the output
// are the same everywhere.
inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}
inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline unsigned hash5(const uint8_t* p) {
  uint64_t v = load64(p);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return unsigned(((v << 24) * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
}
inline unsigned hash4(const uint8_t* p) {
  return (load32(p) * 0x9E3779B1u) >> (32 - kHashBits);
}
inline unsigned hash3(const uint8_t* p) {
  return ((load32(p) << 8) * 0x9E3779B1u) >> (32 - kHash3Bits);
}
// Level 1's table: two entries per four-byte hash, side by side, in 2^kHashBits buckets.
inline unsigned bucketOf(uint32_t bytes) {
  return (bytes * 0x1E35A7BDu) >> (32 - kHashBits);
}
// Entries of head_ a level uses: level 1's buckets take twice the chain heads' room.
inline size_t headEntries(int level) {
  return size_t(level == 1 ? 2 : 1) << kHashBits;
}
template <bool kFive>
inline unsigned chainHash(const uint8_t* p) {
  if constexpr (kFive) {
    return hash5(p);
  } else {
    return hash4(p);
  }
}
// Links `pos` into its chain and makes it the latest of its side-table hashes, as the chain
// levels do for every position they pass. head4 is used with five-byte chains only.
template <bool kFive>
inline void insertPosition(const uint8_t* win, uint16_t* prev, uint16_t* head, uint16_t* head4,
                           uint16_t* head3, int pos) {
  const unsigned h = chainHash<kFive>(win + pos);
  prev[pos & kWMask] = head[h];
  head[h] = uint16_t(pos);
  if constexpr (kFive) head4[hash4(win + pos)] = uint16_t(pos);
  head3[hash3(win + pos)] = uint16_t(pos);
}

using matchbytes::commonLength;

// Skipping through data without matches: after kSkipAfter fruitless searches, one more byte is
// skipped per search for every 2^kSkipShift further ones, up to kMaxSkip.
constexpr int kSkipAfter = 64;
constexpr int kSkipShift = 2;
constexpr int kMaxSkip = 64;

}  // namespace

TDeflateEncoder::TDeflateEncoder()
    : window_(kWindowSize + kWindowPad),
      prev_(kWSize),
      head_(headEntries(1)),
      head3_(size_t(1) << kHash3Bits),
      head4_(size_t(1) << kHashBits) {}

void TDeflateEncoder::initMatcher(int packLevel) {
  // Parameters per level: good length, max lazy, nice length, max chain.
  static constexpr TLevel kLevels[10] = {
      {0, 0, 0, 0},    {4, 3, 16, 4},   {4, 5, 16, 8},     {4, 6, 32, 32},      {4, 4, 16, 16},
      {8, 16, 32, 32}, {8, 32, 96, 44}, {8, 32, 128, 256}, {16, 128, 258, 512}, {8, 258, 258, 1024},
  };
  level_ = kLevels[packLevel];

  // Every entry starts with empty tables, so its output depends on its own bytes only.
  forgetEntry();
  // Bytes left by the previous entry would still be compared past the end of this one.
  std::fill_n(window_.begin(), highWater_, uint8_t(0));
  highWater_ = 0;
  packLevel_ = packLevel;
  strstart_ = 0;
  blockStart_ = 0;
  matchStart_ = 0;
  eof_ = false;
  lookahead_ = 0;

  size_t n = io_->Read(window_.data(), kWSize);
  if (n > size_t(kWSize)) throw EAssertionFailed("read beyond the buffer");
  if (n == 0) {
    eof_ = true;
    return;
  }
  lookahead_ = int(n);
  highWater_ = lookahead_;
  if (lookahead_ < kMinLookahead) refillWindow();
}

// Empties the tables the previous entry used (the chain links need no clearing: a walk only
// reaches positions inserted since the tables were empty). After a small entry the slots its
// positions hash to are zeroed one by one, which costs far less than clearing the tables whole
// (192 KiB at levels 4 to 7). A small entry never slid, so its bytes are still in the window
// as they were when hashed, and the bytes past them are zero, as they were then.
void TDeflateEncoder::forgetEntry() {
  if (packLevel_ == 0) return;  // no entry yet; the tables start empty
  if (highWater_ > kPreciseClear) {
    auto clear = [](std::vector<uint16_t>& v) { std::fill(v.begin(), v.end(), uint16_t(0)); };
    std::fill_n(head_.begin(), headEntries(packLevel_), uint16_t(0));
    if (packLevel_ > 1) clear(head3_);
    if (fiveByteChains(packLevel_)) clear(head4_);
    return;
  }
  const uint8_t* const win = window_.data();
  uint16_t* const head = head_.data();
  if (packLevel_ == 1) {
    for (int p = 0; p < highWater_; ++p) {
      uint16_t* const bucket = head + 2 * bucketOf(load32(win + p));
      bucket[0] = bucket[1] = 0;
    }
    return;
  }
  const bool five = fiveByteChains(packLevel_);
  for (int p = 0; p < highWater_; ++p) {
    head[five ? hash5(win + p) : hash4(win + p)] = 0;
    head3_[hash3(win + p)] = 0;
    if (five) head4_[hash4(win + p)] = 0;
  }
}

void TDeflateEncoder::slideWindow() {
  uint8_t* win = window_.data();
  std::memcpy(win, win + kWSize, kWSize);
  matchStart_ -= kWSize;
  strstart_ -= kWSize;
  blockStart_ -= kWSize;
  // Entries that fall out of the window become empty chains. A saturating subtraction over a
  // fixed count, which compilers turn into vector code.
  auto rebase = [](uint16_t* v, size_t n) {
    for (size_t i = 0; i < n; ++i) v[i] = uint16_t(v[i] > kWSize ? v[i] - kWSize : 0);
  };
  rebase(head_.data(), headEntries(packLevel_));
  if (packLevel_ > 1) {
    rebase(head3_.data(), head3_.size());
    rebase(prev_.data(), prev_.size());
  }
  if (fiveByteChains(packLevel_)) rebase(head4_.data(), head4_.size());
}

// Keeps at least kMinLookahead bytes ahead of strstart while the source lasts, sliding the
// window down by half once strstart nears its end.
void TDeflateEncoder::refillWindow() {
  do {
    if (strstart_ + lookahead_ > kWindowSize) throw EAssertionFailed("a bit too far - deflate");
    int more = kWindowSize - lookahead_ - strstart_;
    if (strstart_ >= kWSize + kMaxDist) {
      slideWindow();
      more += kWSize;
    }
    if (eof_) break;
    if (more < 2) throw EAssertionFailed("more < 2");
    size_t n = io_->Read(window_.data() + strstart_ + lookahead_, size_t(more));
    if (n > size_t(more)) throw EAssertionFailed("read beyond the buffer");
    if (n == 0) {
      eof_ = true;
    } else {
      lookahead_ += int(n);
      highWater_ = std::max(highWater_, strstart_ + lookahead_);
    }
  } while (lookahead_ < kMinLookahead && !eof_);
}

// Walks the hash chain from chainStart for the longest match at `strstart` that beats
// prevLength; sets matchStart when it finds one. The result may exceed the lookahead.
inline int TDeflateEncoder::longestMatch(const uint8_t* win, const uint16_t* prev, int strstart,
                                         unsigned chainStart, int prevLength, const TLevel& level,
                                         int& matchStart) {
  if (strstart > kWindowSize - kMinLookahead) throw EAssertionFailed("Insufficient lookahead");
  if (int(chainStart) >= strstart) throw EAssertionFailed("No Future");

  unsigned chain = unsigned(level.maxChain);
  if (prevLength >= level.goodLength) chain >>= 2;
  const int nice = level.niceLength;
  const unsigned limit = strstart > kMaxDist ? unsigned(strstart - kMaxDist) : 0;
  const uint8_t* scan = win + strstart;
  int best = prevLength;
  // A candidate can only beat `best` if its four bytes ending at offset `best` match, and so
  // do its first four (a chain candidate with fewer is a hash collision; three-byte matches
  // come from the side table); testing those first skips most candidates without a loop.
  const uint32_t scanStart = load32(scan);
  int endAt = std::max(best - 3, 0);
  uint32_t scanEnd = load32(scan + endAt);
  unsigned cur = chainStart;
  for (;;) {
    const uint8_t* m = win + cur;
    // Fetched before the tests below so that a mispredicted test does not delay the walk.
    unsigned next = prev[cur & kWMask];
    if (load32(m + endAt) == scanEnd && load32(m) == scanStart) {
      int len = commonLength(scan, m);
      if (len > best) {
        matchStart = int(cur);
        best = len;
        if (len >= nice) break;
        endAt = best - 3;
        scanEnd = load32(scan + endAt);
      }
    }
    if (next <= limit || --chain == 0) break;
    cur = next;
  }
  return best;
}

// The side table's candidate for a three-byte match when the chains gave nothing; returns
// its length (at least 3), or 0.
inline int TDeflateEncoder::sideMatch(const uint8_t* win, int strstart, unsigned pos3,
                                      int maxDistance, int& matchStart) {
  if (pos3 == 0 || strstart - int(pos3) > maxDistance) return 0;
  const uint8_t* scan = win + strstart;
  const uint8_t* m = win + pos3;
  if (load16(m) != load16(scan) || m[2] != scan[2]) return 0;
  matchStart = int(pos3);
  return commonLength(scan, m);
}

// Whether `pos` has a four-byte match at one of the candidates `first` and `second` (the first
// two of its chain; with five-byte chains the second is left out as 0) or `fourth` (the
// four-byte side table's, 0 without one), or a three-byte one at most far3 back (at `third`):
// a cheap test for the positions that skipping would pass over. Without branches: which way
// the tests go is random in such data, and mispredicted branches would cost more than the
// loads. Position 0 never matches, so an empty candidate (0) only reads harmless bytes.
inline bool TDeflateEncoder::likelyMatch(const uint8_t* win, unsigned first, unsigned second,
                                         unsigned fourth, unsigned third, int pos, int far3) {
  const uint32_t bytes = load32(win + pos);
  auto four = [&](unsigned c) {
    return (c != 0) & (pos - int(c) <= kMaxDist) & (load32(win + c) == bytes);
  };
  const bool three =
      (third != 0) & (pos - int(third) <= far3) & ((load32(win + third) ^ bytes) << 8 == 0);
  return four(first) | four(second) | four(fourth) | three;
}

// Every match emitted is checked against the bytes it claims to repeat.
inline void TDeflateEncoder::verifyMatch(const uint8_t* win, int start, int match, int length) {
  if (!matchbytes::sameBytes(win + start, win + match, length)) [[unlikely]]
    invalidMatch(start, match, length);
}

void TDeflateEncoder::invalidMatch(int start, int match, int length) {
  char text[96];
  std::snprintf(text, sizeof text, "Start: %d, Match: %d, Length: %d", start, match, length);
  throw EInvalidMatch(text);
}

uint64_t TDeflateEncoder::endBlock(bool last) {
  const uint8_t* data = blockStart_ >= 0 ? window_.data() + blockStart_ : nullptr;
  return trees_.EmitBlock(bits_, data, uint64_t(strstart_ - blockStart_), last);
}

// The parse loops below work on local copies of the position state, which stay in registers;
// the members are brought up to date around the calls that use them.
#define QUELT_SAVE_STATE() (strstart_ = s, lookahead_ = la, blockStart_ = bs, matchStart_ = ms)
#define QUELT_LOAD_STATE() (s = strstart_, la = lookahead_, bs = blockStart_, ms = matchStart_)
// Emits the block held and starts the next one at s (the tally already handed its counters
// back when it said the block ends).
#define QUELT_END_BLOCK() (QUELT_SAVE_STATE(), endBlock(false), tally.Reload(), bs = s)
// Keeps the lookahead filled.
#define QUELT_REFILL()        \
  do {                        \
    if (la < kMinLookahead) { \
      QUELT_SAVE_STATE();     \
      refillWindow();         \
      QUELT_LOAD_STATE();     \
    }                         \
  } while (false)

// Lazy evaluation: a match found at one position is emitted only if the next position does
// not start a longer one.
template <bool kFive>
uint64_t TDeflateEncoder::deflateLazy() {
  uint8_t* const win = window_.data();
  uint16_t* const prev = prev_.data();
  uint16_t* const head = head_.data();
  uint16_t* const head3 = head3_.data();
  uint16_t* const head4 = head4_.data();
  auto insert = [&](int pos) { insertPosition<kFive>(win, prev, head, head4, head3, pos); };
  auto worthSearching = [&](int pos) {
    const unsigned first = head[chainHash<kFive>(win + pos)];
    return likelyMatch(win, first, kFive ? 0 : prev[first & kWMask],
                       kFive ? head4[hash4(win + pos)] : 0, head3[hash3(win + pos)], pos, kTooFar);
  };
  const TLevel level = level_;
  int s = strstart_, la = lookahead_, ms = matchStart_;
  int64_t bs = blockStart_;
  TDeflateTrees::TTally tally(trees_);
  int matchLength = kMinMatch - 1;
  bool matchAvailable = false;
  int misses = 0;  // searches in a row that found no match
  // The chain hash of position hashedAt, taken for the prefetch a step earlier.
  unsigned nextHash = 0;
  int hashedAt = -1;

  while (la > 0) {
    const unsigned h = s == hashedAt ? nextHash : chainHash<kFive>(win + s), h3 = hash3(win + s);
    const unsigned chainStart = head[h], pos3 = head3[h3];
    prev[s & kWMask] = uint16_t(chainStart);
    head[h] = uint16_t(s);
    head3[h3] = uint16_t(s);
    unsigned pos4 = 0;
    if constexpr (kFive) {
      const unsigned h4 = hash4(win + s);
      pos4 = head4[h4];
      head4[h4] = uint16_t(s);
    }
    nextHash = chainHash<kFive>(win + s + 1);
    hashedAt = s + 1;
    __builtin_prefetch(head + nextHash);
    __builtin_prefetch(win + chainStart);

    int prevLength = matchLength;
    int prevMatch = ms;
    matchLength = kMinMatch - 1;
    if (prevLength < level.maxLazy) {
      if (chainStart != 0 && s - int(chainStart) <= kMaxDist)
        matchLength = std::min(longestMatch(win, prev, s, chainStart, prevLength, level, ms), la);
      // With five-byte chains, a four-byte match comes from its side table.
      if (kFive && matchLength < 4 && prevLength < 4) {
        int at = ms;
        const int length = std::min(sideMatch(win, s, pos4, kMaxDist, at), la);
        if (length >= 4) matchLength = length, ms = at;
      }
      // Only a three-byte match can beat nothing at all. One further back than kTooFar costs
      // more bits than its three literals.
      if (matchLength < kMinMatch && prevLength < kMinMatch)
        matchLength = std::max(matchLength, std::min(sideMatch(win, s, pos3, kTooFar, ms), la));
      if (matchLength == kMinMatch && s - ms > kTooFar) matchLength = kMinMatch - 1;
      misses = matchLength >= kMinMatch ? 0 : misses + 1;
    }

    // A longer match at this position wins over the previous one unless it is only slightly
    // longer and much further back: its distance's extra bits can eat up what it gains.
    if (prevLength >= kMinMatch && matchLength > prevLength &&
        (matchLength - prevLength) * 3 < int(std::bit_width(unsigned(s - ms))) -
                                             int(std::bit_width(unsigned(s - 1 - prevMatch))))
      matchLength = prevLength;
    if (prevLength >= kMinMatch && matchLength <= prevLength) {
      // The chain head of the position after the match, which no prefetch has asked for.
      __builtin_prefetch(head + chainHash<kFive>(win + s - 1 + prevLength));
      verifyMatch(win, s - 1, prevMatch, prevLength);
      bool flush = tally.Match(unsigned(s - 1 - prevMatch), unsigned(prevLength - kMinMatch));
      la -= prevLength - 1;
      // Insert the strings inside the match too: later matches may start there.
      for (int k = prevLength - 2; k > 0; --k) insert(++s);
      matchAvailable = false;
      matchLength = kMinMatch - 1;
      ++s;
      if (flush) QUELT_END_BLOCK();
    } else if (matchAvailable) {
      // Where no match turned up for long, the data is likely incompressible: the next few
      // bytes become literals without a search (but still inserted, so that matches into
      // them are found once the data repeats), more the longer it lasts.
      int skip = 0;
      if (matchLength < kMinMatch && misses > kSkipAfter)
        skip = std::min({(misses - kSkipAfter) >> kSkipShift, kMaxSkip, la - 1});
      if (tally.Literal(win[s - 1])) QUELT_END_BLOCK();
      ++s;
      --la;
      for (; skip > 0 && !worthSearching(s); --skip) {
        if (tally.Literal(win[s - 1])) QUELT_END_BLOCK();
        insert(s);
        ++s;
        --la;
      }
    } else {
      matchAvailable = true;
      ++s;
      --la;
    }
    QUELT_REFILL();
  }
  if (matchAvailable) (void)tally.Literal(win[s - 1]);
  tally.Done();
  QUELT_SAVE_STATE();
  return endBlock(true);
}

// Greedy matching: every match found is taken; the strings inside long matches are not
// inserted.
uint64_t TDeflateEncoder::deflateQuick() {
  uint8_t* const win = window_.data();
  uint16_t* const prev = prev_.data();
  uint16_t* const head = head_.data();
  uint16_t* const head3 = head3_.data();
  auto insert = [&](int pos) { insertPosition<false>(win, prev, head, nullptr, head3, pos); };
  auto worthSearching = [&](int pos) {
    const unsigned first = head[hash4(win + pos)];
    return likelyMatch(win, first, prev[first & kWMask], 0, head3[hash3(win + pos)], pos, kMaxDist);
  };
  const TLevel level = level_;
  int s = strstart_, la = lookahead_, ms = matchStart_;
  int64_t bs = blockStart_;
  TDeflateTrees::TTally tally(trees_);
  int misses = 0;  // literals in a row

  while (la > 0) {
    const unsigned h = hash4(win + s), h3 = hash3(win + s);
    const unsigned chainStart = head[h], pos3 = head3[h3];
    prev[s & kWMask] = uint16_t(chainStart);
    head[h] = uint16_t(s);
    head3[h3] = uint16_t(s);

    // The branch-free test first: most positions of data that compresses badly have no
    // match, and the full search's tests would mispredict on them.
    int matchLength = 0;
    if (likelyMatch(win, chainStart, prev[chainStart & kWMask], 0, pos3, s, kMaxDist)) {
      if (chainStart != 0 && s - int(chainStart) <= kMaxDist)
        matchLength = longestMatch(win, prev, s, chainStart, kMinMatch - 1, level, ms);
      if (matchLength < kMinMatch) matchLength = sideMatch(win, s, pos3, kMaxDist, ms);
      matchLength = std::min(matchLength, la);
    }

    bool flush;
    if (matchLength >= kMinMatch) {
      __builtin_prefetch(head + hash4(win + s + matchLength));  // the next search's, as above
      verifyMatch(win, s, ms, matchLength);
      flush = tally.Match(unsigned(s - ms), unsigned(matchLength - kMinMatch));
      la -= matchLength;
      if (matchLength <= level.maxLazy) {
        for (int k = matchLength - 1; k > 0; --k) insert(++s);
        ++s;
      } else {
        s += matchLength;
      }
      misses = 0;
    } else {
      flush = tally.Literal(win[s]);
      --la;
      ++s;
      // As in the lazy loop: through data without matches, some bytes go unsearched.
      if (++misses > kSkipAfter) {
        int skip = std::min({(misses - kSkipAfter) >> kSkipShift, kMaxSkip, la});
        for (; skip > 0 && !worthSearching(s); --skip) {
          if (flush) QUELT_END_BLOCK();
          flush = tally.Literal(win[s]);
          insert(s);
          --la;
          ++s;
        }
      }
    }
    if (flush) QUELT_END_BLOCK();
    QUELT_REFILL();
  }
  tally.Done();
  QUELT_SAVE_STATE();
  return endBlock(true);
}

// Level 1: the two latest positions with the same four-byte hash are the only candidates, read
// from one cache line and taken greedily; no chains, no three-byte matches, no skipping (the
// test is already cheap), and of a match's inner positions only the last few are inserted.
uint64_t TDeflateEncoder::deflateFast() {
  uint8_t* const win = window_.data();
  uint16_t* const head = head_.data();
  const int inserted = level_.maxLazy;
  int s = strstart_, la = lookahead_, ms = matchStart_;
  int64_t bs = blockStart_;
  TDeflateTrees::TTally tally(trees_);

  // The loop keeps the end of the lookahead instead of its length, and takes the slow path
  // only once fewer than kMinLookahead bytes are left, so a position costs one test.
  int end = s + la;
  unsigned hash = 0;  // the bucket of the next position's four bytes
  for (int slowFrom = 0;;) {
    if (s >= slowFrom) {
      la = end - s;
      QUELT_REFILL();
      if (la <= 0) break;
      end = s + la;
      slowFrom = end - kMinLookahead + 1;
      hash = bucketOf(load32(win + s));  // the bytes it was taken from may have come in since
    }
    const uint32_t bytes = load32(win + s);
    uint16_t* const bucket = head + 2 * hash;
    hash = bucketOf(load32(win + s + 1));
    __builtin_prefetch(head + 2 * hash);
    const unsigned c0 = bucket[0], c1 = bucket[1];
    bucket[1] = uint16_t(c0);
    bucket[0] = uint16_t(s);
    const bool m0 = (c0 != 0) & (s - int(c0) <= kMaxDist) & (load32(win + c0) == bytes);
    const bool m1 = (c1 != 0) & (s - int(c1) <= kMaxDist) & (load32(win + c1) == bytes);
    int matchLength = 0;
    if (m0 | m1) {
      int best = 0;
      ms = int(c0);
      if (m0) best = commonLength(win + s, win + c0);
      // The further candidate can only be longer if its four bytes up to and including
      // offset `best` agree, which one load tells (m1 has already tested its first four).
      const int at = std::max(best - 3, 0);
      if (m1 && load32(win + c1 + at) == load32(win + s + at)) {
        const int l1 = commonLength(win + s, win + c1);
        if (l1 > best) best = l1, ms = int(c1);
      }
      matchLength = std::min(best, end - s);
    }

    bool flush;
    if (matchLength >= kMinMatch) {
      // The next search's bucket, fetched before the check and the count: the prefetch at
      // the loop's top is for the byte after this one, which the match passes over.
      __builtin_prefetch(head + 2 * bucketOf(load32(win + s + matchLength)));
      verifyMatch(win, s, ms, matchLength);
      flush = tally.Match(unsigned(s - ms), unsigned(matchLength - kMinMatch));
      s += matchLength;
      for (int k = std::min(inserted, matchLength - 1); k > 0; --k) {
        uint16_t* const b = head + 2 * bucketOf(load32(win + s - k));
        b[1] = b[0];
        b[0] = uint16_t(s - k);
      }
      // Hashed again rather than kept from the prefetch: kept, it made the loop slower.
      hash = bucketOf(load32(win + s));
    } else {
      flush = tally.Literal(win[s]);
      ++s;
    }
    if (flush) {
      la = end - s;
      QUELT_END_BLOCK();
    }
  }
  tally.Done();
  QUELT_SAVE_STATE();
  return endBlock(true);
}

#undef QUELT_SAVE_STATE
#undef QUELT_LOAD_STATE
#undef QUELT_END_BLOCK
#undef QUELT_REFILL

TDeflateResult TDeflateEncoder::Deflate(TEncodeIO& io, int packLevel) {
  const int level = std::clamp(packLevel, 1, 9);
  io_ = &io;
  bits_.Start(io);
  trees_.Start(level);
  initMatcher(level);
  uint64_t size = level == 1              ? deflateFast()
                  : level <= 3            ? deflateQuick()
                  : fiveByteChains(level) ? deflateLazy<true>()
                                          : deflateLazy<false>();

  TDeflateResult result;
  // The size is what was really handed over; the block decisions' own count must agree.
  result.CompressedSize = bits_.BytesWritten();
  if (result.CompressedSize != size || bits_.PendingBits() != 0)
    throw EAssertionFailed("compressed size does not match the bytes written");
  result.Method = trees_.Method();
  result.Flags = level <= 2 ? 4 : level >= 8 ? 2 : 0;
  result.InternalAttributes = trees_.InternalAttributes();
  return result;
}

}  // namespace quelt
