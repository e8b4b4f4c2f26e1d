// Inflate: a block-by-block decoder over a 64-bit bit buffer, for Deflate and Deflate64.
//
// States of one stream:
//   header   3 bits: final flag and block type; type 3 ends with kInflateBadCodes
//   stored   byte-align, LEN and its complement NLEN, then LEN bytes copied as they are
//   fixed    the fixed codes (tables built once per stream, on first use)
//   dynamic  the code-length code, the literal/length and distance code lengths, tables
//   codes    literal/length and distance symbols until end of block (fast and careful loop)
//   done     after the final block: output the rest
// Any failure returns its code at once; the caller's CRC check then rejects the entry.
//
// Bit buffer: bits are taken from the low end of `bitbuf_`; `bitsleft_` of them are valid.
// Bits above bitsleft_ are either zero or the low bits of the byte at `in_`, which the next
// refill ORs in again, so a refill never needs to clear them. Once the entry's bytes are
// used up, refills append zero bytes (counted in `phantom_`) so that codes near the end can
// be looked up with a full-width peek; consuming any of those bits is a data error.
//
// Output: one linear buffer, [history | chunk | slack]. Decoding starts at its front and
// runs to `limit_` (history + chunk); there what is not yet output is handed over and the
// last `history` bytes move to the front. Every byte a match may reach thus lies before the
// output position in one piece, and the slack behind the limit lets any match that starts
// before it be copied in whole words that run a little past its end. Stored bytes go to
// io.Output straight from the input and are copied into the buffer only as history; a
// stored block that reaches the limit continues at the front instead (see unwrap()).
#include "engine/Inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "engine/HuffTable.h"

