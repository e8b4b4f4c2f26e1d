// Archives behind a program, as self-extractors are made: their offsets count from the
// archive's own first byte, not the file's.
#include "engine/UnZipEngine.h"
#include "engine/ZipFormat.h"

namespace quelt {

int64_t TUnZipEngine::ArchiveStartBehindStub() {
  if (endRecord_.NumberOfThisDisk != 0 || endRecord_.TotalEntries == 0) return 0;
  // The directory ends where the end record begins; its offset, counted back from there,
  // gives the archive's start.
  const int64_t recordAt = endRecord_.Zip64RecordPos >= 0
                               ? endRecord_.Zip64RecordPos
                               : endRecord_.ZipCommentPos - int64_t(kEndRecordSize);
  if (endRecord_.CentralDirSize > uint64_t(recordAt) ||
      endRecord_.CentralDirOffset > uint64_t(recordAt))
    return 0;
  const int64_t directoryAt = recordAt - int64_t(endRecord_.CentralDirSize);
  const int64_t start = directoryAt - int64_t(endRecord_.CentralDirOffset);
  if (directoryAt < 0 || start <= 0) return 0;
  uint8_t header[kCentralHeaderSize];
  stream_->Seek(directoryAt, soFromBeginning);
  if (!stream_->ReadExact(header, sizeof header) || load32(header) != kCentralHeaderSig) return 0;
  // A damaged directory offset implies a start too; only a real one has the first entry's
  // local header where the shifted offset points.
  uint8_t sig[4];
  stream_->Seek(start + int64_t(load32(header + central::kRelativeOffset)), soFromBeginning);
  if (!stream_->ReadExact(sig, sizeof sig) || load32(sig) != kLocalHeaderSig) return 0;
  stream_->Seek(directoryAt, soFromBeginning);
  return start;
}

}  // namespace quelt
