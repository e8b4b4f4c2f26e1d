#include "DeflateTrace.h"

#include <zlib.h>

#include <stdexcept>

namespace quelt::test {

namespace {

struct TBadStream : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TBits {
 public:
  explicit TBits(const std::vector<uint8_t>& s) : s_(s) {}
  unsigned get(int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= s_.size() * 8) throw TBadStream("stream ends early");
      v |= unsigned((s_[pos_ >> 3] >> (pos_ & 7)) & 1) << i;
      ++pos_;
    }
    return v;
  }
  void align() { pos_ = (pos_ + 7) & ~size_t(7); }
  size_t bytePos() const { return (pos_ + 7) >> 3; }

 private:
  const std::vector<uint8_t>& s_;
  size_t pos_ = 0;
};

// Canonical code as counts per length and symbols in code order.
struct THuffman {
  int count[16] = {};
  std::vector<int> symbol;

  THuffman(const int* lengths, int n, bool mustBeComplete) : symbol(size_t(n)) {
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    int left = 1;
    for (int len = 1; len < 16; ++len) {
      left = left * 2 - count[len];
      if (left < 0) throw TBadStream("over-subscribed code");
    }
    if (mustBeComplete && left != 0) throw TBadStream("incomplete code");
    int offs[16] = {};
    for (int len = 1; len < 15; ++len) offs[len + 1] = offs[len] + count[len];
    for (int i = 0; i < n; ++i)
      if (lengths[i]) symbol[size_t(offs[lengths[i]]++)] = i;
  }

  int decode(TBits& bits) const {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= int(bits.get(1));
      int n = count[len];
      if (code - n < first) return symbol[size_t(index + code - first)];
      index += n;
      first = (first + n) << 1;
      code <<= 1;
    }
    throw TBadStream("no such code");
  }
};

const int kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                           33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void codes(TBits& bits, TTrace& t, TTraceBlock& b, const THuffman& lit, const THuffman& dist) {
  for (;;) {
    int sym = lit.decode(bits);
    if (sym < 256) {
      t.out.push_back(uint8_t(sym));
      b.items.push_back({0, 0, uint8_t(sym)});
      continue;
    }
    if (sym == 256) return;
    sym -= 257;
    if (sym >= 29) throw TBadStream("bad length code");
    int len = kLenBase[sym] + int(bits.get(kLenExtra[sym]));
    int dsym = dist.decode(bits);
    if (dsym >= 30) throw TBadStream("bad distance code");
    int d = kDistBase[dsym] + int(bits.get(kDistExtra[dsym]));
    if (d > 32768 || size_t(d) > t.out.size()) throw TBadStream("distance too far back");
    for (int i = 0; i < len; ++i) t.out.push_back(t.out[t.out.size() - size_t(d)]);
    b.items.push_back({uint16_t(len), uint16_t(d), 0});
  }
}

}  // namespace

size_t TTrace::matches() const {
  size_t n = 0;
  for (const auto& b : blocks)
    for (const auto& i : b.items) n += i.length != 0;
  return n;
}

size_t TTrace::literals() const {
  size_t n = 0;
  for (const auto& b : blocks)
    for (const auto& i : b.items) n += i.length == 0;
  return n;
}

TTrace traceDeflate(const std::vector<uint8_t>& stream) {
  TTrace t;
  TBits bits(stream);
  try {
    for (;;) {
      TTraceBlock b;
      b.final = bits.get(1) != 0;
      b.type = int(bits.get(2));
      if (b.type == 0) {
        bits.align();
        unsigned len = bits.get(16), nlen = bits.get(16);
        if ((len ^ 0xFFFF) != nlen) throw TBadStream("LEN and NLEN disagree");
        b.storedLength = len;
        for (unsigned i = 0; i < len; ++i) t.out.push_back(uint8_t(bits.get(8)));
      } else if (b.type == 1) {
        int l[288], d[30];
        for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        for (int& x : d) x = 5;
        codes(bits, t, b, THuffman(l, 288, true), THuffman(d, 30, false));
      } else if (b.type == 2) {
        b.hlit = int(bits.get(5)) + 257;
        b.hdist = int(bits.get(5)) + 1;
        b.hclen = int(bits.get(4)) + 4;
        if (b.hlit > 286 || b.hdist > 30) throw TBadStream("too many codes");
        static const int order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
        int cl[19] = {};
        for (int i = 0; i < b.hclen; ++i) cl[order[i]] = int(bits.get(3));
        THuffman clh(cl, 19, true);
        int lens[316] = {};
        int n = 0;
        while (n < b.hlit + b.hdist) {
          int sym = clh.decode(bits);
          if (sym < 16) {
            lens[n++] = sym;
            continue;
          }
          int rep, val = 0;
          if (sym == 16) {
            if (n == 0) throw TBadStream("repeat with no previous length");
            val = lens[n - 1];
            rep = 3 + int(bits.get(2));
          } else if (sym == 17) {
            rep = 3 + int(bits.get(3));
          } else {
            rep = 11 + int(bits.get(7));
          }
          if (n + rep > b.hlit + b.hdist) throw TBadStream("lengths overrun");
          while (rep--) lens[n++] = val;
        }
        if (lens[256] == 0) throw TBadStream("no end-of-block code");
        codes(bits, t, b, THuffman(lens, b.hlit, true), THuffman(lens + b.hlit, b.hdist, true));
      } else {
        throw TBadStream("reserved block type");
      }
      bool final = b.final;
      t.blocks.push_back(std::move(b));
      if (final) break;
    }
    t.bytesUsed = bits.bytePos();
    t.ok = true;
  } catch (const TBadStream& e) {
    t.error = e.what();
  }
  return t;
}

bool zlibInflateRaw(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out) {
  out.clear();
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(stream.data());
  z.avail_in = uInt(stream.size());
  uint8_t buf[65536];
  int rc;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  } while (rc == Z_OK);
  bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

}  // namespace quelt::test
