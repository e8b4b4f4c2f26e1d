// How plausible a decoding of file names is as text people write: the letters of each word from
// one script, sensible case, no box drawing, controls or stray symbols inside words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelt {

class TTextScorer {
 public:
  void BeginText() { items_.clear(); }
  // One decoded character: `len` bytes, `high` when they are not plain ASCII; `rare` for an East
  // Asian character outside the commonly used level of its set.
  void AddChar(uint32_t cp, uint32_t len, bool high, bool rare);
  // One byte that starts no character.
  void AddInvalid();
  void EndText();

  // Per byte outside ASCII, from about -4 (garbage) to 1 (only common letters).
  double Score() const { return bytes_ ? credit_ / double(bytes_) : 1.0; }
  // Characters and words that cannot be right: controls, box drawing between letters, words
  // mixing scripts or with upper case after lower case.
  int Faults() const { return faults_; }
  uint64_t Bytes() const { return bytes_; }
  uint64_t InvalidBytes() const { return invalid_; }

 private:
  struct TItem {
    uint32_t cp;
    uint32_t bytes;  // bytes outside ASCII, 0 for ASCII
    uint8_t kind, script, letterCase;
  };
  void scoreWord(size_t begin, size_t end);

  std::vector<TItem> items_;
  double credit_ = 0;
  uint64_t bytes_ = 0, invalid_ = 0;
  int faults_ = 0;
};

}  // namespace quelt
