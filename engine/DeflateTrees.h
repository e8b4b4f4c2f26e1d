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

  // Records literals and matches for a parse loop, holding the block's counters in locals that
  // the compiler keeps in registers (the members would be reloaded after every count, which
  // may alias them). While a tally is alive nothing else may record items; Done() hands the
  // counters back, and after the block is emitted the loop starts a new tally.
  class TTally {
   public:
    explicit TTally(TDeflateTrees& t)
        : t_(t),
          lits_(t.lits_.data()),
          matches_(t.matches_.data()),
          items_(t.items_),
          matchCount_(t.matchCount_),
          checkAt_(t.checkAt_) {}
    // One literal, or one match of `distance` (1..kMaxDist) and length lenMinus3 + 3. True
    // means the block should end here (the counters are then handed back already): the
    // caller must emit it.
    bool Literal(unsigned c) {
      lits_[items_] = uint16_t(c);
      ++t_.ltree_.freq[c];
      return ++items_ >= checkAt_ && blockEnds();
    }
    bool Match(unsigned distance, unsigned lenMinus3) {
      const unsigned d = distance - 1;
      if (d >= unsigned(kMaxDist) || lenMinus3 > 255) throw EAssertionFailed("ct_tally: bad match");
      const unsigned code = deflateDistCode(d);
      matches_[matchCount_++] =
          items_ | lenMinus3 << 16 | uint64_t(distance) << 24 | uint64_t(code) << 40;
      ++t_.ltree_.freq[kLiterals + 1 + kDeflateTables.lengthCode[lenMinus3]];
      ++t_.dtree_.freq[code];
      ++t_.matchObs_[(lenMinus3 >= 5) + (lenMinus3 >= 30) + (d >= 512) * 3];
      return ++items_ >= checkAt_ && blockEnds();
    }
    void Done() {
      t_.items_ = items_;
      t_.matchCount_ = matchCount_;
    }
    // Takes the counters up again after the block was emitted.
    void Reload() {
      items_ = t_.items_;
      matchCount_ = t_.matchCount_;
      checkAt_ = t_.checkAt_;
    }

   private:
    bool blockEnds() {
      Done();
      const bool ends = t_.blockEnds();
      checkAt_ = t_.checkAt_;
      return ends;
    }
    TDeflateTrees& t_;
    uint16_t* const lits_;
    uint64_t* const matches_;
    unsigned items_;
    unsigned matchCount_;
    unsigned checkAt_;
  };

  // The same for a single item. `inLength` is the bytes the block covers so far (the
  // block-end test no longer needs it).
  bool TallyLiteral(unsigned c, int64_t /*inLength*/) {
    TTally t(*this);
    const bool ends = t.Literal(c);
    t.Done();
    return ends;
  }
  bool TallyMatch(unsigned distance, unsigned lenMinus3, int64_t /*inLength*/) {
    TTally t(*this);
    const bool ends = t.Match(distance, lenMinus3);
    t.Done();
    return ends;
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

  // Items of the block. A literal's byte goes to lits_ at its item's index; a match goes to
  // matches_ as its item index (bits 0..15), length - 3 (16..23), distance (24..39) and
  // distance code (from 40). The
  // literals between two matches are thus one run that compressBlock writes without testing
  // each item. lits_ is 16-bit: a byte store could alias every member, and the tally path
  // would reload them after it.
  std::vector<uint16_t> lits_;
  std::vector<uint64_t> matches_;
  unsigned matchCount_ = 0;
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
