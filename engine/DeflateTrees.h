// The block layer of the Deflate encoder: collects the literals and matches of one block,
// decides where blocks end, builds their Huffman codes and writes each block as stored, fixed
// or dynamic, whichever is smallest. It also classifies an entry as text or binary and turns an
// entry that does not shrink into a stored entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/BitWriter.h"
#include "engine/Errors.h"

namespace quelt {

// Code tables of the Deflate format, computed at compile time.
struct TDeflateTables {
  uint8_t lengthCode[256];  // length code (0..28) of each match length - 3
  uint8_t distCode[512];  // distance code of d = distance - 1: [d] below 256, else [256 + (d >> 7)]
  uint16_t baseLength[29];  // first match length - 3 of each length code
  uint16_t baseDist[30];    // first distance - 1 of each distance code
};
extern const TDeflateTables kDeflateTables;

inline unsigned deflateDistCode(unsigned d) {
  return d < 256 ? kDeflateTables.distCode[d] : kDeflateTables.distCode[256 + (d >> 7)];
}

class TDeflateTrees {
 public:
  static constexpr int kLiterals = 256;
  static constexpr int kLengthCodes = 29;
  static constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
  static constexpr int kDCodes = 30;
  static constexpr int kBLCodes = 19;
  static constexpr int kHeapSize = 2 * kLCodes + 1;
  static constexpr int kMaxBits = 15;
  static constexpr int kMaxBLBits = 7;
  static constexpr int kEndBlock = 256;
  static constexpr int kMaxDist = 32506;   // the match finder never reaches further back
  static constexpr int kMaxItems = 32767;  // items per block
  // Block ends are looked for every kObsWindow items, by comparing the kinds of items in the
  // last window with those of the block before it; a block shorter than kMinSplitItems is
  // not ended that way, as its code description would cost more than it could save. The
  // block ends when the two distributions differ by more than kSplitPerMille / 1000 (the sum
  // of the differences of the shares of the observation classes, 0 to 2).
  static constexpr int kObsWindow = 512;
  static constexpr int kMinSplitItems = 2048;
  static constexpr int kSplitPerMille = 600;
  static constexpr int kMatchKinds = 6;
  static constexpr int kObsClasses = 8 + kMatchKinds;

  TDeflateTrees();

  // Starts an entry: nothing written, block empty, entry not yet classified. Blocks end where
  // the kinds of literals and matches change, at every level.
  void Start(int packLevel);

  // Record one literal, or one match of `distance` (1..kMaxDist) and length lenMinus3 + 3.
  // `inLength` is the bytes the block covers so far (the block-end test no longer needs it).
  // True means the block should end here; the caller must then emit it.
  // The hot path only stores the item and counts its symbol; whether the block should end is
  // looked at every kObsWindow items.
  bool TallyLiteral(unsigned c, int64_t /*inLength*/) {
    const unsigned n = items_;
    lc_[n] = uint16_t(c);
    dist_[n] = 0;
    items_ = n + 1;
    ++ltree_.freq[c];
    return n + 1 >= checkAt_ && blockEnds();
  }
  bool TallyMatch(unsigned distance, unsigned lenMinus3, int64_t /*inLength*/) {
    unsigned d = distance - 1;
    if (d >= unsigned(kMaxDist) || lenMinus3 > 255) throw EAssertionFailed("ct_tally: bad match");
    const unsigned n = items_;
    lc_[n] = uint16_t(lenMinus3);
    dist_[n] = uint16_t(distance);
    items_ = n + 1;
    ++ltree_.freq[kLiterals + 1 + kDeflateTables.lengthCode[lenMinus3]];
    ++dtree_.freq[deflateDistCode(d)];
    ++matchObs_[(lenMinus3 >= 5) + (lenMinus3 >= 30) + (d >= 512) * 3];
    return n + 1 >= checkAt_ && blockEnds();
  }

  // Writes the block held: `data` is its bytes (storedLen of them), or null when they are no
  // longer in the window, which rules out storing them. Returns the entry's compressed bytes
  // so far; after the last block, the bit writer is aligned and flushed.
  uint64_t EmitBlock(TBitWriter& bits, const uint8_t* data, uint64_t storedLen, bool last);

  // Bits produced for the entry so far, as the block decisions computed them.
  uint64_t CompressedBits() const { return compressedBits_; }
  // 2 until the first block is written, then 0 (binary) or 1 (text).
  uint16_t InternalAttributes() const { return attributes_; }
  // 8, or 0 once the entry was written as it is.
  uint16_t Method() const { return method_; }

 private:
  struct TTree {
    uint32_t freq[kHeapSize];  // leaves first, then the internal nodes while building
    uint16_t dad[kHeapSize];
    uint8_t len[kHeapSize];
    uint16_t code[kLCodes + 2];
    int maxCode;  // largest leaf with a code
  };
  struct TTreeDesc {
    TTree* tree;
    const uint8_t* staticLen;  // lengths of the fixed code, or null
    const uint8_t* extraBits;  // extra bits of the leaves from extraBase on
    int extraBase;
    int elems;
    int maxLength;
  };

  bool blockEnds();
  void observe(uint32_t* obs) const;
  bool distributionChanged(const uint32_t* recent) const;
  void resetBlock();
  void classify();
  void buildTree(const TTreeDesc& desc);
  void pqDownHeap(int k);
  void genBitLengths(const TTreeDesc& desc);
  static void genCodes(TTree& t, int maxCode, const uint16_t* blCount);
  void scanLengths(const TTree& t, int maxCode);
  void sendLengths(TBitWriter& bits, const TTree& t, int maxCode);
  int buildBLTree();
  void sendAllTrees(TBitWriter& bits, int lcodes, int dcodes, int blcodes);
  void compressBlock(TBitWriter& bits, const uint16_t* lcode, const uint8_t* llen,
                     const uint16_t* dcode, const uint8_t* dlen);

  // Items of the block: a literal byte or a match length - 3, and the match distance (0 for a
  // literal). Both 16-bit: a byte store could alias every member, and the tally path would
  // reload them after it.
  std::vector<uint16_t> lc_;
  std::vector<uint16_t> dist_;
  unsigned items_ = 0;
  unsigned checkAt_ = kObsWindow;   // item count at which blockEnds looks next
  unsigned observed_ = 0;           // items counted in blockObs_
  uint32_t blockObs_[kObsClasses];  // observations of the items before observed_
  uint32_t matchObs_[kMatchKinds];  // matches of the block by length and distance

  TTree ltree_;
  TTree dtree_;
  TTree bltree_;
  uint16_t staticLCode_[kLCodes + 2];
  uint8_t staticLLen_[kLCodes + 2];
  uint16_t staticDCode_[kDCodes];
  uint8_t staticDLen_[kDCodes];

  uint64_t pq_[kHeapSize];  // the priority queue while a tree is built, from index 1
  int heap_[kHeapSize];     // the nodes taken from it, from the end down
  int heapLen_ = 0;
  int heapMax_ = 0;
  uint8_t depth_[kHeapSize];
  uint16_t blCount_[kMaxBits + 1];

  uint64_t optLen_ = 0;     // bits of the block with its dynamic codes, tree description included
  uint64_t staticLen_ = 0;  // bits of the block with the fixed codes
  uint64_t compressedBits_ = 0;
  uint16_t attributes_ = 2;
  uint16_t method_ = 8;
};

}  // namespace quelt
