// One entry written to an output that cannot seek back (a pipe): its local header says that
// the CRC and sizes follow the data, in a data descriptor.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/BufferStream.h"

namespace quelt {

class TStreamedEntry : public TStream {
 public:
  // Bytes held back before the method is certain. The encoder keeps an entry that does not
  // shrink as it is only when the entry is one block, which fits its 64 KiB window; past
  // this, the data is deflated.
  static constexpr size_t kHold = 128 * 1024;

  // `writeHeader(method)` writes the entry's local header to `out`; it is called once, when
  // the method is certain: past kHold bytes (`likelyMethod`) or at Finish.
  TStreamedEntry(TStream& out, uint16_t likelyMethod,
                 std::function<void(uint16_t method)> writeHeader);

  // The entry's data (and any encryption header): held, then passed on.
  size_t Write(const void* buffer, size_t n) override;
  size_t Read(void*, size_t) override;
  // Answers only where the entry's data stands: the bytes taken so far.
  int64_t Seek(int64_t offset, int origin) override;

  // Writes what is still held, then the data descriptor: 8-byte sizes when `zip64`, as a
  // local header with Zip64 sizes promises.
  void Finish(uint16_t method, uint32_t crc, uint64_t compressedSize, uint64_t uncompressedSize,
              bool zip64);
  uint64_t Taken() const { return taken_; }

 private:
  void release(uint16_t method);

  TStream& out_;
  uint16_t likely_;
  std::function<void(uint16_t)> writeHeader_;
  std::vector<uint8_t> held_;
  bool released_ = false;
  uint64_t taken_ = 0;
};

}  // namespace quelt
