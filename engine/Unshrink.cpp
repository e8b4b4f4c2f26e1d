#include "engine/Unshrink.h"

#include <cstring>

#include "engine/LegacyBits.h"

namespace quelt {

namespace {

constexpr unsigned kFirstCodeSize = 9;
constexpr unsigned kMaxCodeSize = 13;
constexpr uint32_t kControlCode = 256;
constexpr uint32_t kFirstFree = 257;
constexpr uint32_t kCodeLimit = 8192;

// Work-area layout: prefixes of codes 0..8192, suffixes of codes 0..8191, and the decode stack
// that strings are spelled into backwards.
constexpr size_t kPrefixOffset = 0;
constexpr size_t kSuffixOffset = 16390;
constexpr size_t kStackOffset = 24585;
constexpr size_t kStackSize = 8192;
static_assert(kStackOffset + kStackSize <= TDecodeIO::kWorkAreaSize);

constexpr uint16_t kFreeCode = 0xFFFF;
constexpr uint16_t kMark = 0x8000;

class TUnshrinker {
 public:
  explicit TUnshrinker(TDecodeIO& io)
      : io_(io),
        bits_(io),
        area_(io.WorkArea()),
        suffix_(area_ + kSuffixOffset),
        stackEnd_(area_ + kStackOffset + kStackSize),
        room_(io.UncompressedSize) {}

  int run();

 private:
  uint16_t prefix(uint32_t code) const {
    uint16_t v;
    std::memcpy(&v, area_ + kPrefixOffset + 2 * code, 2);
    return v;
  }
  void setPrefix(uint32_t code, uint16_t v) {
    std::memcpy(area_ + kPrefixOffset + 2 * code, &v, 2);
  }
  void partialClear();
  [[nodiscard]] bool emit(const uint8_t* p, size_t n);

  TDecodeIO& io_;
  TLegacyBits bits_;
  uint8_t* area_;
  uint8_t* suffix_;
  uint8_t* stackEnd_;
  uint32_t room_;  // bytes still allowed by the declared size
  uint32_t nextFree_ = kFirstFree;
};

// Frees every code that is not the prefix of another, so the encoder and decoder reuse the
// same codes from the lowest up.
void TUnshrinker::partialClear() {
  for (uint32_t c = kFirstFree; c < nextFree_; ++c) {
    if (prefix(c) != kFreeCode) setPrefix(c, prefix(c) | kMark);
  }
  for (uint32_t c = kFirstFree; c < nextFree_; ++c) {
    uint16_t p = prefix(c);
    if (p == kFreeCode) continue;
    p &= uint16_t(~kMark);
    // Literal prefixes and free codes carry no mark to remove.
    if (p >= kFirstFree && prefix(p) != kFreeCode) setPrefix(p, prefix(p) & uint16_t(~kMark));
  }
  for (uint32_t c = kFirstFree; c < nextFree_; ++c) {
    uint16_t p = prefix(c);
    if (p != kFreeCode && (p & kMark)) setPrefix(c, kFreeCode);
  }
  nextFree_ = kFirstFree;
  while (nextFree_ < kCodeLimit && prefix(nextFree_) != kFreeCode) ++nextFree_;
}

bool TUnshrinker::emit(const uint8_t* p, size_t n) {
  if (n > room_) {
    io_.Output(p, room_);
    room_ = 0;
    return false;
  }
  io_.Output(p, n);
  room_ -= uint32_t(n);
  return true;
}

int TUnshrinker::run() {
  for (uint32_t c = 0; c < 256; ++c) {
    setPrefix(c, 0);
    suffix_[c] = uint8_t(c);
  }
  for (uint32_t c = 256; c <= kCodeLimit; ++c) setPrefix(c, kFreeCode);

  unsigned codeSize = kFirstCodeSize;
  uint32_t previous;
  if (!bits_.read(codeSize, previous)) return kLegacyOk;  // an empty entry
  // The first code can only be a literal: nothing else is defined yet.
  if (previous >= 256) return kLegacyDamaged;
  uint8_t first = uint8_t(previous);
  if (!emit(&first, 1)) return kLegacyDamaged;

  for (;;) {
    uint32_t code;
    if (!bits_.read(codeSize, code)) return kLegacyOk;
    if (code == kControlCode) {
      uint32_t sub;
      if (!bits_.read(codeSize, sub)) return kLegacyOk;
      if (sub == 1) {
        // Codes wider than 13 bits would index past the tables.
        if (++codeSize > kMaxCodeSize) return kLegacyDamaged;
      } else if (sub == 2) {
        partialClear();
      }
      continue;
    }

    uint32_t incoming = code;
    uint8_t* sp = stackEnd_;
    uint8_t* const stackBegin = stackEnd_ - kStackSize;
    // Walk the chain back to its literal. A code not yet defined is the previous string plus
    // its own first byte. Chains longer than the stack only come from damaged data (they
    // include cycles through freed codes).
    if (prefix(code) == kFreeCode) {
      *--sp = first;
      code = previous;
    }
    while (code >= kFirstFree) {
      if (sp == stackBegin) return kLegacyDamaged;
      if (prefix(code) == kFreeCode) {
        *--sp = first;
        code = previous;
      } else {
        *--sp = suffix_[code];
        code = prefix(code);
      }
    }
    if (sp == stackBegin) return kLegacyDamaged;
    first = suffix_[code];
    *--sp = first;
    if (!emit(sp, size_t(stackEnd_ - sp))) return kLegacyDamaged;

    if (nextFree_ < kCodeLimit) {
      setPrefix(nextFree_, uint16_t(previous));
      suffix_[nextFree_] = first;
      do {
        ++nextFree_;
      } while (nextFree_ < kCodeLimit && prefix(nextFree_) != kFreeCode);
    }
    previous = incoming;
  }
}

}  // namespace

int Unshrink(TDecodeIO& io) {
  int result = TUnshrinker(io).run();
  io.FlushOutput();
  return result;
}

}  // namespace quelt
