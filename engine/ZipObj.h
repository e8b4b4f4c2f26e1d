// The catalogue's records in memory: one TZipHeaderInfo per entry and the end record.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/BufferStream.h"
#include "engine/NameEncoding.h"

namespace quelt {

// Called when a record runs past the end of a volume: returns the next volume's stream,
// positioned at its start, or throws.
using TNextVolumeFn = std::function<TStream*()>;

// The name and extra-field lengths of the local header at `offset`, or nothing when no local
// header is there. The stream is left just after the header's fixed 30 bytes.
struct TLocalSpan {
  uint16_t nameLength = 0, extraLength = 0;
};
std::optional<TLocalSpan> ReadLocalSpan(TStream& stream, int64_t offset);
// Bytes of the data descriptor at `pos`: 16 when it starts with its signature, else 12;
// 8 more when its sizes are 8 bytes each, as they are after a local header with Zip64 sizes.
int64_t DataDescriptorLength(TStream& stream, int64_t pos, bool zip64 = false);
// Whether the local header at `offset`, whose lengths are `span`, carries Zip64 sizes.
bool LocalHeaderHasZip64(TStream& stream, int64_t offset, const TLocalSpan& span);

class TZipHeaderInfo {
 public:
  TZipHeaderInfo() = default;

  uint16_t VersionMadeBy = 20;
  uint16_t VersionNeeded = 20;
  uint16_t BitFlag = 0;
  uint16_t CompressionMethod = 8;
  uint32_t LastModFileDateTime = 0;
  uint32_t CRC32 = 0xFFFFFFFF;
  // Sizes and offset as they are, from the Zip64 extra field when the classic fields could
  // not hold them.
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint16_t FilenameLength = 0;  // bytes of the stored name on disk
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;  // bytes of the stored comment on disk
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 1;
  uint32_t ExternalAttributes = 32;
  uint64_t RelativeOffset = 0;
  int64_t CentralHeaderPos = 0;
  bool MarkedForRun = false;
  // Last modification in UTC seconds, from the extended-timestamp (or NTFS) extra field;
  // nothing when the entry has only its DOS date-time, which is local time.
  std::optional<int64_t> ModTimeUtc;

  void Clear() { *this = TZipHeaderInfo(); }

  const std::string& Filename() const { return filename_; }
  const std::string& Directory() const { return directory_; }
  std::string FullName() const { return directory_ + filename_; }
  void SetFilename(const std::string& name);
  // A non-empty folder always ends in "\".
  void SetDirectory(const std::string& dir);
  // Splits a name with "\" separators into folder and file name.
  void SetFullName(const std::string& name);
  // Sets the name from a "/"-separated path in which "\" is a character of a name, as Linux
  // file names may hold it; the path is stored as it is.
  void SetStoredPath(const std::string& path);
  // The name as stored, "/"-separated, with a "\" kept where it is part of a name (entries
  // made on Unix hosts): two entries with the same key are the same file.
  std::string NameKey() const;

  // The comment in memory (UTF-8); empty when there is none.
  const std::string& EntryComment() const { return comment_; }
  void SetEntryComment(const std::string& text);

  // The name and comment bytes as they will be written; sets flag bit 11 when UTF-8 is needed.
  // Bytes read from an archive are written back unchanged while name and comment are.
  std::string StoredName() const;
  std::string StoredComment() const;

  // The name and comment bytes as read from disk, for finding the set they are written in;
  // nothing once they were changed in memory.
  std::optional<TStoredText> StoredNameText() const;
  std::optional<TStoredText> StoredCommentText() const;
  // Reads the name and comment kept from disk again in `encoding`; changed ones stay.
  void DecodeStored(const TNameEncoding& encoding);

  bool ReadCentralHeader(TStream& stream, const TNextVolumeFn& nextVolume = {});
  // Leaves the stream just after the extra field, that is at the entry's data.
  bool ReadLocalHeader(TStream& stream);
  // Writes the extra field too when the entry made one (SetModTime); an entry copied from
  // another archive keeps ExtraFieldLength and the caller copies its extra field.
  void WriteLocalHeader(TStream& stream);
  // The central extra field travels with the entry: as read, or as SetModTime made it.
  void WriteCentralHeader(TStream& stream);

