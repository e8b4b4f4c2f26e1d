// Raw Deflate and Deflate64 streams for decoder tests: built by hand from tokens (fixed and
// stored blocks, bad symbols included), or by zlib.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "support/LsbBitWriter.h"

namespace quelt::test {

// A literal (length 0), a match of `length` bytes at distance `value`, or a raw symbol for
// bad streams (length -1: a literal/length symbol, -2: a five-bit distance symbol).
struct TToken {
  int length;
  unsigned value;
};
inline TToken Lit(unsigned b) {
  return {0, b};
}

enum class TDeflateFormat { kDeflate, kDeflate64 };

inline void PutFixedSymbol(TLsbBitWriter& w, unsigned sym) {
  if (sym < 144)
    w.putCode(0x30 + sym, 8);
  else if (sym < 256)
    w.putCode(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.putCode(sym - 256, 7);
  else
    w.putCode(0xC0 + sym - 280, 8);
}

// One block with the fixed codes, its end code included. Deflate64 gives symbol 285 base 3
// and 16 extra bits, and has distance symbols 30 and 31.
inline void FixedBlock(TLsbBitWriter& w, bool final, const std::vector<TToken>& tokens,
                       TDeflateFormat format = TDeflateFormat::kDeflate) {
  static constexpr unsigned kLenBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                            15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                            67, 83, 99, 115, 131, 163, 195, 227, 258};
  static constexpr unsigned kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  auto distBase = [](unsigned code) {
    return code < 4 ? code + 1 : (2u + (code & 1)) << (code / 2 - 1) | 1;
  };
  auto distExtra = [](unsigned code) { return code < 4 ? 0 : code / 2 - 1; };
  const bool d64 = format == TDeflateFormat::kDeflate64;

  w.put(final, 1);
  w.put(1, 2);
  for (const TToken& t : tokens) {
    if (t.length == 0 || t.length == -1) {
      PutFixedSymbol(w, t.value);
      continue;
    }
    if (t.length == -2) {
      w.putCode(t.value, 5);
      continue;
    }
    const unsigned len = unsigned(t.length);
    int s = 27;
    while (s >= 0 &&
           !(len >= kLenBase[s] && len - kLenBase[s] < (1u << kLenExtra[s]) && (d64 || len < 258)))
      --s;
    if (s < 0) s = 28;  // Deflate: exactly 258; Deflate64: base 3 plus 16 extra bits
    PutFixedSymbol(w, 257 + unsigned(s));
    if (s == 28)
      w.put(d64 ? len - 3 : 0, d64 ? 16 : 0);
    else
      w.put(len - kLenBase[s], kLenExtra[s]);
    unsigned d = d64 ? 31 : 29;
    while (t.value < distBase(d)) --d;
    w.putCode(d, 5);
    w.put(t.value - distBase(d), distExtra(d));
  }
  PutFixedSymbol(w, 256);
}

// The data as stored blocks of at most 65535 bytes, none of them final.
inline void StoredBlocks(TLsbBitWriter& w, const std::vector<uint8_t>& data) {
  for (size_t at = 0; at < data.size(); at += 65535) {
    const size_t n = std::min<size_t>(65535, data.size() - at);
    w.put(0, 3);
    w.align();
    w.put(uint32_t(n), 16);
    w.put(uint32_t(~n & 0xFFFF), 16);
    for (size_t i = 0; i < n; ++i) w.byte(data[at + i]);
  }
}

// What the tokens decode to after the bytes already in `out`.
inline std::vector<uint8_t> Expand(const std::vector<TToken>& tokens,
                                   std::vector<uint8_t> out = {}) {
  for (const TToken& t : tokens) {
    if (t.length == 0) out.push_back(uint8_t(t.value));
    for (int i = 0; i < t.length; ++i) out.push_back(out[out.size() - t.value]);
  }
  return out;
}

// zlib's raw Deflate stream of the data.
inline std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& in, int level,
                                        int strategy = Z_DEFAULT_STRATEGY) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
  std::vector<uint8_t> out(deflateBound(&z, uLong(in.size())));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace quelt::test
