// Decoding tables for canonical prefix codes whose bits arrive least significant first, as
// in Deflate (Inflate) and Implode (Explode).
//
// A table is one flat array of 32-bit entries: a root table of 2^rootBits() entries indexed
// by the next rootBits() stream bits, followed by the sub-tables of the codes longer than
// that. Every code is found in at most two lookups: a root entry either holds the code or
// points to a sub-table indexed by the bits after the root bits. Bit patterns that belong to
// no code (the unused end of an incomplete set) decode as invalid entries.
//
// Entry layout:
//   bits  0..7   bits to drop for this entry: the code bits at its level plus its extra bits
//                (a base entry), or the root bits (a sub-table link)
//   bits  8..11  code bits at this level; for a sub-table link, the sub-table's index bits
//   bit  12      kHuffEnd: end of block (symbol 256 when it is one of the simple symbols)
//   bit  13      kHuffSubtable: value is the offset of a sub-table in entries()
//   bit  14      kHuffInvalid: no code, or a symbol whose extra-bit value marks it invalid
//   bit  15      kHuffLiteral: value is the symbol itself (a "simple" symbol below s)
//   bits 16..31  value: literal symbol, base value, or sub-table offset
// An entry with none of the four flags is a base entry: the decoded number is
// value + the extra bits that follow the code.
//
// How Inflate uses it: literal/length tables with s = 257 and the length bases, distance
// tables with s = 0 and the distance bases; it drops bits(e) at once and takes the extra
// bits from the bits it saved before dropping: (saved & mask(bits(e))) >> codeBits(e).
//
// How Explode uses it: Implode stores its codes with every bit inverted, so Explode looks
// codes up by the complement of its bit buffer: decode(~bitbuf). It builds the literal tree
// with n = 256, s = 256 (all simple, no bases), and the length and distance trees with s = 0
// and bases/extras tables of its own (for example lengths 2 + i or 3 + i, distances 1 + 64i
// or 1 + 128i, extra-bit value 8 for code 63 and 0 otherwise). Its extra bits are raw, not
// inverted: after decode() it drops THuffCode::length bits only, then reads
// extraBits(entry) plain bits itself. Explode's lookup widths (9, 7, 8) are only hints; m
// returns the width used. Explode rejects any result other than 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelt {

// Results of BuildTable.
inline constexpr int kHuffOk = 0;
inline constexpr int kHuffIncomplete = 1;      // a usable table; unused patterns are invalid
inline constexpr int kHuffOversubscribed = 2;  // no table
inline constexpr int kHuffOutOfMemory = 3;     // no table

inline constexpr unsigned kHuffMaxCodeBits = 16;  // longest code length accepted
inline constexpr unsigned kHuffMaxRootBits = 15;  // widest root table built
inline constexpr unsigned kHuffMaxSymbols = 288;

inline constexpr uint32_t kHuffEnd = 0x1000;
inline constexpr uint32_t kHuffSubtable = 0x2000;
inline constexpr uint32_t kHuffInvalid = 0x4000;
inline constexpr uint32_t kHuffLiteral = 0x8000;
// Entries that are neither a literal nor a base value.
inline constexpr uint32_t kHuffExceptional = kHuffEnd | kHuffSubtable | kHuffInvalid;

// An extra-bit value that marks a symbol as invalid (as for length symbols 286 and 287).
inline constexpr uint8_t kHuffInvalidExtra = 99;

// Field accessors of an entry.
constexpr unsigned huffBits(uint32_t e) {
  return e & 0xFF;
}
constexpr unsigned huffCodeBits(uint32_t e) {
  return (e >> 8) & 0xF;
}
constexpr unsigned huffExtraBits(uint32_t e) {
  return huffBits(e) - huffCodeBits(e);
}
constexpr unsigned huffValue(uint32_t e) {
  return e >> 16;
}

// One decoded code: its final entry (never a sub-table link) and its length in bits,
// without extra bits.
struct THuffCode {
  uint32_t entry;
  unsigned length;
};

class THuffTable {
 public:
  // Width of the root table; 0 for a table built from all-zero lengths, which has no codes.
  unsigned rootBits() const { return rootBits_; }
  bool empty() const { return rootBits_ == 0; }
  const uint32_t* entries() const { return entries_.data(); }
  size_t size() const { return entries_.size(); }

  // Decodes the code at the low end of `bits` (the next stream bits, least significant
  // first; bits beyond the stream's end may be anything). An empty table gives an invalid
  // entry of length 0.
  THuffCode decode(uint64_t bits) const {
    if (rootBits_ == 0) return {kHuffInvalid, 0};
    uint32_t e = entries_[bits & ((1u << rootBits_) - 1)];
    if (!(e & kHuffSubtable)) return {e, huffCodeBits(e)};
    unsigned root = huffBits(e);
    uint32_t sub = entries_[huffValue(e) + ((bits >> root) & ((1u << huffCodeBits(e)) - 1))];
    return {sub, root + huffCodeBits(sub)};
  }

  // Keeps room for `n` entries so that later builds of that size do not allocate.
  void reserve(size_t n) { entries_.reserve(n); }

 private:
  friend int BuildTable(const uint8_t*, unsigned, unsigned, const uint16_t*, const uint8_t*,
                        THuffTable&, unsigned&, bool);
  friend void FreeTable(THuffTable&);
  std::vector<uint32_t> entries_;
  unsigned rootBits_ = 0;
};

// Builds the decoding table of n codes (n <= kHuffMaxSymbols) with the given bit lengths
// (0 = unused, at most kHuffMaxCodeBits). Symbols below s are simple: literals, and 256 is
// end of block. Symbol v >= s decodes to bases[v - s] with extras[v - s] extra bits; an
// extras value above 16 (kHuffInvalidExtra) makes it invalid. On entry m is the wanted
// root width; on return the width used: clamped to the shortest and longest code length
// (and kHuffMaxRootBits), 0 when all lengths are 0 (an empty table, result kHuffOk).
// With exactRoot the root is m whatever the lengths (but still 0 for an empty table), so a
// decoder may mask its lookups with a constant.
// Returns kHuffOk, kHuffIncomplete (a single code of length 1 counts as complete),
// kHuffOversubscribed or kHuffOutOfMemory; the table is empty after the last two.
// Throws std::invalid_argument for n or a length out of range (a caller's fault).
[[nodiscard]] int BuildTable(const uint8_t* lengths, unsigned n, unsigned s, const uint16_t* bases,
                             const uint8_t* extras, THuffTable& table, unsigned& m,
                             bool exactRoot = false);

// Empties a table and releases its memory.
void FreeTable(THuffTable& table);

}  // namespace quelt
