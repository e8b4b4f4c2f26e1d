#include "engine/TextScorer.h"

#include <bit>

namespace quelt {

namespace {

enum TKind : uint8_t {
  kLetter,      // a common letter of its script
  kRareLetter,  // a letter, but seldom seen in names
  kMark,        // combining mark: counts as a letter after one (decomposed text), odd elsewhere
  kNeutral,     // digits, spaces, punctuation that names do carry
  kOdd,         // symbols: possible in a name, suspicious in numbers
  kBox,         // box drawing: DOS names used it for decoration, garbage shows it inside words
  kBad,         // controls, private use, math and technical symbols: never in a real name
};

enum TScriptBit : uint16_t {
  kNone = 0,
  kLatin = 1,
  kGreek = 2,
  kCyrillic = 4,
  kHebrew = 8,
  kArabic = 16,
  kThai = 32,
  kOther = 64,
  kHan = 128,
  kKana = 256,
  kHangul = 512,
  kAsciiLatin = 1024,
};

enum TCase : uint8_t { kNoCase, kUpper, kLower };

struct TClass {
  TKind kind;
  uint16_t script = kNone;
  TCase letterCase = kNoCase;
};

bool in(uint32_t cp, uint32_t lo, uint32_t hi) {
  return cp >= lo && cp <= hi;
}

// Case of Latin Extended-A, Cyrillic and similar blocks where pairs alternate.
TCase alternating(uint32_t cp, bool evenUpper) {
  return ((cp % 2 == 0) == evenUpper) ? kUpper : kLower;
}

TClass latin(uint32_t cp) {
  if (cp < 0x100) {
    if (cp == 0xD7 || cp == 0xF7) return {kOdd};
    // Icelandic eth and thorn, y with diaeresis: rare enough to weigh less.
    bool rare = cp == 0xD0 || cp == 0xDE || cp == 0xF0 || cp == 0xFE || cp == 0xFF;
    return {rare ? kRareLetter : kLetter, kLatin, cp <= 0xDE ? kUpper : kLower};
  }
  if (cp < 0x180) {
    if (cp == 0x138 || cp == 0x149 || cp == 0x17F) return {kRareLetter, kLatin, kLower};
    bool evenUpper = !(in(cp, 0x139, 0x148) || in(cp, 0x179, 0x17E));
    return {kLetter, kLatin, cp == 0x178 ? kUpper : alternating(cp, evenUpper)};
  }
  if (cp == 0x192) return {kOdd};  // the florin sign more than a letter
  if (cp < 0x250) return {kRareLetter, kLatin};
  // Vietnamese and other letters with stacked marks.
  return {in(cp, 0x1EA0, 0x1EF9) ? kLetter : kRareLetter, kLatin, alternating(cp, true)};
}

TClass greek(uint32_t cp) {
  if (cp == 0x386 || in(cp, 0x388, 0x38F) || in(cp, 0x391, 0x3AB)) return {kLetter, kGreek, kUpper};
  if (in(cp, 0x3AC, 0x3CE)) return {kLetter, kGreek, kLower};
  if (cp < 0x386) return {kOdd};
  return {kRareLetter, kGreek};
}

TClass cyrillic(uint32_t cp) {
  // Russian, Ukrainian and Belarusian letters are the common ones.
  bool common = in(cp, 0x410, 0x44F) || cp == 0x401 || cp == 0x451 || cp == 0x404 || cp == 0x406 ||
                cp == 0x407 || cp == 0x40E || cp == 0x454 || cp == 0x456 || cp == 0x457 ||
                cp == 0x45E || cp == 0x490 || cp == 0x491;
  TCase c = cp < 0x430 ? kUpper : cp < 0x460 ? kLower : kNoCase;
  if (in(cp, 0x460, 0x4FF))
    c = in(cp, 0x4C1, 0x4CE) ? alternating(cp, false) : alternating(cp, true);
  return {common ? kLetter : kRareLetter, kCyrillic, c};
}

TClass classify(uint32_t cp) {
  if (cp < 0x80) {
    if ((cp | 0x20) >= 'a' && (cp | 0x20) <= 'z')
      return {kLetter, kAsciiLatin, cp < 'a' ? kUpper : kLower};
    return {cp < 0x20 || cp == 0x7F ? kBad : kNeutral};
  }
  if (cp < 0xA0) return {kBad};
  if (cp < 0xC0) return {kOdd};
  if (cp < 0x250 || in(cp, 0x1E00, 0x1EFF)) return latin(cp);
  if (cp < 0x300) return {kOdd};  // IPA, spacing accents
  if (cp < 0x370) return {kMark};
  if (cp < 0x400) return greek(cp);
  if (cp < 0x500) return cyrillic(cp);
  if (cp < 0x530) return {kRareLetter, kCyrillic};
  if (in(cp, 0x591, 0x5C7)) return {kMark};
  if (in(cp, 0x5D0, 0x5EA)) return {kLetter, kHebrew};
  if (in(cp, 0x5F0, 0x5F4)) return {kRareLetter, kHebrew};
  if (in(cp, 0x621, 0x64A)) return {cp == 0x640 ? kNeutral : kLetter, kArabic};
  if (in(cp, 0x64B, 0x65F)) return {kMark};
  if (in(cp, 0x660, 0x669) || cp == 0x60C || cp == 0x61B || cp == 0x61F) return {kNeutral};
  if (cp == 0x67E || cp == 0x686 || cp == 0x698 || cp == 0x6A9 || cp == 0x6AF || cp == 0x6CC)
    return {kLetter, kArabic};  // the Persian letters
  if (in(cp, 0x671, 0x6D3)) return {kRareLetter, kArabic};
  if (in(cp, 0xE01, 0xE3A) || in(cp, 0xE40, 0xE4E)) return {kLetter, kThai};
  if (in(cp, 0xE50, 0xE59)) return {kNeutral};
  if (cp < 0x1100) return {kRareLetter, kOther};
  if (cp < 0x1200) return {kRareLetter, kHangul};  // conjoining jamo
  if (cp < 0x2000) return {kRareLetter, kOther};
  switch (cp) {
    case 0x2013:
    case 0x2014:
    case 0x2018:
    case 0x2019:
    case 0x201C:
    case 0x201D:
    case 0x2026:
      return {kNeutral};  // dashes, quotes and ellipsis that word processors put in names
  }
  if (in(cp, 0x2028, 0x202F) || in(cp, 0x2060, 0x206F)) return {kBad};  // separators, bidi
  if (cp < 0x2100) return {kOdd};  // punctuation, super- and subscripts, currency
  if (cp == 0x2116 || cp == 0x2122 || in(cp, 0x2150, 0x218F)) return {kOdd};
  if (in(cp, 0x2460, 0x24FF)) return {kNeutral};  // circled numbers, common in Japanese names
  if (cp < 0x2500) return {kBad};                 // arrows, math, technical symbols
  if (cp < 0x25A0) return {kBox};
  if (cp < 0x3000) return {kOdd};      // shapes, stars and other symbols
  if (cp < 0x3040) return {kNeutral};  // CJK punctuation
  if (in(cp, 0x3099, 0x309C) || cp == 0x30FB) return {kNeutral};
  if (cp < 0x3100) return {kLetter, kKana};
  if (in(cp, 0x3130, 0x318F)) return {kRareLetter, kHangul};
  if (in(cp, 0x3200, 0x33FF)) return {kNeutral};  // enclosed and squared CJK forms
  if (in(cp, 0x3400, 0x4DBF)) return {kRareLetter, kHan};
  if (in(cp, 0x4E00, 0x9FFF)) return {kLetter, kHan};
  if (in(cp, 0xAC00, 0xD7A3)) return {kLetter, kHangul};
  if (in(cp, 0xD800, 0xF8FF)) return {kBad};  // surrogates, private use
  if (in(cp, 0xF900, 0xFAFF)) return {kRareLetter, kHan};
  if (in(cp, 0xFE30, 0xFE4F) || in(cp, 0xFF01, 0xFF5E) || in(cp, 0xFFE0, 0xFFEE))
    return {kNeutral};                                      // full-width forms
  if (in(cp, 0xFF61, 0xFF9F)) return {kRareLetter, kKana};  // half-width katakana
  if (cp == 0xFFFD || in(cp, 0xFFF0, 0xFFFF)) return {kBad};
  if (in(cp, 0x20000, 0x3FFFF)) return {kRareLetter, kHan};
  return {kOdd};
}

bool wordPart(uint8_t kind) {
  return kind == kLetter || kind == kRareLetter || kind == kMark;
}

}  // namespace

void TTextScorer::AddChar(uint32_t cp, uint32_t len, bool high, bool rare) {
  TClass c = classify(cp);
  if (rare && c.kind == kLetter) c.kind = kRareLetter;
  items_.push_back(
      {cp, high ? len : 0, c.kind, uint8_t(std::countr_zero(unsigned(c.script))), c.letterCase});
  // The script travels as its bit number so the item stays small.
  if (c.script == kNone) items_.back().script = 0xFF;
}

void TTextScorer::AddInvalid() {
  items_.push_back({0, 1, kBad, 0xFF, kNoCase});
  ++invalid_;
}

void TTextScorer::EndText() {
  bool afterLetter = false;
  for (TItem& it : items_) {
    if (it.kind == kMark && !afterLetter) it.kind = kOdd;
    afterLetter = wordPart(it.kind);
  }
  for (size_t i = 0; i < items_.size(); ++i) {
    TItem& it = items_[i];
    if (!it.bytes) continue;
    bytes_ += it.bytes;
    bool betweenLetters = i > 0 && i + 1 < items_.size() && wordPart(items_[i - 1].kind) &&
                          wordPart(items_[i + 1].kind);
    // The same letter three times running is decoration or garbage, not a word.
    bool repeated = (it.kind == kLetter || it.kind == kRareLetter) && i >= 2 &&
                    items_[i - 1].cp == it.cp && items_[i - 2].cp == it.cp;
    uint8_t kind = repeated ? uint8_t(kOdd) : it.kind;
    if ((kind == kOdd || kind == kBox) && betweenLetters) kind = kBad;
    static constexpr double kCredit[] = {1.0, 0.25, 1.0, 0.0, -1.0, 0.0, -4.0};
    credit_ += kCredit[kind] * it.bytes;
    if (kind == kBad) ++faults_;
  }
  for (size_t i = 0; i < items_.size();) {
    if (!wordPart(items_[i].kind)) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < items_.size() && wordPart(items_[end].kind)) ++end;
    scoreWord(i, end);
    i = end;
  }
  items_.clear();
}

