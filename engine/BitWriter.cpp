#include "engine/BitWriter.h"

#include "engine/Errors.h"

namespace quelt {

void TBitWriter::Start(TEncodeIO& io) {
  io_ = &io;
  bitBuf_ = 0;
  bitCount_ = 0;
  fill_ = 0;
  written_ = 0;
}

void TBitWriter::SendBits(uint32_t value, unsigned length) {
  if (length == 0 || length > 32) throw EAssertionFailed("invalid length in send_bits");
  AddBits(value & (uint64_t(0xFFFFFFFF) >> (32 - length)), length);
  FlushBits();
}

void TBitWriter::spill() {
  io_->Write(buf_, kBufferSize);
  written_ += kBufferSize;
  fill_ -= kBufferSize;
  std::memmove(buf_, buf_ + kBufferSize, fill_);
}

void TBitWriter::flushBuffer() {
  if (fill_ == 0) return;
  // Reset before the call: a writer that throws must not see these bytes again.
  size_t n = fill_;
  fill_ = 0;
  io_->Write(buf_, n);
  written_ += n;
}

void TBitWriter::padToByte() {
  FlushBits();
  if (bitCount_ > 0) {
    bitCount_ = 8;
    FlushBits();
  }
  bitBuf_ = 0;
}

void TBitWriter::AlignBits() {
  padToByte();
  flushBuffer();
}

void TBitWriter::CopyStored(const uint8_t* data, size_t length, bool header) {
  padToByte();
  if (header) {
    // FlushBits leaves fill_ below kBufferSize, and the buffer has 8 bytes to spare.
    uint8_t h[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(~length), uint8_t(~length >> 8)};
    std::memcpy(buf_ + fill_, h, 4);
    fill_ += 4;
  }
  flushBuffer();
  if (length > 0) {
    io_->Write(data, length);
    written_ += length;
  }
}

}  // namespace quelt
