#include "engine/Explode.h"

#include <array>

#include "engine/HuffTable.h"
#include "engine/LegacyBits.h"
#include "engine/LegacyWindow.h"

namespace quelt {

namespace {

constexpr unsigned kLiteralCodes = 256;
constexpr unsigned kLengthCodes = 64;
constexpr unsigned kDistanceCodes = 64;

// Lookup widths; wider distance lookups pay off only for large entries.
constexpr unsigned kLiteralBits = 9;
constexpr unsigned kLengthBits = 7;
constexpr unsigned kDistanceBitsSmall = 7;
constexpr unsigned kDistanceBitsLarge = 8;
constexpr uint32_t kLargeEntry = 200000;

struct TBases {
  std::array<uint16_t, 64> lengths3, lengths2, distances8K, distances4K;
  std::array<uint8_t, 64> lengthExtras, distanceExtras;
};

constexpr TBases makeBases() {
  TBases t{};
  for (unsigned i = 0; i < 64; ++i) {
    t.lengths3[i] = uint16_t(3 + i);
    t.lengths2[i] = uint16_t(2 + i);
    t.distances8K[i] = uint16_t(1 + 128 * i);
    t.distances4K[i] = uint16_t(1 + 64 * i);
    // The last length code takes a raw byte more; distances never take extra bits here.
    t.lengthExtras[i] = i == 63 ? 8 : 0;
    t.distanceExtras[i] = 0;
  }
  return t;
}
constexpr TBases kBases = makeBases();

// Reads one tree's bit lengths: a count of bytes, each giving a run of codes (high nibble + 1)
// of one length (low nibble + 1). The runs must cover exactly n codes.
int readLengths(TDecodeIO& io, uint8_t* lengths, unsigned n) {
  uint8_t b;
  if (io.NextByte(b) == 0) return kLegacyTruncated;
  unsigned runs = b + 1u, filled = 0;
  for (unsigned i = 0; i < runs; ++i) {
    if (io.NextByte(b) == 0) return kLegacyTruncated;
    unsigned count = (b >> 4) + 1u, length = (b & 0x0F) + 1u;
    if (filled + count > n) return kLegacyDamaged;
    for (unsigned j = 0; j < count; ++j) lengths[filled++] = uint8_t(length);
  }
  return filled == n ? kLegacyOk : kLegacyDamaged;
}

int readTree(TDecodeIO& io, unsigned n, unsigned s, const uint16_t* bases, const uint8_t* extras,
             unsigned width, THuffTable& table) {
  uint8_t lengths[kLiteralCodes];
  if (int r = readLengths(io, lengths, n); r != kLegacyOk) return r;
  unsigned m = width;
  switch (BuildTable(lengths, n, s, bases, extras, table, m)) {
    case kHuffOk:
      return kLegacyOk;
    case kHuffOutOfMemory:
      return kLegacyNoMemory;
    default:
      // Incomplete and over-subscribed trees are both refused.
      return kLegacyDamaged;
  }
}

class TExploder {
 public:
  explicit TExploder(TDecodeIO& io) : io_(io), bits_(io) {}
  int run();

 private:
  // Decodes one code of the tree (its bits are stored inverted) into entry.
  int decode(const THuffTable& table, uint32_t& entry);

  TDecodeIO& io_;
  TLegacyBits bits_;
};

int TExploder::decode(const THuffTable& table, uint32_t& entry) {
  bits_.fill(kHuffMaxCodeBits);
  THuffCode code = table.decode(~bits_.peek(kHuffMaxCodeBits));
  if (code.entry & kHuffInvalid) return kLegacyDamaged;
  // Past the end of the data the peeked bits are made up; a code that needs them is cut off.
  if (!bits_.drop(code.length)) return kLegacyTruncated;
  entry = code.entry;
  return kLegacyOk;
}

int TExploder::run() {
  const bool big = io_.BitFlag & kFlagImplode8K;
  const bool literalTree = io_.BitFlag & kFlagImplodeLiterals;
  THuffTable literals, lengths, distances;
  int r = kLegacyOk;
  if (literalTree)
    r = readTree(io_, kLiteralCodes, kLiteralCodes, nullptr, nullptr, kLiteralBits, literals);
  if (r == kLegacyOk)
    r = readTree(io_, kLengthCodes, 0,
                 literalTree ? kBases.lengths3.data() : kBases.lengths2.data(),
                 kBases.lengthExtras.data(), kLengthBits, lengths);
  if (r == kLegacyOk)
    r = readTree(
        io_, kDistanceCodes, 0, big ? kBases.distances8K.data() : kBases.distances4K.data(),
        kBases.distanceExtras.data(),
        io_.CompressedSize > kLargeEntry ? kDistanceBitsLarge : kDistanceBitsSmall, distances);
  if (r != kLegacyOk) return r;

  const unsigned lowDistanceBits = big ? 7 : 6;
  TLegacyWindow window(io_, TDecodeIO::kWindowSize, io_.UncompressedSize);
  while (window.remaining() > 0) {
    uint32_t isLiteral, x;
    if (!bits_.read(1, isLiteral)) return kLegacyTruncated;
    if (isLiteral) {
      if (literalTree) {
        if ((r = decode(literals, x)) != kLegacyOk) return r;
        x = huffValue(x);
      } else if (!bits_.read(8, x)) {
        return kLegacyTruncated;
      }
      window.put(uint8_t(x));
      continue;
    }
    uint32_t low, e;
    if (!bits_.read(lowDistanceBits, low)) return kLegacyTruncated;
    if ((r = decode(distances, e)) != kLegacyOk) return r;
    uint32_t distance = low + huffValue(e);
    if ((r = decode(lengths, e)) != kLegacyOk) return r;
    uint32_t length = huffValue(e), extra = 0;
    if (!bits_.read(huffExtraBits(e), extra)) return kLegacyTruncated;
    if (!window.copy(distance, length + extra)) return kLegacyDamaged;
  }
  window.flush();
  return kLegacyOk;
}

}  // namespace

int Explode(TDecodeIO& io) {
  int result = TExploder(io).run();
  io.FlushOutput();
  return result;
}

}  // namespace quelt
