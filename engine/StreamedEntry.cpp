#include "engine/StreamedEntry.h"

#include "engine/Errors.h"
#include "engine/ZipFormat.h"

namespace quelt {

TStreamedEntry::TStreamedEntry(TStream& out, uint16_t likelyMethod,
                               std::function<void(uint16_t method)> writeHeader)
    : out_(out), likely_(likelyMethod), writeHeader_(std::move(writeHeader)) {}

void TStreamedEntry::release(uint16_t method) {
  released_ = true;
  writeHeader_(method);
  if (!held_.empty()) out_.Write(held_.data(), held_.size());
  held_.clear();
  held_.shrink_to_fit();
}

size_t TStreamedEntry::Write(const void* buffer, size_t n) {
  taken_ += n;
  if (released_) return out_.Write(buffer, n);
  const auto* p = static_cast<const uint8_t*>(buffer);
  held_.insert(held_.end(), p, p + n);
  if (held_.size() > kHold) release(likely_);
  return n;
}

size_t TStreamedEntry::Read(void*, size_t) {
  throw EStreamError("Read error");
}

int64_t TStreamedEntry::Seek(int64_t offset, int origin) {
  if ((origin == soFromCurrent && offset == 0) ||
      (origin == soFromBeginning && offset == int64_t(taken_)))
    return int64_t(taken_);
  throw EStreamError("Seek error: an entry written to a stream cannot go back");
}

void TStreamedEntry::Finish(uint16_t method, uint32_t crc, uint64_t compressedSize,
                            uint64_t uncompressedSize, bool zip64) {
  if (!released_) release(method);
  uint8_t d[kZip64DataDescriptorSize];
  store32(d, kDataDescriptorSig);
  store32(d + 4, crc);
  if (zip64) {
    store64(d + 8, compressedSize);
    store64(d + 16, uncompressedSize);
  } else {
    store32(d + 8, uint32_t(compressedSize));
    store32(d + 12, uint32_t(uncompressedSize));
  }
  out_.Write(d, zip64 ? kZip64DataDescriptorSize : kDataDescriptorSize);
}

}  // namespace quelt
