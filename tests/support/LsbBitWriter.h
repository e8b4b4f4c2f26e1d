// Builds least-significant-bit-first streams by hand for decoder tests.
#pragma once

#include <cstdint>
#include <vector>

namespace quelt::test {

class TLsbBitWriter {
 public:
  // Appends the low n bits of v, lowest first.
  TLsbBitWriter& put(uint32_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      if (bit_ == 0) bytes_.push_back(0);
      if ((v >> i) & 1) bytes_.back() |= uint8_t(1u << bit_);
      bit_ = (bit_ + 1) & 7;
    }
    return *this;
  }
  // Appends a Huffman code of n bits, its most significant bit first.
  TLsbBitWriter& putCode(uint32_t code, unsigned n) {
    for (unsigned i = n; i-- > 0;) put((code >> i) & 1, 1);
    return *this;
  }
  // Pads with zero bits to the next byte boundary.
  TLsbBitWriter& align() {
    while (bit_ != 0) put(0, 1);
    return *this;
  }
  // Appends a whole byte at the next byte boundary.
  TLsbBitWriter& byte(uint8_t b) {
    bit_ = 0;
    bytes_.push_back(b);
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  unsigned bit_ = 0;
};

}  // namespace quelt::test
