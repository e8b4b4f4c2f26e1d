// What the Deflate encoder receives from the archive writer: a source to pull the entry's
// bytes from and a sink for the compressed bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelt {

class TEncodeIO {
 public:
  virtual ~TEncodeIO() = default;

  // Reads up to `count` bytes of the source into `buf` and returns how many it read: 0 only at
  // the end of the source, fewer than asked is fine. After a 0 the encoder asks no more.
  // Reading also feeds the writer's CRC and progress. May throw (read error, cancel).
  virtual size_t Read(uint8_t* buf, size_t count) = 0;

  // Takes the next `n` compressed bytes (usually 1024 at a time). The bytes are the encoder's
  // own buffers, its match window among them, and must not be changed: a writer that encrypts
  // encrypts a copy. May throw (write error, cancel).
  virtual void Write(const uint8_t* data, size_t n) = 0;
};

// A source and sink in memory: for tests, fuzzing and benchmarks. `readBlock` caps each read,
// so short reads can be exercised.
class TMemoryEncodeIO : public TEncodeIO {
 public:
  TMemoryEncodeIO(const uint8_t* data, size_t size, size_t readBlock = SIZE_MAX)
      : data_(data), size_(size), block_(readBlock ? readBlock : 1) {}

  size_t Read(uint8_t* buf, size_t count) override {
    size_t n = std::min({count, size_ - offset_, block_});
    std::copy(data_ + offset_, data_ + offset_ + n, buf);
    offset_ += n;
    return n;
  }
  void Write(const uint8_t* p, size_t n) override {
    out.insert(out.end(), p, p + n);
    ++writes;
  }

  std::vector<uint8_t> out;
  int writes = 0;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  size_t block_;
};

}  // namespace quelt
