// Inflate: a block-by-block decoder over a 64-bit bit buffer.
//
// States of one stream:
//   header   3 bits: final flag and block type; type 3 ends with kInflateBadCodes
//   stored   byte-align, LEN and its complement NLEN, then LEN bytes copied as they are
//   fixed    the fixed codes (tables built once per stream, on first use)
//   dynamic  the code-length code, the literal/length and distance code lengths, tables
//   codes    literal/length and distance symbols until end of block (fast and careful loop)
//   done     after the final block: flush the window and the output
// Any failure returns its code at once; the caller's CRC check then rejects the entry.
//
// Bit buffer: bits are taken from the low end of `bitbuf_`; `bitsleft_` of them are valid.
// Bits above bitsleft_ are either zero or the low bits of the byte at `in_`, which the next
// refill ORs in again, so a refill never needs to clear them. Once the entry's bytes are
// used up, refills append zero bytes (counted in `phantom_`) so that codes near the end can
// be looked up with a full-width peek; consuming any of those bits is a data error.
#include "engine/Inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "engine/HuffTable.h"

namespace quelt {

namespace {

constexpr unsigned kWindow = unsigned(TDecodeIO::kWindowSize);
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMaxCodeBits = 15;

// Root widths: wide enough that nearly every code takes one lookup, small enough that the
// tables stay in the first-level cache and build quickly for small blocks.
constexpr unsigned kLitLenRootBits = 10;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kCodeLenRootBits = 7;

// Zero bytes allowed past the end of the data: enough for any peek, never consumed.
constexpr unsigned kMaxPhantomBytes = 8;

// One pass of the fast loop writes up to 3 literals or one match; below this window
// position that fits.
constexpr unsigned kFastWindowLimit = kWindow - kMaxMatch;
// It refills once, loading 8 bytes.
constexpr size_t kFastInputMargin = 8;

// Length symbols 257..287 (286 and 287 are invalid) and distance symbols 0..29.
constexpr uint16_t kLengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                      17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                      99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};

// Stands in for a distance table built from all-zero lengths (a block of literals only):
// every lookup finds an invalid code, so a match in such a block is a data error.
constexpr uint32_t kNoCodes[1] = {kHuffInvalid};

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

inline void copy4(uint8_t* dst, const uint8_t* src) {
  uint32_t v;
  std::memcpy(&v, src, 4);
  std::memcpy(dst, &v, 4);
}

// Copies n >= 1 bytes from src to dst within the window as a forward byte-by-byte copy
// would, writing nothing outside dst..dst+n: the bytes past a match are the window's
// previous lap, which later matches may still reach. Words are used where source and
// destination are at least a word apart, since a word then never reads a byte this copy
// has yet to write (or has already overwritten, when the source lies ahead).
inline void copyBytes(uint8_t* dst, const uint8_t* src, unsigned n) {
  uint8_t* const end = dst + n;
  const size_t apart = dst > src ? size_t(dst - src) : size_t(src - dst);
  if (apart >= 16 && n > 16) {
    while (dst < end - 16) {
      copy16(dst, src);
      dst += 16;
      src += 16;
    }
    copy16(end - 16, src + (end - 16 - dst));
  } else if (apart >= 8) {
    if (n >= 8) {
      while (dst < end - 8) {
        copyWord(dst, src);
        dst += 8;
        src += 8;
      }
      copyWord(end - 8, src + (end - 8 - dst));
    } else if (n >= 4) {
      copy4(dst, src);
      copy4(end - 4, src + n - 4);
    } else {
      for (unsigned i = 0; i < n; ++i) dst[i] = src[i];
    }
  } else if (dst == src + 1) {
    std::memset(dst, *src, n);
  } else if (dst != src) {
    for (unsigned i = 0; i < n; ++i) dst[i] = src[i];
  }
}

inline uint64_t lowBits(uint64_t v, unsigned n) {
  return v & ((uint64_t(1) << n) - 1);
}

// Tables of one block in the form the loops use; a root mask of 0 with kNoCodes for none.
struct TCodes {
  const uint32_t* lit;
  unsigned litMask;
  const uint32_t* dist;
  unsigned distMask;
};

TCodes codesOf(const THuffTable& lit, const THuffTable& dist) {
  TCodes c{lit.entries(), (1u << lit.rootBits()) - 1, kNoCodes, 0};
  if (!dist.empty()) {
    c.dist = dist.entries();
    c.distMask = (1u << dist.rootBits()) - 1;
  }
  return c;
}

// ---- The fast loop ----

struct TFastState {
  const uint8_t* in;
  const uint8_t* inEnd;
  uint64_t bitbuf;
  unsigned bitsleft;
  uint8_t* win;
  uint8_t* out;  // next free byte of the window
  bool wrapped;  // a whole window has been written
};

enum class TFastEnd { kRoom, kBlockEnd, kError };

// While kFastInputMargin input bytes remain in the block and the window has room for a
// whole match, no step needs a bounds check.
//
// Every pass starts with at least 56 bits in the buffer and the entry for them already
// looked up, and ends with a refill, so table lookups overlap refills and copies. Budget
// per pass: up to three root-table literals take 3 * 10 bits; otherwise a literal/length
// code with its extra bits takes at most 10 + 5 + 5 (root, sub-table, extra), and a
// distance code with its extra bits at most 15 + 13: 48 bits in all.
//
// bitsleft holds the count in its low byte only: subtracting whole entries leaves garbage
// above it, which costs nothing and saves taking the byte out each time.
TFastEnd runFastLoop(TFastState& st, const TCodes& c) {
  static_assert(4 * kLitLenRootBits <= 56, "three literals and a lookup must fit a refill");
  const uint8_t* in = st.in;
  const uint8_t* const inEnd = st.inEnd;
  uint64_t bitbuf = st.bitbuf;
  uint32_t bitsleft = st.bitsleft;
  uint8_t* out = st.out;
  uint8_t* const win = st.win;
  uint8_t* const outLimit = win + kFastWindowLimit;
  const uint32_t* const litTable = c.lit;
  const uint32_t* const distTable = c.dist;
  const uint64_t litMask = c.litMask, distMask = c.distMask;
  TFastEnd result = TFastEnd::kRoom;

  auto roomToRun = [&] { return size_t(inEnd - in) >= kFastInputMargin && out <= outLimit; };
  // Takes as many whole bytes as fit; the partial one above stays for the next refill.
  auto refill = [&] {
    bitbuf |= loadLE64(in) << uint8_t(bitsleft);
    in += 7 - ((bitsleft >> 3) & 7);
    bitsleft |= 56;
  };
  auto consume = [&](uint32_t e) {
    bitbuf >>= uint8_t(e);
    bitsleft -= e;
  };
  auto subEntry = [&](const uint32_t* table, uint32_t link) {
    return table[huffValue(link) + lowBits(bitbuf, huffCodeBits(link))];
  };
  auto extraOf = [](uint64_t saved, uint32_t e) {
    return unsigned(lowBits(saved, huffBits(e)) >> huffCodeBits(e));
  };

  if (!roomToRun()) return result;
  refill();
  uint32_t e = litTable[bitbuf & litMask];
  // The first refill may have used up the margin for the one at the end of a pass.
  while (roomToRun()) {
    uint64_t saved = bitbuf;
    consume(e);
    if (e & kHuffLiteral) {
      unsigned v = huffValue(e);
      e = litTable[bitbuf & litMask];
      if (e & kHuffLiteral) {
        *out++ = uint8_t(v);
        consume(e);
        v = huffValue(e);
        e = litTable[bitbuf & litMask];
        if (e & kHuffLiteral) {
          *out++ = uint8_t(v);
          consume(e);
          v = huffValue(e);
          e = litTable[bitbuf & litMask];
        }
      }
      refill();
      *out++ = uint8_t(v);
      continue;
    }
    if (e & kHuffSubtable) {
      e = subEntry(litTable, e);
      saved = bitbuf;
      consume(e);
      if (e & kHuffLiteral) {
        *out++ = uint8_t(huffValue(e));
        refill();
        e = litTable[bitbuf & litMask];
        continue;
      }
    }
    if (e & kHuffExceptional) {
      result = (e & kHuffEnd) ? TFastEnd::kBlockEnd : TFastEnd::kError;
      break;
    }
    const unsigned length = huffValue(e) + extraOf(saved, e);

    e = distTable[bitbuf & distMask];
    if (e & kHuffSubtable) {
      consume(e);
      e = subEntry(distTable, e);
    }
    saved = bitbuf;
    consume(e);
    if (e & kHuffInvalid) {
      result = TFastEnd::kError;
      break;
    }
    const unsigned dist = huffValue(e) + extraOf(saved, e);

    refill();
    e = litTable[bitbuf & litMask];
    const size_t w = size_t(out - win);
    if (dist <= w) {
      copyBytes(out, out - dist, length);
    } else {
      // The source starts in the window's previous lap, near its end, and may run on
      // into its start.
      if (!st.wrapped) {
        result = TFastEnd::kError;  // before the entry's first byte
        break;
      }
      const size_t from = w + kWindow - dist;
      const unsigned first = unsigned(std::min<size_t>(length, kWindow - from));
      copyBytes(out, win + from, first);
      if (first < length) copyBytes(out + first, win, length - first);
    }
    out += length;
  }

  st.in = in;
  st.bitbuf = bitbuf;
  st.bitsleft = uint8_t(bitsleft);
  st.out = out;
  return result;
}

class TInflater {
 public:
  explicit TInflater(TDecodeIO& io)
      : io_(io), in_(io.inPos), inEnd_(io.inEnd), blockStart_(io.inPos), win_(io.WorkArea()) {}

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
  // Makes at least n <= 32 bits available, a byte at a time; false when that would need
  // more zero bytes past the end of the data than a peek can use.
  bool need(unsigned n) {
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
  void flushIfFull() {
    if (w_ == kWindow) {
      io_.FlushWindow(kWindow);
      w_ = 0;
      wrapped_ = true;
    }
  }
  // Copies a match as if byte by byte, in pieces that cross neither end of the window;
  // false when it reaches before the entry's first byte.
  bool copyMatch(unsigned len, unsigned dist);

  // --- blocks ---
  int storedBlock();
  int fixedBlock();
  int dynamicBlock();
  int decodeCodes(const TCodes& c);
  TStep fastLoop(const TCodes& c);
  TStep slowSymbol(const TCodes& c);

  TDecodeIO& io_;
  const uint8_t* in_;
  const uint8_t* inEnd_;
  const uint8_t* blockStart_;
  bool inputDone_ = false;
  uint64_t bitbuf_ = 0;
  unsigned bitsleft_ = 0;
  unsigned phantom_ = 0;

  uint8_t* const win_;
  unsigned w_ = 0;        // next free byte of the window
  bool wrapped_ = false;  // a whole window has been written: every distance can be reached

  THuffTable lit_, dist_, codeLen_;
  THuffTable fixedLit_, fixedDist_;
};

int TInflater::run() {
  try {
    lit_.reserve(size_t(1) << (kLitLenRootBits + 1));
    dist_.reserve(size_t(1) << (kDistRootBits + 1));
  } catch (const std::bad_alloc&) {
    return kInflateNoMemory;
  }
  int r = blocks();
  if (r != kInflateOk) {
    io_.inPos = in_;
    return r;
  }
  // Give back the whole bytes fetched but not used, as far as they are in the current block.
  size_t unused = bitsleft_ / 8 - phantom_;
  io_.inPos = in_ - std::min(unused, size_t(in_ - blockStart_));
  io_.FlushWindow(w_);
  io_.FlushOutput();
  return kInflateOk;
}

int TInflater::blocks() {
  for (;;) {
    uint32_t header;
    if (!take(3, header)) return kInflateBadData;
    int r;
    switch (header >> 1) {
      case 0:
        r = storedBlock();
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

int TInflater::storedBlock() {
  drop(bitsleft_ & 7);
  uint32_t len, nlen;
  if (!take(16, len) || !take(16, nlen)) return kInflateBadData;
  if (nlen != (~len & 0xFFFF)) return kInflateBadData;
  // Whole bytes already in the bit buffer come first.
  while (len > 0 && bitsleft_ >= 8) {
    if (bitsleft_ - 8 < 8 * phantom_) return kInflateBadData;
    win_[w_++] = uint8_t(bitbuf_);
    drop(8);
    --len;
    flushIfFull();
  }
  if (len == 0) return kInflateOk;
  // The bit buffer is empty; clear the partial byte above it, which the copy takes from in_.
  bitbuf_ = 0;
  // Bytes that the rest of this block pushes out of the window anyway need not pass through
  // it: they go straight to the output, and the block's last 32768 bytes refill the window.
  if (len > kWindow) {
    io_.FlushWindow(w_);
    w_ = 0;
    while (len > kWindow) {
      if (in_ == inEnd_ && !nextInput()) return kInflateBadData;
      size_t n = std::min(size_t(len - kWindow), size_t(inEnd_ - in_));
      io_.Output(in_, n);
      in_ += n;
      len -= uint32_t(n);
    }
  }
  while (len > 0) {
    if (in_ == inEnd_ && !nextInput()) return kInflateBadData;
    size_t n = std::min({size_t(len), size_t(inEnd_ - in_), size_t(kWindow - w_)});
    std::memcpy(win_ + w_, in_, n);
    in_ += n;
    w_ += unsigned(n);
    len -= uint32_t(n);
    flushIfFull();
  }
  return kInflateOk;
}

int TInflater::fixedBlock() {
  if (fixedLit_.empty()) {
    uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    unsigned m = kLitLenRootBits;
    int r = BuildTable(lengths, 288, 257, kLengthBase, kLengthExtra, fixedLit_, m);
    if (r != kHuffOk) return r;
    std::memset(lengths, 5, 30);
    m = kDistRootBits;
    // Distance codes 30 and 31 exist in the fixed code but mean nothing: the set is
    // incomplete by design and their patterns decode as invalid.
    r = BuildTable(lengths, 30, 0, kDistBase, kDistExtra, fixedDist_, m);
    if (r > kHuffIncomplete) {
      FreeTable(fixedLit_);
      return r;
    }
  }
  return decodeCodes(codesOf(fixedLit_, fixedDist_));
}

int TInflater::dynamicBlock() {
  uint32_t v;
  if (!take(14, v)) return kInflateBadData;
  const unsigned nlit = 257 + (v & 31), ndist = 1 + ((v >> 5) & 31), nclen = 4 + (v >> 10);
  if (nlit > 286 || ndist > 30) return kInflateBadData;

  uint8_t lengths[286 + 30] = {};
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
      if (!take(2, v)) return kInflateBadData;
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
  r = BuildTable(lengths, nlit, 257, kLengthBase, kLengthExtra, lit_, m);
  if (r != kHuffOk) return r;
  // Without literal/length codes the block could never end.
  if (lit_.empty()) return kInflateBadData;
  m = kDistRootBits;
  r = BuildTable(lengths + nlit, ndist, 0, kDistBase, kDistExtra, dist_, m);
  if (r != kHuffOk) return r;
  return decodeCodes(codesOf(lit_, dist_));
}

int TInflater::decodeCodes(const TCodes& c) {
  for (;;) {
    TStep s = fastLoop(c);
    if (s == kContinue) s = slowSymbol(c);
    if (s == kBlockEnd) return kInflateOk;
    if (s == kError) return kInflateBadData;
  }
}

bool TInflater::copyMatch(unsigned len, unsigned dist) {
  if (dist > w_ && !wrapped_) return false;  // before the entry's first byte
  while (len > 0) {
    unsigned from = (w_ - dist) & (kWindow - 1);
    unsigned piece = std::min(len, kWindow - std::max(from, w_));
    copyBytes(win_ + w_, win_ + from, piece);
    w_ += piece;
    len -= piece;
    flushIfFull();
  }
  return true;
}

// One symbol with every step checked: used near the end of an input block, near the end
// of the window, and past the end of the data.
TInflater::TStep TInflater::slowSymbol(const TCodes& c) {
  if (!need(kMaxCodeBits)) return kError;
  uint32_t e = c.lit[bitbuf_ & c.litMask];
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
    win_[w_++] = uint8_t(huffValue(e));
    flushIfFull();
    return kContinue;
  }
  if (e & kHuffEnd) return kBlockEnd;

  uint32_t extra;
  if (!take(huffExtraBits(e), extra)) return kError;
  unsigned length = huffValue(e) + extra;

  if (!need(kMaxCodeBits)) return kError;
  e = c.dist[bitbuf_ & c.distMask];
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
TInflater::TStep TInflater::fastLoop(const TCodes& c) {
  TFastState st{in_, inEnd_, bitbuf_, bitsleft_, win_, win_ + w_, wrapped_};
  TFastEnd end = runFastLoop(st, c);
  in_ = st.in;
  bitbuf_ = st.bitbuf;
  bitsleft_ = st.bitsleft;
  w_ = unsigned(st.out - win_);
  flushIfFull();  // a match may have ended right at the window's end
  return end == TFastEnd::kRoom ? kContinue : end == TFastEnd::kBlockEnd ? kBlockEnd : kError;
}

}  // namespace

int Inflate(TDecodeIO& io) {
  TInflater inflater(io);
  return inflater.run();
}

}  // namespace quelt
