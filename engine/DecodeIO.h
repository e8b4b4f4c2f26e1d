// What every decompressor receives from the extraction driver: the entry's compressed bytes,
// a shared work area, and an output that checksums and writes what it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quelt {

class TDecodeIO {
 public:
  static constexpr size_t kWorkAreaSize = 32780;
  static constexpr size_t kWindowSize = 32768;

  virtual ~TDecodeIO() = default;

  // Compressed bytes not yet consumed. Decoders may read straight from this range and
  // advance inPos; Refill() replaces the range with the next block.
  const uint8_t* inPos = nullptr;
  const uint8_t* inEnd = nullptr;

  // Facts of the entry that some methods need.
  uint64_t UncompressedSize = 0;  // counts the output of methods without an end marker
  uint64_t CompressedSize = 0;    // after any encryption header
  uint16_t BitFlag = 0;

  // Loads the next block of the entry's compressed bytes; false when they are used up.
  // May throw (cancel, premature end of the archive, a volume that cannot be had).
  virtual bool Refill() = 0;

  // One compressed byte: 8 when one was delivered into b, 0 when the data is used up.
  int NextByte(uint8_t& b) {
    if (inPos == inEnd && !Refill()) return 0;
    b = *inPos++;
    return 8;
  }

  // Appends n decompressed bytes to the output.
  virtual void Output(const uint8_t* data, size_t n) = 0;
  // Appends the first n bytes of the work area to the output.
  void FlushWindow(size_t n) { Output(WorkArea(), n); }
  // Pushes everything appended so far to its destination.
  virtual void FlushOutput() = 0;

  uint8_t* WorkArea() { return workArea_.data(); }

 protected:
  TDecodeIO() : workArea_(kWorkAreaSize) {}

 private:
  std::vector<uint8_t> workArea_;
};

// A decode source and sink in memory: for tests, fuzzing and benchmarks. The output stops
// growing at `outputLimit` so a damaged stream can never fill memory.
class TMemoryDecodeIO : public TDecodeIO {
 public:
  TMemoryDecodeIO(const uint8_t* data, size_t size, size_t outputLimit = SIZE_MAX,
                  size_t blockSize = 16000)
      : data_(data), size_(size), block_(blockSize ? blockSize : 1), limit_(outputLimit) {}

  bool Refill() override {
    if (offset_ >= size_) return false;
    size_t n = size_ - offset_ < block_ ? size_ - offset_ : block_;
    inPos = data_ + offset_;
    inEnd = inPos + n;
    offset_ += n;
    return true;
  }
  void Output(const uint8_t* p, size_t n) override {
    if (out.size() + n > limit_) {
      n = limit_ - out.size();
      truncated = true;
    }
    out.insert(out.end(), p, p + n);
  }
  void FlushOutput() override { ++flushes; }

  std::vector<uint8_t> out;
  bool truncated = false;
  int flushes = 0;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  size_t block_;
  size_t limit_;
};

}  // namespace quelt