void TTextScorer::scoreWord(size_t begin, size_t end) {
  unsigned scripts = 0;
  uint64_t high = 0;
  int letters = 0, asciiLetters = 0;
  bool anomaly = false;
  const TItem* prev = nullptr;
  for (size_t i = begin; i < end; ++i) {
    const TItem& it = items_[i];
    high += it.bytes;
    if (it.script != 0xFF) scripts |= 1u << it.script;
    if (it.kind != kMark) ++letters, asciiLetters += it.bytes == 0;
    if (it.letterCase == kNoCase) continue;
    // Upper case after lower case inside a word: a sign of a set with its cases swapped.
    if (prev && prev->letterCase == kLower && it.letterCase == kUpper && (prev->bytes || it.bytes))
      anomaly = true;
    prev = &it;
  }
  if (!high) return;
  const unsigned cjk = kHan | kKana | kHangul;
  bool conflict;
  if (scripts & cjk) {
    // East Asian names mix ideographs and kana, and Latin letters from ASCII.
    conflict =
        (scripts & ~(cjk | kAsciiLatin)) || ((scripts & kHangul) && (scripts & (kHan | kKana)));
  } else {
    unsigned alphabets = (scripts & ~unsigned(kAsciiLatin)) | (scripts & kAsciiLatin ? kLatin : 0);
    conflict = std::popcount(alphabets) > 1;
  }
  // Words in Latin letters carry some plain ones; a word of accented letters only is another
  // alphabet read in a Latin page.
  bool accentsOnly = scripts == kLatin && letters >= 3 && asciiLetters == 0;
  if (conflict) credit_ -= 3.0 * high, ++faults_;
  if (anomaly || accentsOnly) credit_ -= 2.0 * high, ++faults_;
}

}  // namespace quelt