  uint8_t HostSystem() const { return uint8_t(VersionMadeBy >> 8); }
  // The Unix mode in the upper external attributes of an entry made on a Unix host (or marked
  // by 7-Zip as carrying one); nothing for DOS-style attributes.
  std::optional<uint32_t> UnixMode() const;
  // A name ending in a separator, or an empty entry with a folder mode or the DOS folder bit.
  bool IsFolder() const;
  // An entry made on a Unix host with the link mode: its data is the link's target.
  bool IsSymlink() const;
  // Marks the entry as made here: Unix host, the mode in the upper 16 bits of the external
  // attributes and the matching DOS bits in the low byte.
  void SetUnixAttributes(uint32_t mode);
  // Gives a new entry its extended-timestamp extra field, local and central.
  void SetModTime(int64_t utcSeconds);
  // Puts a whole extra block (id, size, body) in a new entry's local and central extra
  // fields, in place of any block with its id.
  void SetExtraBlock(const std::string& block);
  const std::string& CentralExtra() const { return centralExtra_; }
  // For an entry copied from another archive: its local extra field travels with its data,
  // so WriteLocalHeader writes only ExtraFieldLength; `localZip64` says whether that field
  // holds Zip64 sizes.
  void LeaveLocalExtraToCaller(bool localZip64) {
    localExtra_.clear();
    localZip64_ = localZip64;
  }
  bool HasLocalExtra() const { return !localExtra_.empty(); }

  bool Encrypted() const { return BitFlag & 0x0001; }
  bool HasDataDescriptor() const { return BitFlag & 0x0008; }
  bool HasComment() const { return FileCommentLength != 0; }
  uint32_t LocalSize() const { return 30u + FilenameLength + ExtraFieldLength; }
  uint32_t CentralSize() const {
    return 46u + FilenameLength + uint32_t(centralExtra_.size() + centralZip64().size()) +
           FileCommentLength;
  }
  // Makes room in a new entry's local header for 8-byte sizes, before its data is written,
  // when the sizes may not fit in 32 bits: the header is written again after the data, and
  // must keep its length.
  void ReserveLocalZip64();
  // Whether the local header has (or, copied, keeps) a Zip64 extra field with the sizes:
  // its classic size fields then hold the marker, and a data descriptor 8-byte sizes.
  bool LocalZip64() const { return localZip64_; }

 private:
  void splitName(const std::string& name);
  void settleEncoding();
  // Takes what the Zip64 block of an extra field says and drops the block: it is made again
  // from the values when the header is written.
  void takeZip64(std::string& extra, bool central);
  // The Zip64 block the central header needs for values that do not fit; empty when all do.
  std::string centralZip64() const;

  std::string filename_, directory_, comment_;
  // What was read from disk, kept so an unchanged entry is written back byte for byte.
  std::optional<std::string> rawName_, rawComment_;
  // The "/"-separated name when it is known apart from the split name (see NameKey).
  std::optional<std::string> slashedName_;
  bool madeByKnown_ = false;  // read from a central header, so VersionMadeBy is the creator's
  std::string localExtra_, centralExtra_;
  bool localZip64_ = false;
};

class TEndCentral {
 public:
  uint32_t Signature = 0x06054B50;
  uint16_t NumberOfThisDisk = 0;
  uint16_t CentralDirStartDisk = 0;
  uint64_t EntriesThisDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;
  uint16_t ZipCommentLength = 0;  // bytes on disk
  int64_t ZipCommentPos = 0;
  // Where the Zip64 end record stands (the central directory ends there), or -1 when the
  // archive has none.
  int64_t Zip64RecordPos = -1;
  bool Modified = false;

  void Clear() { *this = TEndCentral(); }
  // Copies everything but Modified.
  void Assign(const TEndCentral& source);

  const std::string& ZipComment() const { return comment_; }
  void SetZipComment(const std::string& text);
  // Takes the record's 22 bytes and the comment bytes that follow it in the file.
  void LoadRecord(const uint8_t* record, std::string_view commentBytes);
  // Takes the counts, size and offset of a Zip64 end record's 56 bytes, found at `pos`.
  void LoadZip64Record(const uint8_t* record, int64_t pos);
  // Whether the counts, size or offset need the Zip64 records to be written.
  bool NeedsZip64() const;
  std::string StoredComment() const;
  // The comment bytes as read, while unchanged; see TZipHeaderInfo.
  std::optional<TStoredText> StoredCommentText() const;
  void DecodeStored(const TNameEncoding& encoding);

  bool HasComment() const { return ZipCommentLength != 0; }
  uint32_t RecordSize() const { return 22u + ZipCommentLength; }
  // Writes the Zip64 end record and its locator first when NeedsZip64(); `zip64At` is the
  // offset the locator gives for it (from the start of its volume's file, as offsets count).
  void WriteEndRecord(TStream& stream, uint64_t zip64At = 0);

 private:
  std::string comment_;
  std::optional<std::string> rawComment_;
};

}  // namespace quelt