namespace quelt {

namespace {

constexpr unsigned kMaxMatch = 258;  // longest Deflate match; Deflate64's go in pieces of this
constexpr unsigned kMaxCodeBits = 15;
constexpr size_t kChunk = size_t(1) << 18;
// A match of up to kMaxMatch bytes copied in pieces writes at most this far past its start.
constexpr size_t kSlack = kMaxMatch + 64;

// Root widths, fixed so that lookups mask with a constant: wide enough that nearly every
// code takes one lookup, small enough that the tables stay in the first-level cache and
// build quickly for small blocks.
constexpr unsigned kLitLenRootBits = 11;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kCodeLenRootBits = 7;
constexpr uint64_t kLitMask = (1u << kLitLenRootBits) - 1;
constexpr uint64_t kDistMask = (1u << kDistRootBits) - 1;

// Zero bytes allowed past the end of the data: enough for any peek, never consumed.
constexpr unsigned kMaxPhantomBytes = 8;

// Length symbols 257..287 (286 and 287 are invalid) and distance symbols 0..31 (30 and 31
// only in Deflate64). Deflate64 gives symbol 285 base 3 and 16 extra bits.
constexpr uint16_t kLengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                      17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                      99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr uint16_t kLength64Base[31] = {3,  4,   5,   6,   7,   8,   9,  10, 11, 13, 15,
                                        17, 19,  23,  27,  31,  35,  43, 51, 59, 67, 83,
                                        99, 115, 131, 163, 195, 227, 3,  0,  0};
constexpr uint8_t kLength64Extra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2,  2,  2, 2,
                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                    17,   25,   33,   49,    65,    97,    129,   193,
                                    257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};

// What each format changes.
template <bool k64>
struct TFormat {
  static constexpr size_t kHistory = k64 ? 65536 : 32768;
  static constexpr unsigned kDistCodes = k64 ? 32 : 30;
  static constexpr const uint16_t* kLenBase = k64 ? kLength64Base : kLengthBase;
  static constexpr const uint8_t* kLenExtra = k64 ? kLength64Extra : kLengthExtra;
  // Input one pass of the fast loop may load: one refill of 8 bytes, and in Deflate64 a
  // second one, since a length with 16 extra bits and a distance with 14 need 60 bits.
  static constexpr size_t kInputMargin = k64 ? 16 : 8;
};

// Stands in for a distance table built from all-zero lengths (a block of literals only):
// every lookup finds an invalid code, so a match in such a block is a data error.
constexpr auto kNoCodes = [] {
  std::array<uint32_t, size_t(1) << kDistRootBits> a{};
  a.fill(kHuffInvalid);
  return a;
}();

inline uint64_t loadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline void copyWord(uint8_t* dst, const uint8_t* src) {
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

inline void copy16(uint8_t* dst, const uint8_t* src) {
  uint8_t v[16];
  std::memcpy(v, src, 16);
  std::memcpy(dst, v, 16);
}

// Copies a match of n >= 1 bytes at distance dist (at most dst - the buffer's start) as a
// forward byte-by-byte copy would, in words: it may write up to 32 bytes past dst and 32 past
// the match's end. Those bytes lie ahead of the output position; later output replaces them.
[[gnu::always_inline]] inline void overCopy(uint8_t* dst, size_t dist, unsigned n) {
  const uint8_t* src = dst - dist;
  uint8_t* const end = dst + n;
  // Each piece read lies at least a piece's width behind the piece written, so it is final.
  if (dist >= 16) {
    copy16(dst, src);
    copy16(dst + 16, src + 16);
    while (dst + 32 < end) {
      dst += 32;
      src += 32;
      copy16(dst, src);
      copy16(dst + 16, src + 16);
    }
  } else if (dist >= 8) {
    copyWord(dst, src);
    copyWord(dst + 8, src + 8);
    copyWord(dst + 16, src + 16);
    copyWord(dst + 24, src + 24);
    while (dst + 32 < end) {
      dst += 8;
      src += 8;
      copyWord(dst + 24, src + 24);
    }
  } else if (dist == 1) {
    const uint64_t v = 0x0101010101010101ull * *src;
    do {
      std::memcpy(dst, &v, 8);
      std::memcpy(dst + 8, &v, 8);
      dst += 16;
    } while (dst < end);
  } else {
    // A short period: lay down one word of the pattern, then repeat it by the largest
    // multiple of the period that fits a word.
    for (unsigned i = 0; i < 8; ++i) dst[i] = src[i];
    static constexpr uint8_t kStep[8] = {0, 0, 8, 6, 8, 5, 6, 7};  // 8 / dist * dist
    const size_t step = kStep[dist];
    for (dst += step; dst < end; dst += step) copyWord(dst, dst - step);
  }
}

inline uint64_t lowBits(uint64_t v, unsigned n) {
  return v & ((uint64_t(1) << n) - 1);
}

// Tables of one block in the form the loops use; kNoCodes for no distance codes.
struct TCodes {
  const uint32_t* lit;
  const uint32_t* dist;
};

TCodes codesOf(const THuffTable& lit, const THuffTable& dist) {
  return {lit.entries(), dist.empty() ? kNoCodes.data() : dist.entries()};
}

// ---- The fast loop ----

struct TFastState {
  const uint8_t* in;
  const uint8_t* inEnd;
  uint64_t bitbuf;
  unsigned bitsleft;
  uint8_t* buf;
  uint8_t* out;    // next free byte of the buffer
  uint8_t* limit;  // passes start only below it
  // A Deflate64 match longer than kMaxMatch, decoded but left for the caller to copy.
  unsigned pendingLength;
  unsigned pendingDist;
};

enum class TFastEnd { kRoom, kBlockEnd, kError };

// While kInputMargin input bytes remain in the block and the output is below the limit, no
// step needs a bounds check.
//
// Every pass starts with at least 56 bits in the buffer and the entry for them already
// looked up, and ends with a refill, so table lookups overlap refills and copies. Budget
// per pass: up to three root-table literals take 3 * 11 bits; otherwise a literal/length
// code with its extra bits takes at most 15 + 5, and a distance code with its extra bits at
// most 15 + 13: 48 bits in all. Deflate64's lengths may take 15 + 16 and its distances
// 15 + 14, so it refills between the two when short.
//
// bitsleft holds the count in its low byte only: subtracting whole entries leaves garbage
// above it, which costs nothing and saves taking the byte out each time. Shifts mask their
// count to 6 bits, so `bitbuf >> (e & 63)` is one instruction; no entry drops 64 bits.
//
// Everything the loop uses lives in locals of a function of its own, so that none of it
// needs to stay in memory between symbols.
template <bool k64, bool kBmi2>
[[gnu::always_inline]] inline TFastEnd fastLoopBody(TFastState& st, const uint32_t* litTable,
                                                    const uint32_t* distTable) {
  using F = TFormat<k64>;
  static_assert(4 * kLitLenRootBits <= 56, "three literals and a lookup must fit a refill");
  if (size_t(st.inEnd - st.in) < F::kInputMargin || st.out >= st.limit) return TFastEnd::kRoom;
  const uint8_t* in = st.in;
  const uint8_t* const inLast = st.inEnd - F::kInputMargin;  // passes start at or before it
  uint64_t bitbuf = st.bitbuf;
  uint32_t bitsleft = st.bitsleft;
  uint8_t* out = st.out;
  uint8_t* const buf = st.buf;
  uint8_t* const outLimit = st.limit;
  TFastEnd result = TFastEnd::kRoom;

  // Takes as many whole bytes as fit; the partial one above stays for the next refill.
  auto refill = [&] {
    bitbuf |= loadLE64(in) << (bitsleft & 63);
    in += 7 - ((bitsleft >> 3) & 7);
    bitsleft |= 56;
  };
  auto consume = [&](uint32_t e) {
    bitbuf >>= (e & 63);
    bitsleft -= e;
  };
  // A base entry has no flags, so bits 8..13 hold just its code length. bzhi (keep the low
  // e & 0xFF bits) is written out because its intrinsic cannot be inlined here: this body is
  // not itself built for BMI2, only the function that takes it in.
  auto extraOf = [](uint64_t saved, uint32_t e) {
#if defined(__x86_64__) && defined(__GNUC__)
    if constexpr (kBmi2) {
      uint64_t low;
      asm("bzhi %q2, %1, %0" : "=r"(low) : "r"(saved), "r"(e));
      return unsigned(low >> ((e >> 8) & 63));
    }
#endif
    return unsigned(lowBits(saved, e & 63) >> ((e >> 8) & 63));
  };

  refill();
  uint32_t e = litTable[bitbuf & kLitMask];
  // The first refill may have used up the margin for the one at the end of a pass.
  while (in <= inLast && out < outLimit) {
    uint64_t saved = bitbuf;
    consume(e);
    if (e & kHuffLiteral) [[likely]] {
      unsigned v = huffValue(e);
      e = litTable[bitbuf & kLitMask];
      if (e & kHuffLiteral) {
        *out++ = uint8_t(v);
        consume(e);
        v = huffValue(e);
        e = litTable[bitbuf & kLitMask];
        if (e & kHuffLiteral) {
          *out++ = uint8_t(v);
          consume(e);
          v = huffValue(e);
          e = litTable[bitbuf & kLitMask];
        }
      }
      refill();
      *out++ = uint8_t(v);
      continue;
    }
    if (e & kHuffSubtable) {
      e = litTable[huffValue(e) + lowBits(bitbuf, huffCodeBits(e))];
      saved = bitbuf;
      consume(e);
      if (e & kHuffLiteral) {
        *out++ = uint8_t(huffValue(e));
        refill();
        e = litTable[bitbuf & kLitMask];
        continue;
      }
    }
    if (e & kHuffExceptional) {
      result = (e & kHuffEnd) ? TFastEnd::kBlockEnd : TFastEnd::kError;
      break;
    }
    const unsigned length = huffValue(e) + extraOf(saved, e);
    if constexpr (k64) {
      if (uint8_t(bitsleft) < kMaxCodeBits + 14) refill();
    }

    e = distTable[bitbuf & kDistMask];
    if (e & kHuffSubtable) {
      consume(e);
      e = distTable[huffValue(e) + lowBits(bitbuf, huffCodeBits(e))];
    }
    saved = bitbuf;
    consume(e);
    if (e & kHuffInvalid) {
      result = TFastEnd::kError;
      break;
    }
    const unsigned dist = huffValue(e) + extraOf(saved, e);
    if constexpr (k64) {
      if (length > kMaxMatch) {
        st.pendingLength = length;
        st.pendingDist = dist;
        break;
      }
    }

    if constexpr (k64) {
      refill();
      e = litTable[bitbuf & kLitMask];
    } else {
      // A refill fills all 64 bits of the buffer with stream bits and at most 48 went since,
      // so the next code's bits are still there: the lookup need not wait for the refill.
      e = litTable[bitbuf & kLitMask];
      refill();
    }
    if (dist > size_t(out - buf)) {
      result = TFastEnd::kError;  // before the entry's first byte
      break;
    }
    overCopy(out, dist, length);
    out += length;
  }

  st.in = in;
  st.bitbuf = bitbuf;
  st.bitsleft = uint8_t(bitsleft);
  st.out = out;
  return result;
}

template <bool k64>
[[gnu::noinline]] TFastEnd runFastLoopPlain(TFastState& st, const uint32_t* lit,
                                            const uint32_t* dist) {
  return fastLoopBody<k64, false>(st, lit, dist);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loop built for processors with the BMI2 shifts, which take their count from any
// register and leave the flags alone: fewer moves in the hottest code.
template <bool k64>
[[gnu::noinline, gnu::target("bmi2")]] TFastEnd runFastLoopBmi2(TFastState& st, const uint32_t* lit,
                                                                const uint32_t* dist) {
  return fastLoopBody<k64, true>(st, lit, dist);
}

bool haveBmi2() {
  static const bool have = __builtin_cpu_supports("bmi2");
  return have;
}

template <bool k64>
TFastEnd runFastLoop(TFastState& st, const TCodes& c, bool bmi2) {
  return bmi2 ? runFastLoopBmi2<k64>(st, c.lit, c.dist) : runFastLoopPlain<k64>(st, c.lit, c.dist);
}
#else
bool haveBmi2() {
  return false;
}

template <bool k64>
TFastEnd runFastLoop(TFastState& st, const TCodes& c, bool) {
  return runFastLoopPlain<k64>(st, c.lit, c.dist);
}
#endif

template <bool k64>
class TInflater {
  using F = TFormat<k64>;

 public:
  // bmi2: whether to run the fast loop built for processors with BMI2.
  TInflater(TDecodeIO& io, bool bmi2)
      : io_(io), bmi2_(bmi2), in_(io.inPos), inEnd_(io.inEnd), blockStart_(io.inPos) {}

  int run();

 private:
  int blocks();
  enum TStep { kContinue, kBlockEnd, kError };

  // --- input ---
  // Moves to the entry's next block of compressed bytes; false when there is none.
  bool nextInput() {
    if (inputDone_) return false;
    io_.inPos = in_;
    do {
      if (!io_.Refill()) {
        inputDone_ = true;  // in_ stays at the end of the last block
        return false;
      }
    } while (io_.inPos == io_.inEnd);
    in_ = blockStart_ = io_.inPos;
    inEnd_ = io_.inEnd;
    return true;
  }
  // Makes at least n <= 32 bits available, a word at a time while the input block has one,
  // else a byte at a time; false when that would need more zero bytes past the end of the
  // data than a peek can use.
  bool need(unsigned n) {
    if (bitsleft_ >= n) return true;
    if (inEnd_ - in_ >= 8) {
      // A whole word while the block has one: the bits above the count are the stream's
      // next bits, as the fast loop leaves them, so a later load ORs in the same bits.
      bitbuf_ |= loadLE64(in_) << bitsleft_;
      const unsigned bytes = (63 - bitsleft_) >> 3;
      in_ += bytes;
      bitsleft_ += 8 * bytes;
      return true;
    }
    while (bitsleft_ < n) {
      if (in_ != inEnd_ || nextInput()) {
        bitbuf_ |= uint64_t(*in_++) << bitsleft_;
      } else {
        if (phantom_ == kMaxPhantomBytes) return false;
        ++phantom_;
      }
      bitsleft_ += 8;
    }
    return true;
  }
  void drop(unsigned n) {
    bitbuf_ >>= n;
    bitsleft_ -= n;
  }
  // True once a bit past the end of the data has been consumed.
  bool overread() const { return bitsleft_ < 8 * phantom_; }
  // Takes n <= 32 bits; false when they are not there.
  bool take(unsigned n, uint32_t& v) {
    if (!need(n)) return false;
    v = uint32_t(lowBits(bitbuf_, n));
    drop(n);
    return !overread();
  }

  // --- output ---
  // Hands over what is not yet output and keeps the last kHistory bytes at the front.
  void slide() {
    io_.Output(flushed_, size_t(out_ - flushed_));
    std::memmove(buf_, out_ - F::kHistory, F::kHistory);
    out_ = flushed_ = buf_ + F::kHistory;
  }
  void slideIfFull() {
    if (out_ >= limit_) slide();
  }
  // Copies a match in pieces that fit the slack; false when it reaches before the entry's
  // first byte.
  bool copyMatch(unsigned len, unsigned dist);

  // --- blocks ---
  // `last`: the stream's final block, after which no match can look back.
  int storedBlock(bool last);
  int fixedBlock();
  int dynamicBlock();
  int decodeCodes(const TCodes& c);
  void unwrap();
  TStep fastLoop(const TCodes& c);
  TStep slowSymbol(const TCodes& c);

  TDecodeIO& io_;
  const bool bmi2_;
  const uint8_t* in_;
  const uint8_t* inEnd_;
  const uint8_t* blockStart_;
  bool inputDone_ = false;
  uint64_t bitbuf_ = 0;
  unsigned bitsleft_ = 0;
  unsigned phantom_ = 0;

  std::unique_ptr<uint8_t[]> storage_;
  uint8_t* buf_ = nullptr;
  uint8_t* limit_ = nullptr;
  uint8_t* out_ = nullptr;      // next free byte; out_ < limit_ between steps
  uint8_t* flushed_ = nullptr;  // bytes before this have been output
  bool wrapped_ = false;        // the history may continue at the buffer's end: see unwrap()

  THuffTable lit_, dist_, codeLen_;
  THuffTable fixedLit_, fixedDist_;
};

template <bool k64>
int TInflater<k64>::run() {
  try {
    lit_.reserve(size_t(1) << (kLitLenRootBits + 1));
    dist_.reserve(size_t(1) << (kDistRootBits + 1));
  } catch (const std::bad_alloc&) {
    return kInflateNoMemory;
  }
  storage_.reset(new (std::nothrow) uint8_t[F::kHistory + kChunk + kSlack]);
  if (!storage_) return kInflateNoMemory;
  buf_ = out_ = flushed_ = storage_.get();
  limit_ = buf_ + F::kHistory + kChunk;

  int r = blocks();
  if (r != kInflateOk) {
    io_.inPos = in_;
    return r;
  }
  // Give back the whole bytes fetched but not used, as far as they are in the current block.
  size_t unused = bitsleft_ / 8 - phantom_;
  io_.inPos = in_ - std::min(unused, size_t(in_ - blockStart_));
  io_.Output(flushed_, size_t(out_ - flushed_));
  io_.FlushOutput();
  return kInflateOk;
}

template <bool k64>
int TInflater<k64>::blocks() {
  for (;;) {
    uint32_t header;
    if (!take(3, header)) return kInflateBadData;
    int r;
    switch (header >> 1) {
      case 0:
        r = storedBlock(header & 1);
        break;
      case 1:
        r = fixedBlock();
        break;
      case 2:
        r = dynamicBlock();
        break;
      default:
        r = kInflateBadCodes;
        break;
    }
    if (r != kInflateOk || (header & 1)) return r;
  }
}

template <bool k64>
int TInflater<k64>::storedBlock(bool last) {
  drop(bitsleft_ & 7);
  uint32_t len, nlen;
  if (!take(16, len) || !take(16, nlen)) return kInflateBadData;
  if (nlen != (~len & 0xFFFF)) return kInflateBadData;
  // Whole bytes already in the bit buffer come first.
  while (len > 0 && bitsleft_ >= 8) {
    if (bitsleft_ - 8 < 8 * phantom_) return kInflateBadData;
    *out_++ = uint8_t(bitbuf_);
    drop(8);
    --len;
    slideIfFull();
  }
  if (len == 0) return kInflateOk;
  // The bit buffer is empty; clear the partial byte above it, which the copy takes from in_.
  bitbuf_ = 0;
  // Stored bytes go to the output straight from the input, so what is pending goes first.
  io_.Output(flushed_, size_t(out_ - flushed_));
  flushed_ = out_;
  // Bytes no later match can reach need not pass through the buffer at all. That is the
  // whole of a final block, and all but the last kHistory bytes of another, whose last
  // kHistory bytes become the whole history.
  const uint32_t keep = last ? 0 : F::kHistory;
  if (len > keep) {
    if (!last) {
      out_ = flushed_ = buf_;
      wrapped_ = false;
    }
    while (len > keep) {
      if (in_ == inEnd_ && !nextInput()) return kInflateBadData;
      size_t n = std::min(size_t(len - keep), size_t(inEnd_ - in_));
      io_.Output(in_, n);
      in_ += n;
      len -= uint32_t(n);
    }
  }
  // The rest is kept as history as well. At the buffer's end the copy starts again at its
  // front instead of moving the history there: a run of stored blocks usually refills those
  // bytes before any match needs them, and unwrap() mends the history when it does not.
  while (len > 0) {
    if (in_ == inEnd_ && !nextInput()) return kInflateBadData;
    size_t n = std::min({size_t(len), size_t(inEnd_ - in_), size_t(limit_ - out_)});
    io_.Output(in_, n);
    std::memcpy(out_, in_, n);
    in_ += n;
    out_ = flushed_ = out_ + n;
    len -= uint32_t(n);
    if (out_ == limit_) {
      out_ = flushed_ = buf_;
      wrapped_ = true;
    }
  }
  return kInflateOk;
}

// After a wrap the history is the end of the buffer followed by its front; matches need it in
// one piece behind out_. Once the front alone holds kHistory bytes, the end is not needed.
template <bool k64>
void TInflater<k64>::unwrap() {
  wrapped_ = false;
  const size_t front = size_t(out_ - buf_);
  if (front >= F::kHistory) return;
  const size_t need = F::kHistory - front;
  std::memmove(buf_ + need, buf_, front);
  std::memcpy(buf_, limit_ - need, need);
  out_ += need;
  flushed_ += need;
}

template <bool k64>
int TInflater<k64>::fixedBlock() {
  if (fixedLit_.empty()) {
    uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    unsigned m = kLitLenRootBits;
    int r = BuildTable(lengths, 288, 257, F::kLenBase, F::kLenExtra, fixedLit_, m, true);
    if (r != kHuffOk) return r;
    std::memset(lengths, 5, 32);
    m = kDistRootBits;
    // Distance codes 30 and 31 exist in the fixed code; in Deflate they mean nothing, so
    // the set is incomplete by design and their patterns decode as invalid.
    r = BuildTable(lengths, F::kDistCodes, 0, kDistBase, kDistExtra, fixedDist_, m, true);
    if (r > kHuffIncomplete) {
      FreeTable(fixedLit_);
      return r;
    }
  }
  return decodeCodes(codesOf(fixedLit_, fixedDist_));
}

template <bool k64>
int TInflater<k64>::dynamicBlock() {
  uint32_t v;
  if (!take(14, v)) return kInflateBadData;
  const unsigned nlit = 257 + (v & 31), ndist = 1 + ((v >> 5) & 31), nclen = 4 + (v >> 10);
  if (nlit > 286 || ndist > F::kDistCodes) return kInflateBadData;

  uint8_t lengths[286 + 32] = {};
  for (unsigned i = 0; i < nclen; ++i) {
    if (!take(3, v)) return kInflateBadData;
    lengths[kCodeLenOrder[i]] = uint8_t(v);
  }
  unsigned m = kCodeLenRootBits;
  int r = BuildTable(lengths, 19, 19, nullptr, nullptr, codeLen_, m);
  if (r != kHuffOk) return r;
  // No code-length codes at all leaves nothing to read the lengths with.
  if (codeLen_.empty()) return kInflateBadData;

  std::memset(lengths, 0, 19);
  const unsigned total = nlit + ndist;
  unsigned prev = 0;
  for (unsigned i = 0; i < total;) {
    if (!need(7)) return kInflateBadData;
    THuffCode c = codeLen_.decode(bitbuf_);
    if (c.entry & kHuffInvalid) return kInflateBadData;  // the unused half of a 1-bit code
    drop(c.length);
    if (overread()) return kInflateBadData;
    unsigned sym = huffValue(c.entry), repeat;
    if (sym < 16) {
      lengths[i++] = uint8_t(prev = sym);
      continue;
    }
    if (sym == 16) {
      // Repeating the previous length needs one: the first length cannot be a repeat.
      if (i == 0 || !take(2, v)) return kInflateBadData;
      repeat = 3 + v;
    } else {
      if (!take(sym == 17 ? 3 : 7, v)) return kInflateBadData;
      repeat = (sym == 17 ? 3 : 11) + v;
      prev = 0;
    }
    if (i + repeat > total) return kInflateBadData;
    std::memset(lengths + i, int(prev), repeat);
    i += repeat;
  }

  m = kLitLenRootBits;
  r = BuildTable(lengths, nlit, 257, F::kLenBase, F::kLenExtra, lit_, m, true);
  if (r != kHuffOk) return r;
  // Without literal/length codes the block could never end.
  if (lit_.empty()) return kInflateBadData;
  m = kDistRootBits;
  r = BuildTable(lengths + nlit, ndist, 0, kDistBase, kDistExtra, dist_, m, true);
  if (r != kHuffOk) return r;
  return decodeCodes(codesOf(lit_, dist_));
}

template <bool k64>
int TInflater<k64>::decodeCodes(const TCodes& c) {
  if (wrapped_) unwrap();
  for (;;) {
    TStep s = fastLoop(c);
    if (s == kContinue) s = slowSymbol(c);
    if (s == kBlockEnd) return kInflateOk;
    if (s == kError) return kInflateBadData;
  }
}

template <bool k64>
bool TInflater<k64>::copyMatch(unsigned len, unsigned dist) {
  if (dist > size_t(out_ - buf_)) return false;  // before the entry's first byte
  while (len > 0) {
    const unsigned piece = std::min(len, kMaxMatch);
    overCopy(out_, dist, piece);
    out_ += piece;
    len -= piece;
    slideIfFull();  // keeps dist reachable: a slide leaves kHistory bytes behind out_
  }
  return true;
}

// One symbol with every step checked: used near the end of an input block, at the end of
// the buffer, and past the end of the data.
template <bool k64>
typename TInflater<k64>::TStep TInflater<k64>::slowSymbol(const TCodes& c) {
  if (!need(kMaxCodeBits)) return kError;
  uint32_t e = c.lit[bitbuf_ & kLitMask];
  unsigned len = huffCodeBits(e);
  if (e & kHuffSubtable) {
    uint32_t sub = c.lit[huffValue(e) + ((bitbuf_ >> huffBits(e)) & ((1u << huffCodeBits(e)) - 1))];
    len = huffBits(e) + huffCodeBits(sub);
    e = sub;
  }
  if (e & kHuffInvalid) return kError;
  drop(len);
  if (overread()) return kError;
  if (e & kHuffLiteral) {
    *out_++ = uint8_t(huffValue(e));
    slideIfFull();
    return kContinue;
  }
  if (e & kHuffEnd) return kBlockEnd;

  uint32_t extra;
  if (!take(huffExtraBits(e), extra)) return kError;
  unsigned length = huffValue(e) + extra;

  if (!need(kMaxCodeBits)) return kError;
  e = c.dist[bitbuf_ & kDistMask];
  len = huffCodeBits(e);
  if (e & kHuffSubtable) {
    uint32_t sub =
        c.dist[huffValue(e) + ((bitbuf_ >> huffBits(e)) & ((1u << huffCodeBits(e)) - 1))];
    len = huffBits(e) + huffCodeBits(sub);
    e = sub;
  }
  if (e & kHuffInvalid) return kError;
  drop(len);
  if (overread() || !take(huffExtraBits(e), extra)) return kError;
  return copyMatch(length, huffValue(e) + extra) ? kContinue : kError;
}

// Runs the fast loop on the decoder's state.
template <bool k64>
typename TInflater<k64>::TStep TInflater<k64>::fastLoop(const TCodes& c) {
  TFastState st{in_, inEnd_, bitbuf_, bitsleft_, buf_, out_, limit_, 0, 0};
  TFastEnd end = runFastLoop<k64>(st, c, bmi2_);
  in_ = st.in;
  bitbuf_ = st.bitbuf;
  bitsleft_ = st.bitsleft;
  out_ = st.out;
  if (st.pendingLength && !copyMatch(st.pendingLength, st.pendingDist)) return kError;
  slideIfFull();
  return end == TFastEnd::kRoom ? kContinue : end == TFastEnd::kBlockEnd ? kBlockEnd : kError;
}

}  // namespace

int Inflate(TDecodeIO& io) {
  TInflater<false> inflater(io, haveBmi2());
  return inflater.run();
}

int Inflate64(TDecodeIO& io) {
  TInflater<true> inflater(io, haveBmi2());
  return inflater.run();
}

int InflatePortable(TDecodeIO& io, bool deflate64) {
  if (deflate64) {
    TInflater<true> inflater(io, false);
    return inflater.run();
  }
  TInflater<false> inflater(io, false);
  return inflater.run();
}

}  // namespace quelt
