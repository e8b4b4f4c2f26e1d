#include "engine/HuffTable.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace quelt {

namespace {

// The decoded meaning of a symbol, without its bit counts.
uint32_t symbolEntry(unsigned sym, unsigned s, const uint16_t* bases, const uint8_t* extras,
                     unsigned& extra) {
  extra = 0;
  if (sym < s) return sym == 256 ? kHuffEnd : kHuffLiteral | (uint32_t(sym) << 16);
  uint8_t e = extras[sym - s];
  if (e > 16) return kHuffInvalid;
  extra = e;
  return uint32_t(bases[sym - s]) << 16;
}

}  // namespace

int BuildTable(const uint8_t* lengths, unsigned n, unsigned s, const uint16_t* bases,
               const uint8_t* extras, THuffTable& table, unsigned& m, bool exactRoot) {
  if (n > kHuffMaxSymbols) throw std::invalid_argument("BuildTable: too many symbols");
  uint8_t maxLength = 0;
  for (unsigned i = 0; i < n; ++i) maxLength = std::max(maxLength, lengths[i]);
  if (maxLength > kHuffMaxCodeBits) throw std::invalid_argument("BuildTable: bad code length");
  // Four partial counts, so that runs of equal lengths do not wait on one counter.
  unsigned partial[4][kHuffMaxCodeBits + 1] = {};
  unsigned k = 0;
  for (; k + 4 <= n; k += 4) {
    ++partial[0][lengths[k]];
    ++partial[1][lengths[k + 1]];
    ++partial[2][lengths[k + 2]];
    ++partial[3][lengths[k + 3]];
  }
  for (; k < n; ++k) ++partial[0][lengths[k]];
  unsigned count[kHuffMaxCodeBits + 1];
  for (unsigned len = 0; len <= kHuffMaxCodeBits; ++len)
    count[len] = partial[0][len] + partial[1][len] + partial[2][len] + partial[3][len];
  table.rootBits_ = 0;
  if (count[0] == n) {
    table.entries_.clear();
    m = 0;
    return kHuffOk;
  }

  unsigned shortest = 1, longest = kHuffMaxCodeBits;
  while (count[shortest] == 0) ++shortest;
  while (count[longest] == 0) --longest;

  // Kraft sum in units of the longest possible code: a negative remainder means more codes
  // than bit patterns; a positive one means patterns no code uses.
  int left = 1;
  for (unsigned len = 1; len <= kHuffMaxCodeBits; ++len) {
    left = 2 * left - int(count[len]);
    if (left < 0) {
      table.entries_.clear();
      return kHuffOversubscribed;
    }
  }
  // A lone code of length 1 is how a single-symbol alphabet is written; take it as complete.
  int result = (left > 0 && longest != 1) ? kHuffIncomplete : kHuffOk;

  unsigned root = m < shortest && !exactRoot ? shortest : m;
  if (root > longest && !exactRoot) root = longest;
  if (root > kHuffMaxRootBits) root = kHuffMaxRootBits;
  m = root;

  // Symbols in canonical order: by code length, then by value.
  unsigned offset[kHuffMaxCodeBits + 2] = {};
  for (unsigned len = 1; len <= kHuffMaxCodeBits; ++len) offset[len + 1] = offset[len] + count[len];
  uint16_t sorted[kHuffMaxSymbols];
  for (unsigned sym = 0; sym < n; ++sym)
    if (lengths[sym]) sorted[offset[lengths[sym]]++] = uint16_t(sym);
  unsigned codes = n - count[0];

  try {
    std::vector<uint32_t>& t = table.entries_;
    const uint32_t rootMask = (1u << root) - 1;
    // Only an incomplete code leaves patterns no code takes; they must decode as invalid.
    const bool fill = left > 0;
    t.resize(size_t(1) << root);
    uint32_t* const rootTable = t.data();

    // `code` is the canonical code bit-reversed, i.e. in the order the stream delivers it,
    // so it indexes the tables directly.
    uint32_t code = 0;
    auto nextCode = [&code](unsigned len) {
      // Add one at the most significant end of the reversed code.
      uint32_t incr = 1u << (len - 1);
      while (code & incr) incr >>= 1;
      code = incr ? (code & (incr - 1)) + incr : 0;
    };

    // The root table grows from 2^firstLen entries by doubling: a code of length len is
    // stored once while the table has 2^len entries, and each doubling repeats it into the
    // patterns that differ from it only in later bits. Patterns no code fills keep the
    // invalid entry they started with.
    unsigned i = 0;
    const unsigned firstLen = std::min(shortest, root);
    size_t filled = size_t(1) << firstLen;
    std::fill(rootTable, rootTable + filled, kHuffInvalid);
    for (unsigned len = firstLen;; ++len) {
      if (len >= shortest) {
        for (; count[len] > 0; --count[len], ++i) {
          unsigned extra;
          uint32_t meaning = symbolEntry(sorted[i], s, bases, extras, extra);
          rootTable[code] = meaning | (len << 8) | (len + extra);
          nextCode(len);
        }
      }
      if (len == root) break;
      std::memcpy(rootTable + filled, rootTable, filled * sizeof(uint32_t));
      filled *= 2;
    }

    // Codes longer than the root, in sub-tables; from here on count[] holds the codes not
    // yet placed.
    uint32_t subRoot = UINT32_MAX;  // root slot of the current sub-table
    size_t subBase = 0;
    unsigned subBits = 0;
    for (; i < codes; ++i) {
      unsigned sym = sorted[i];
      unsigned len = lengths[sym];
      unsigned extra;
      uint32_t meaning = symbolEntry(sym, s, bases, extras, extra);
      if ((code & rootMask) != subRoot) {
        // A new sub-table: the fewest index bits that the codes still to come fill, since
        // a valid set puts every code sharing this root prefix within that width.
        subRoot = code & rootMask;
        subBits = len - root;
        int room = 1 << subBits;
        while (subBits + root < longest) {
          room -= int(count[subBits + root]);
          if (room <= 0) break;
          ++subBits;
          room <<= 1;
        }
        subBase = t.size();
        // At most 288 codes keep the offsets far below 2^16; guard the field anyway.
        if (subBase > 0xFFFF) throw std::logic_error("BuildTable: table too large");
        t.resize(subBase + (size_t(1) << subBits));
        if (fill) std::fill(t.begin() + long(subBase), t.end(), kHuffInvalid);
        t[subRoot] = kHuffSubtable | uint32_t(subBase << 16) | (subBits << 8) | root;
      }
      unsigned subLen = len - root;
      uint32_t e = meaning | (subLen << 8) | (subLen + extra);
      for (uint32_t idx = code >> root; idx < (1u << subBits); idx += 1u << subLen)
        t[subBase + idx] = e;
      --count[len];
      nextCode(len);
    }
  } catch (const std::bad_alloc&) {
    FreeTable(table);
    return kHuffOutOfMemory;
  }
  table.rootBits_ = root;
  return result;
}

void FreeTable(THuffTable& table) {
  std::vector<uint32_t>().swap(table.entries_);
  table.rootBits_ = 0;
}

}  // namespace quelt
