// Packs Deflate codes into bytes, least significant bit first, and hands the bytes to the
// writer in chunks of kBufferSize so its encryption and message pump run once per chunk.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/EncodeIO.h"

namespace quelt {

namespace detail {
inline constexpr auto kReversedBytes = [] {
  std::array<uint8_t, 256> r{};
  for (unsigned b = 0; b < 256; ++b)
    for (unsigned i = 0; i < 8; ++i) r[b] |= uint8_t(((b >> i) & 1) << (7 - i));
  return r;
}();
}  // namespace detail

// The low `length` bits of `code` (1 <= length <= 16) in reverse order: canonical codes are sent
// from the top bit. Every code of every tree goes through it, so small entries feel its cost.
inline uint32_t reverseBits(uint32_t code, unsigned length) {
  const uint32_t r = uint32_t(detail::kReversedBytes[code & 0xFF]) << 8 |
                     detail::kReversedBytes[(code >> 8) & 0xFF];
  return r >> (16 - length);
}

class TBitWriter {
 public:
  static constexpr size_t kBufferSize = 1024;

  // Starts an entry: no bits held, nothing buffered, output to `io`.
  void Start(TEncodeIO& io);

  // Appends the low `length` bits of value, 1 <= length <= 32.
  void SendBits(uint32_t value, unsigned length);

  // The hot path's pair: AddBits keeps at most 64 bits without writing (callers keep the bits
  // held plus those added at most 63), FlushBits moves the whole bytes held to the buffer.
  void AddBits(uint64_t value, unsigned length) {
    bitBuf_ |= value << bitCount_;
    bitCount_ += length;
  }
  void FlushBits() {
    storeLE64(buf_ + fill_, bitBuf_);
    unsigned bytes = bitCount_ >> 3;
    fill_ += bytes;
    bitBuf_ >>= bytes * 8;
    bitCount_ &= 7;
    if (fill_ >= kBufferSize) [[unlikely]]
      spill();
  }

  // The same pair for loops that write many codes: the bits held and the write position live
  // in the batch, a local object the compiler keeps in registers. (The writer's own members
  // would be reloaded after every byte store, which may alias them.) No other call on the
  // writer may come between the batch's construction and Done().
  class TBatch {
   public:
    explicit TBatch(TBitWriter& w)
        : w_(w),
          bitBuf_(w.bitBuf_),
          bitCount_(w.bitCount_),
          out_(w.buf_ + w.fill_),
          end_(w.buf_ + kBufferSize) {}
    void Add(uint64_t value, unsigned length) {
      bitBuf_ |= value << bitCount_;
      bitCount_ += length;
    }
    void Flush() {
      storeLE64(out_, bitBuf_);
      unsigned bytes = bitCount_ >> 3;
      out_ += bytes;
      bitBuf_ >>= bytes * 8;
      bitCount_ &= 7;
      if (out_ >= end_) [[unlikely]]
        spill();
    }
    // Hands the state back to the writer.
    void Done() {
      w_.bitBuf_ = bitBuf_;
      w_.bitCount_ = bitCount_;
      w_.fill_ = size_t(out_ - w_.buf_);
    }

   private:
    void spill() {
      Done();
      w_.spill();
      out_ = w_.buf_ + w_.fill_;
    }
    TBitWriter& w_;
    uint64_t bitBuf_;
    unsigned bitCount_;
    uint8_t* out_;
    uint8_t* const end_;
  };

  // Writes the bits held, padded to a byte, and hands everything buffered to the writer.
  void AlignBits();

  // Aligns, then writes a stored block's LEN and NLEN (with `header`) and the raw bytes, which
  // go to the writer straight from `data` without a copy.
  void CopyStored(const uint8_t* data, size_t length, bool header);

  // Bytes handed to the writer for this entry.
  uint64_t BytesWritten() const { return written_; }
  // Bits appended but not yet handed over (buffered bytes and held bits).
  uint64_t PendingBits() const { return uint64_t(fill_) * 8 + bitCount_; }

 private:
  static void storeLE64(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native != std::endian::little) {
      for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
    } else {
      std::memcpy(p, &v, 8);
    }
  }
  // Hands over the first kBufferSize bytes and keeps the few beyond them.
  void spill();
  // Writes out the bits held, the last byte padded with zero bits.
  void padToByte();
  void flushBuffer();

  TEncodeIO* io_ = nullptr;
  uint64_t bitBuf_ = 0;
  unsigned bitCount_ = 0;
  size_t fill_ = 0;
  uint64_t written_ = 0;
  // FlushBits stores 8 bytes at fill_ < kBufferSize, so the tail needs room for 8 more.
  uint8_t buf_[kBufferSize + 8] = {};
};

}  // namespace quelt
