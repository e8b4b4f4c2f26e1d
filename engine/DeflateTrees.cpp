#include "engine/DeflateTrees.h"

#include <algorithm>
#include <cstring>

namespace quelt {

namespace {

constexpr uint8_t kExtraLBits[TDeflateTrees::kLengthCodes] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDBits[TDeflateTrees::kDCodes] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                         4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                         9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBLBits[TDeflateTrees::kBLCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                           0, 0, 0, 0, 0, 0, 2, 3, 7};
// Order in which the code-length code lengths are sent.
constexpr uint8_t kBLOrder[TDeflateTrees::kBLCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr int kRep3To6 = 16, kRepZero3To10 = 17, kRepZero11To138 = 18;

constexpr TDeflateTables makeTables() {
  TDeflateTables t{};
  int length = 0;
  for (int code = 0; code < 28; ++code) {
    t.baseLength[code] = uint16_t(length);
    for (int n = 0; n < (1 << kExtraLBits[code]); ++n) t.lengthCode[length++] = uint8_t(code);
  }
  // Length 258 has a code of its own: code 28, not the last of code 27's range.
  if (length != 256) throw "ct_init: length <> 256";
  t.lengthCode[255] = 28;
  t.baseLength[28] = 255;
  int dist = 0;
  int code = 0;
  for (; code < 16; ++code) {
    t.baseDist[code] = uint16_t(dist);
    for (int n = 0; n < (1 << kExtraDBits[code]); ++n) t.distCode[dist++] = uint8_t(code);
  }
  if (dist != 256) throw "ct_init: dist <> 256";
  dist >>= 7;
  for (; code < TDeflateTrees::kDCodes; ++code) {
    t.baseDist[code] = uint16_t(dist << 7);
    for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n)
      t.distCode[256 + dist++] = uint8_t(code);
  }
  if (dist != 256) throw "ct_init: 256+dist <> 512";
  return t;
}

}  // namespace

constexpr TDeflateTables kDeflateTablesValue = makeTables();
const TDeflateTables kDeflateTables = kDeflateTablesValue;

TDeflateTrees::TDeflateTrees() : lits_(kMaxItems + 1), matches_(kMaxItems + 1) {
  std::memset(&ltree_, 0, sizeof ltree_);
  std::memset(&dtree_, 0, sizeof dtree_);
  std::memset(&bltree_, 0, sizeof bltree_);

  // The fixed codes: lengths as the format defines them, canonical codes from those lengths.
  TTree fixed{};
  for (int n = 0; n < kLCodes + 2; ++n) fixed.len[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
  uint16_t count[kMaxBits + 1] = {};
  for (int n = 0; n < kLCodes + 2; ++n) ++count[fixed.len[n]];
  genCodes(fixed, kLCodes + 1, count);
  for (int n = 0; n < kLCodes + 2; ++n) {
    staticLCode_[n] = fixed.code[n];
    staticLLen_[n] = fixed.len[n];
  }
  for (int n = 0; n < kDCodes; ++n) {
    staticDLen_[n] = 5;
    staticDCode_[n] = uint16_t(reverseBits(unsigned(n), 5));
  }
  Start(6);
}

void TDeflateTrees::Start(int /*packLevel*/) {
  compressedBits_ = 0;
  attributes_ = 2;
  method_ = 8;
  resetBlock();
}

void TDeflateTrees::resetBlock() {
  std::fill_n(ltree_.freq, kLCodes, 0u);
  std::fill_n(dtree_.freq, kDCodes, 0u);
  std::fill_n(bltree_.freq, kBLCodes, 0u);
  ltree_.freq[kEndBlock] = 1;
  optLen_ = 0;
  staticLen_ = 0;
  items_ = 0;
  matchCount_ = 0;
  checkAt_ = kObsWindow;
  observed_ = 0;
  std::fill_n(blockObs_, kObsClasses, 0u);
  std::fill_n(matchObs_, kMatchKinds, 0u);
}

// Kinds of items whose mix tells one stretch of data from another: literals by their top
// three bits (control bytes, digits and punctuation, capitals, small letters, and four kinds
// of high bytes), summed from the symbol counts at each look; matches by short, middle or
// long length and near or far distance, counted by TallyMatch.
void TDeflateTrees::observe(uint32_t* obs) const {
  for (int k = 0; k < 8; ++k) {
    uint32_t sum = 0;
    for (int c = 32 * k; c < 32 * k + 32; ++c) sum += ltree_.freq[c];
    obs[k] = sum;
  }
  std::copy_n(matchObs_, kMatchKinds, obs + 8);
}

// The block so far and the windows after it, as distributions over the observation classes:
// true when they differ by more than kSplitPerMille / 1000. Integer arithmetic: the sum of
// |recent[k] / n - block[k] / m| compared as the sum of |recent[k] * m - block[k] * n|.
bool TDeflateTrees::distributionChanged(const uint32_t* recent) const {
  uint64_t m = 0, n = 0;
  for (int k = 0; k < kObsClasses; ++k) m += blockObs_[k], n += recent[k];
  if (m == 0 || n == 0) return false;
  uint64_t diff = 0;
  for (int k = 0; k < kObsClasses; ++k) {
    int64_t d = int64_t(recent[k] * m) - int64_t(blockObs_[k] * n);
    diff += uint64_t(d < 0 ? -d : d);
  }
  return diff * 1000 > uint64_t(kSplitPerMille) * m * n;
}

// Runs every kObsWindow items. A window whose mix of items differs from the block's is held
// back and looked at again with the next window: the block ends only when both together still
// differ, so a short stretch of other data (a table in a text, a header in a binary) does not
// cost a block of its own.
bool TDeflateTrees::blockEnds() {
  if (items_ >= unsigned(kMaxItems)) return true;
  uint32_t now[kObsClasses], recent[kObsClasses];
  observe(now);
  for (int k = 0; k < kObsClasses; ++k) recent[k] = now[k] - blockObs_[k];
  const unsigned n = items_ - observed_;
  if (observed_ >= unsigned(kMinSplitItems) && distributionChanged(recent)) {
    if (n >= 2 * unsigned(kObsWindow) || items_ + kObsWindow >= unsigned(kMaxItems)) return true;
    checkAt_ = items_ + kObsWindow;
    return false;
  }
  std::copy_n(now, kObsClasses, blockObs_);
  observed_ = items_;
  checkAt_ = std::min(items_ + kObsWindow, unsigned(kMaxItems));
  return false;
}

void TDeflateTrees::classify() {
  uint64_t binary = 0, text = 0;
  for (int n = 0; n < 7; ++n) binary += ltree_.freq[n];
  for (int n = 7; n < 128; ++n) text += ltree_.freq[n];
  for (int n = 128; n < kLiterals; ++n) binary += ltree_.freq[n];
  attributes_ = binary > (text >> 2) ? 0 : 1;
}

// Min-heap on frequency; between equal frequencies the shallower subtree comes first, which
// keeps the code lengths short. Each entry packs frequency, depth and node so that one integer
// comparison of the bits above the node orders two entries.
namespace {
constexpr int kNodeBits = 10;  // nodes are below kHeapSize = 573
static_assert(TDeflateTrees::kHeapSize <= (1 << kNodeBits));
inline uint64_t pqEntry(uint32_t freq, uint8_t depth, int node) {
  return uint64_t(freq) << (8 + kNodeBits) | uint64_t(depth) << kNodeBits | unsigned(node);
}
inline int pqNode(uint64_t e) {
  return int(e & ((1u << kNodeBits) - 1));
}
}  // namespace

void TDeflateTrees::pqDownHeap(int k) {
  const uint64_t v = pq_[k];
  const uint64_t vKey = v >> kNodeBits;
  int j = k << 1;
  while (j <= heapLen_) {
    if (j < heapLen_ && (pq_[j + 1] >> kNodeBits) <= (pq_[j] >> kNodeBits)) ++j;
    if (vKey <= (pq_[j] >> kNodeBits)) break;
    pq_[k] = pq_[j];
    k = j;
    j <<= 1;
  }
  pq_[k] = v;
}

// Lengths from the built tree, limited to maxLength: a leaf that would lie deeper is lifted,
// and leaves are moved between levels until the code is complete again. Also sums the block's
// bits under these lengths and under the fixed code.
void TDeflateTrees::genBitLengths(const TTreeDesc& desc) {
  TTree& t = *desc.tree;
  const int maxLength = desc.maxLength;
  std::fill_n(blCount_, kMaxBits + 1, 0);
  int overflow = 0;

  t.len[heap_[heapMax_]] = 0;  // the root
  int h;
  for (h = heapMax_ + 1; h < kHeapSize; ++h) {
    int n = heap_[h];
    int bits = t.len[t.dad[n]] + 1;
    if (bits > maxLength) {
      bits = maxLength;
      ++overflow;
    }
    t.len[n] = uint8_t(bits);
    if (n > t.maxCode) continue;  // an internal node
    ++blCount_[bits];
    int xbits = n >= desc.extraBase ? desc.extraBits[n - desc.extraBase] : 0;
    uint64_t f = t.freq[n];
    optLen_ += f * unsigned(bits + xbits);
    if (desc.staticLen) staticLen_ += f * unsigned(desc.staticLen[n] + xbits);
  }
  if (overflow == 0) return;

  do {
    int bits = maxLength - 1;
    while (blCount_[bits] == 0) --bits;
    --blCount_[bits];
    blCount_[bits + 1] += 2;
    --blCount_[maxLength];
    overflow -= 2;
  } while (overflow > 0);

  // The heap holds the nodes in increasing frequency: give the longest codes to the rarest.
  h = kHeapSize;
  for (int bits = maxLength; bits != 0; --bits) {
    int n = blCount_[bits];
    while (n != 0) {
      int m = heap_[--h];
      if (m > t.maxCode) continue;
      if (t.len[m] != bits) {
        optLen_ += (int64_t(bits) - t.len[m]) * int64_t(t.freq[m]);
        t.len[m] = uint8_t(bits);
      }
      --n;
    }
  }
}

void TDeflateTrees::genCodes(TTree& t, int maxCode, const uint16_t* blCount) {
  uint16_t next[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + blCount[bits - 1]) << 1;
    next[bits] = uint16_t(code);
  }
  if (code + blCount[kMaxBits] - 1 != (1u << kMaxBits) - 1)
    throw EAssertionFailed("inconsistent bit counts-gencodes");
  for (int n = 0; n <= maxCode; ++n) {
    int len = t.len[n];
    if (len != 0) t.code[n] = uint16_t(reverseBits(next[len]++, unsigned(len)));
  }
}

void TDeflateTrees::buildTree(const TTreeDesc& desc) {
  TTree& t = *desc.tree;
  int maxCode = -1;
  heapLen_ = 0;
  heapMax_ = kHeapSize;
  for (int n = 0; n < desc.elems; ++n) {
    if (t.freq[n] != 0) {
      pq_[++heapLen_] = pqEntry(t.freq[n], 0, n);
      maxCode = n;
      depth_[n] = 0;
    } else {
      t.len[n] = 0;
    }
  }
  // The format needs two codes at least: force leaves in, without counting their bits.
  while (heapLen_ < 2) {
    int node = maxCode < 2 ? ++maxCode : 0;
    pq_[++heapLen_] = pqEntry(1, 0, node);
    t.freq[node] = 1;
    depth_[node] = 0;
    --optLen_;
    if (desc.staticLen) staticLen_ -= desc.staticLen[node];
  }
  t.maxCode = maxCode;

  for (int n = heapLen_ / 2; n >= 1; --n) pqDownHeap(n);
  int node = desc.elems;
  do {
    int n = pqNode(pq_[1]);
    pq_[1] = pq_[heapLen_--];
    pqDownHeap(1);
    int m = pqNode(pq_[1]);
    heap_[--heapMax_] = n;
    heap_[--heapMax_] = m;
    t.freq[node] = t.freq[n] + t.freq[m];
    depth_[node] = uint8_t(std::max(depth_[n], depth_[m]) + 1);
    t.dad[n] = t.dad[m] = uint16_t(node);
    pq_[1] = pqEntry(t.freq[node], depth_[node], node);
    ++node;
    pqDownHeap(1);
  } while (heapLen_ >= 2);
  heap_[--heapMax_] = pqNode(pq_[1]);

  genBitLengths(desc);
  genCodes(t, maxCode, blCount_);
}

// Run-length codes the lengths 0..maxCode of one tree (code 16 repeats the previous length,
// 17 and 18 repeat zero) and counts the codes used; sendLengths writes exactly these.
void TDeflateTrees::scanLengths(const TTree& t, int maxCode) {
  int prevLen = -1;
  int nextLen = t.len[0];
  int count = 0;
  int maxCount = nextLen == 0 ? 138 : 7;
  int minCount = nextLen == 0 ? 3 : 4;
  for (int n = 0; n <= maxCode; ++n) {
    int curLen = nextLen;
    nextLen = n < maxCode ? t.len[n + 1] : 0xFFFF;
    if (++count < maxCount && curLen == nextLen) continue;
    if (count < minCount) {
      bltree_.freq[curLen] += unsigned(count);
    } else if (curLen != 0) {
      if (curLen != prevLen) ++bltree_.freq[curLen];
      ++bltree_.freq[kRep3To6];
    } else if (count <= 10) {
      ++bltree_.freq[kRepZero3To10];
    } else {
      ++bltree_.freq[kRepZero11To138];
    }
    count = 0;
    prevLen = curLen;
    if (nextLen == 0) {
      maxCount = 138, minCount = 3;
    } else if (curLen == nextLen) {
      maxCount = 6, minCount = 3;
    } else {
      maxCount = 7, minCount = 4;
    }
  }
}

void TDeflateTrees::sendLengths(TBitWriter& bits, const TTree& t, int maxCode) {
  auto send = [&](int c) { bits.SendBits(bltree_.code[c], bltree_.len[c]); };
  int prevLen = -1;
  int nextLen = t.len[0];
  int count = 0;
  int maxCount = nextLen == 0 ? 138 : 7;
  int minCount = nextLen == 0 ? 3 : 4;
  for (int n = 0; n <= maxCode; ++n) {
    int curLen = nextLen;
    nextLen = n < maxCode ? t.len[n + 1] : 0xFFFF;
    if (++count < maxCount && curLen == nextLen) continue;
    if (count < minCount) {
      do send(curLen);
      while (--count != 0);
    } else if (curLen != 0) {
      if (curLen != prevLen) {
        send(curLen);
        --count;
      }
      if (count < 3 || count > 6) throw EAssertionFailed(" 3_6? - send_tree");
      send(kRep3To6);
      bits.SendBits(unsigned(count - 3), 2);
    } else if (count <= 10) {
      send(kRepZero3To10);
      bits.SendBits(unsigned(count - 3), 3);
    } else {
      send(kRepZero11To138);
      bits.SendBits(unsigned(count - 11), 7);
    }
    count = 0;
    prevLen = curLen;
    if (nextLen == 0) {
      maxCount = 138, minCount = 3;
    } else if (curLen == nextLen) {
      maxCount = 6, minCount = 3;
    } else {
      maxCount = 7, minCount = 4;
    }
  }
}

// Builds the code-length code and returns the index, in sending order, of its last code
// length to send (at least 3, as the format sends at least 4).
int TDeflateTrees::buildBLTree() {
  scanLengths(ltree_, ltree_.maxCode);
  scanLengths(dtree_, dtree_.maxCode);
  buildTree({&bltree_, nullptr, kExtraBLBits, 0, kBLCodes, kMaxBLBits});
  int maxIndex;
  for (maxIndex = kBLCodes - 1; maxIndex >= 3; --maxIndex)
    if (bltree_.len[kBLOrder[maxIndex]] != 0) break;
  optLen_ += 3 * (uint64_t(maxIndex) + 1) + 5 + 5 + 4;
  return maxIndex;
}

void TDeflateTrees::sendAllTrees(TBitWriter& bits, int lcodes, int dcodes, int blcodes) {
  if (lcodes < 257 || dcodes < 1 || blcodes < 4)
    throw EAssertionFailed("not enough codes-send_all_trees");
  if (lcodes > kLCodes || dcodes > kDCodes || blcodes > kBLCodes)
    throw EAssertionFailed("too many codes-send_all_trees");
  bits.SendBits(unsigned(lcodes - 257), 5);
  bits.SendBits(unsigned(dcodes - 1), 5);
  bits.SendBits(unsigned(blcodes - 4), 4);
  for (int rank = 0; rank < blcodes; ++rank) bits.SendBits(bltree_.len[kBLOrder[rank]], 3);
  sendLengths(bits, ltree_, lcodes - 1);
  sendLengths(bits, dtree_, dcodes - 1);
}

void TDeflateTrees::compressBlock(TBitWriter& bits, const uint16_t* lcode, const uint8_t* llen,
                                  const uint16_t* dcode, const uint8_t* dlen) {
  // The block's codes as (bits, count) pairs in one word each: code in the low bits, count
  // from bit 24; a match length's extra bits are folded into its code, so that a whole match
  // goes out in one add.
  uint32_t lit[kLiterals + 1];
  for (int c = 0; c <= kLiterals; ++c) lit[c] = lcode[c] | uint32_t(llen[c]) << 24;
  uint32_t len[256];
  for (int lc = 0; lc < 256; ++lc) {
    int code = kDeflateTables.lengthCode[lc];
    int sym = kLiterals + 1 + code;
    len[lc] = (lcode[sym] | uint32_t(lc - kDeflateTables.baseLength[code]) << llen[sym]) |
              uint32_t(llen[sym] + kExtraLBits[code]) << 24;
  }
  // Distance codes: code, then its length in bits 16..23 and its extra bits from bit 24.
  uint32_t dist[kDCodes];
  for (int c = 0; c < kDCodes; ++c)
    dist[c] = dcode[c] | uint32_t(dlen[c]) << 16 | uint32_t(kExtraDBits[c]) << 24;

  // Locals, because the writer's byte stores may alias any member as far as the compiler
  // knows, which would reload them on every item.
  const uint16_t* const lits = lits_.data();
  const uint64_t* const matches = matches_.data();
  const unsigned matchCount = matchCount_, items = items_;
  TBitWriter::TBatch out(bits);
  // At most 7 bits are held after a flush. Three literals add at most 45 bits, a match at
  // most 15 + 5 + 15 + 13.
  auto literals = [&](unsigned from, unsigned to) {
    for (; from + 3 <= to; from += 3) {
      const uint32_t a = lit[lits[from]], b = lit[lits[from + 1]], c = lit[lits[from + 2]];
      out.Add(a & 0xFFFFFF, a >> 24);
      out.Add(b & 0xFFFFFF, b >> 24);
      out.Add(c & 0xFFFFFF, c >> 24);
      out.Flush();
    }
    for (; from < to; ++from) {
      const uint32_t a = lit[lits[from]];
      out.Add(a & 0xFFFFFF, a >> 24);
    }
    out.Flush();
  };
  unsigned next = 0;  // first item not yet written
  for (unsigned k = 0; k < matchCount; ++k) {
    const uint64_t m = matches[k];
    const unsigned at = unsigned(m & 0xFFFF);
    literals(next, at);
    next = at + 1;
    uint32_t l = len[(m >> 16) & 0xFF];
    unsigned d = unsigned(m >> 24 & 0xFFFF) - 1;
    unsigned code = unsigned(m >> 40);
    if (code >= unsigned(kDCodes)) throw EAssertionFailed("bad d_code-compress_block");
    uint32_t e = dist[code];
    unsigned dl = (e >> 16) & 0xFF;
    uint64_t dv = (e & 0xFFFF) | uint64_t(d - kDeflateTables.baseDist[code]) << dl;
    unsigned lcount = l >> 24;
    out.Add((l & 0xFFFFFF) | dv << lcount, lcount + dl + (e >> 24));
    out.Flush();
  }
  literals(next, items);
  uint32_t e = lit[kEndBlock];
  out.Add(e & 0xFFFFFF, e >> 24);
  out.Flush();
  out.Done();
}

uint64_t TDeflateTrees::EmitBlock(TBitWriter& bits, const uint8_t* data, uint64_t storedLen,
                                  bool last) {
  if (attributes_ == 2) classify();

  buildTree({&ltree_, staticLLen_, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits});
  buildTree({&dtree_, staticDLen_, kExtraDBits, 0, kDCodes, kMaxBits});
  int maxBLIndex = buildBLTree();

  uint64_t optBytes = (optLen_ + 3 + 7) >> 3;
  uint64_t staticBytes = (staticLen_ + 3 + 7) >> 3;
  if (staticBytes <= optBytes) optBytes = staticBytes;

  if (storedLen <= optBytes && last && compressedBits_ == 0 && data) {
    // The whole entry does not shrink and nothing is written yet: keep it as it is.
    bits.CopyStored(data, storedLen, false);
    compressedBits_ = storedLen << 3;
    method_ = 0;
  } else if (storedLen + 4 <= optBytes && data) {
    if (storedLen > 0xFFFF) throw EAssertionFailed("stored block too long");
    bits.SendBits(last ? 1 : 0, 3);
    compressedBits_ = (compressedBits_ + 3 + 7) & ~uint64_t(7);
    compressedBits_ += (storedLen + 4) << 3;
    bits.CopyStored(data, storedLen, true);
  } else if (staticBytes == optBytes) {
    bits.SendBits(2 + (last ? 1 : 0), 3);
    compressBlock(bits, staticLCode_, staticLLen_, staticDCode_, staticDLen_);
    compressedBits_ += 3 + staticLen_;
  } else {
    bits.SendBits(4 + (last ? 1 : 0), 3);
    sendAllTrees(bits, ltree_.maxCode + 1, dtree_.maxCode + 1, maxBLIndex + 1);
    compressBlock(bits, ltree_.code, ltree_.len, dtree_.code, dtree_.len);
    compressedBits_ += 3 + optLen_;
  }
  resetBlock();
  if (last) {
    bits.AlignBits();
    compressedBits_ += 7;
  }
  return compressedBits_ >> 3;
}

}  // namespace quelt
