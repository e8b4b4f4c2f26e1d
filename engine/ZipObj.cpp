#include "engine/ZipObj.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "engine/CodePage.h"
#include "engine/Errors.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

// Reads n bytes, continuing on the next volume when the current one ends.
bool readAcross(TStream*& stream, const TNextVolumeFn& nextVolume, void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t got = stream->Read(p, n);
  while (got < n && nextVolume) {
    stream = nextVolume();
    size_t more = stream->Read(p + got, n - got);
    if (more == 0) return false;
    got += more;
  }
  return got == n;
}

uint16_t length16(const std::string& s) { return uint16_t(s.size() > 0xFFFF ? 0xFFFF : s.size()); }

constexpr int64_t kNtfsToUnixSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

// The modification time an extra field records: the extended timestamp when there is one,
// else the NTFS times 7-Zip writes. Every block length is checked against what is there.
std::optional<int64_t> modTimeFromExtra(std::string_view extra) {
  auto* p = reinterpret_cast<const uint8_t*>(extra.data());
  std::optional<int64_t> ntfs;
  for (size_t at = 0; at + 4 <= extra.size();) {
    const uint16_t tag = load16(p + at), length = load16(p + at + 2);
    if (at + 4 + length > extra.size()) break;
    const uint8_t* d = p + at + 4;
    if (tag == kExtraTimestamp && length >= 5 && (d[0] & kTimestampMtime))
      return int64_t(load32(d + 1));
    if (tag == kExtraNtfs) {
      for (size_t q = 4; q + 4 <= length;) {
        const uint16_t attrTag = load16(d + q), attrLength = load16(d + q + 2);
        if (q + 4 + attrLength > length) break;
        if (attrTag == 1 && attrLength >= 8) {
          uint64_t ticks = uint64_t(load32(d + q + 4)) | uint64_t(load32(d + q + 8)) << 32;
          ntfs = int64_t(ticks / 10000000) - kNtfsToUnixSeconds;
        }
        q += 4 + attrLength;
      }
    }
    at += 4 + length;
  }
  return ntfs;
}

}  // namespace

std::optional<TLocalSpan> ReadLocalSpan(TStream& stream, int64_t offset) {
  uint8_t h[kLocalHeaderSize];
  stream.Seek(offset, soFromBeginning);
  if (!stream.ReadExact(h, sizeof h) || load32(h) != kLocalHeaderSig) return std::nullopt;
  return TLocalSpan{load16(h + local::kNameLength), load16(h + local::kExtraLength)};
}

int64_t DataDescriptorLength(TStream& stream, int64_t pos) {
  uint8_t sig[4];
  stream.Seek(pos, soFromBeginning);
  return stream.ReadExact(sig, 4) && load32(sig) == kDataDescriptorSig ? 16 : 12;
}

// ---- TZipHeaderInfo

void TZipHeaderInfo::SetFilename(const std::string& name) {
  if (name == filename_) return;
  filename_ = name;
  rawName_.reset();
  slashedName_.reset();
  settleEncoding();
}

void TZipHeaderInfo::SetDirectory(const std::string& dir) {
  std::string d = dir;
  if (!d.empty() && d.back() != '\\') d += '\\';
  if (d == directory_) return;
  directory_ = d;
  rawName_.reset();
  slashedName_.reset();
  settleEncoding();
}

void TZipHeaderInfo::SetStoredPath(const std::string& path) {
  size_t cut = path.rfind('/');
  directory_ = cut == std::string::npos ? "" : Backslashed(path.substr(0, cut + 1));
  filename_ = cut == std::string::npos ? path : path.substr(cut + 1);
  slashedName_ = path;
  rawName_.reset();
  settleEncoding();
}

std::string TZipHeaderInfo::NameKey() const {
  return slashedName_ ? *slashedName_ : Slashed(FullName());
}

std::optional<uint32_t> TZipHeaderInfo::UnixMode() const {
  const uint32_t mode = ExternalAttributes >> 16;
  if (mode == 0) return std::nullopt;
  if (HostSystem() == kHostUnix) return mode;
  if ((HostSystem() == kHostDos || HostSystem() == kHostNtfs) &&
      (ExternalAttributes & kAttrUnixExtension))
    return mode;
  return std::nullopt;
}

bool TZipHeaderInfo::IsFolder() const {
  if (filename_.empty()) return true;
  // A folder mode or bit on an entry with data is a mistake of its writer; the data wins.
  if (UncompressedSize != 0) return false;
  if (auto mode = UnixMode()) return S_ISDIR(*mode);
  return ExternalAttributes & kAttrDirectory;
}

bool TZipHeaderInfo::IsSymlink() const {
  auto mode = UnixMode();
  return mode && S_ISLNK(*mode);
}

void TZipHeaderInfo::SetUnixAttributes(uint32_t mode) {
  VersionMadeBy = kMadeByUnix;
  ExternalAttributes = (mode & 0xFFFF) << 16 | files::DosAttributesFromMode(mode_t(mode));
}

void TZipHeaderInfo::SetModTime(int64_t utcSeconds) {
  ModTimeUtc.reset();
  localExtra_.clear();
  centralExtra_.clear();
  ExtraFieldLength = 0;
  // The field holds 32 bits; a time it cannot hold is left to the DOS date-time alone.
  if (utcSeconds < 0 || utcSeconds > int64_t(UINT32_MAX)) return;
  uint8_t field[9];
  store16(field, kExtraTimestamp);
  store16(field + 2, 5);
  field[4] = kTimestampMtime;
  store32(field + 5, uint32_t(utcSeconds));
  localExtra_.assign(reinterpret_cast<const char*>(field), sizeof field);
  centralExtra_ = localExtra_;
  ExtraFieldLength = uint16_t(localExtra_.size());
  ModTimeUtc = utcSeconds;
}

void TZipHeaderInfo::splitName(const std::string& name) {
  // The folder ends at the last "\"; a drive prefix ("c:name") also counts as a folder.
  // A ":" elsewhere is an ordinary character of Linux file names.
  size_t cut = name.rfind('\\');
  if (cut == std::string::npos && name.size() >= 2 && name[1] == ':') cut = 1;
  if (cut == std::string::npos) {
    directory_.clear();
    filename_ = name;
  } else {
    directory_ = name.substr(0, cut + 1);
    if (directory_.back() != '\\') directory_ += '\\';
    filename_ = name.substr(cut + 1);
  }
}

void TZipHeaderInfo::SetFullName(const std::string& name) {
  splitName(name);
  rawName_.reset();
  slashedName_.reset();
  settleEncoding();
}

void TZipHeaderInfo::SetEntryComment(const std::string& text) {
  if (text == comment_) return;
  comment_ = text;
  rawComment_.reset();
  settleEncoding();
}

namespace {
bool isAscii(const std::string& s) {
  for (char c : s)
    if (uint8_t(c) >= 0x80) return false;
  return true;
}
}  // namespace

void TZipHeaderInfo::settleEncoding() {
  // Any text beyond ASCII is written in UTF-8 with flag bit 11: readers on Linux show DOS
  // code page bytes as they are (or as ISO 8859-1), so such a name would come out garbled.
  // One flag covers name and comment: when either needs UTF-8, both are written in it, and
  // bytes kept from disk in another encoding are encoded afresh.
  const bool wasUtf8 = BitFlag & kFlagUtf8;
  auto rawNonAscii = [](const std::optional<std::string>& raw) { return raw && !isAscii(*raw); };
  auto needsUtf8 = [](const std::optional<std::string>& raw, const std::string& text) {
    return !raw && !isAscii(text);
  };
  bool utf8 = (wasUtf8 && (rawNonAscii(rawName_) || rawNonAscii(rawComment_))) ||
              needsUtf8(rawName_, NameKey()) || needsUtf8(rawComment_, comment_);
  if (utf8 && !wasUtf8) {
    if (rawNonAscii(rawName_)) rawName_.reset();
    if (rawNonAscii(rawComment_)) rawComment_.reset();
  }
  BitFlag = utf8 ? uint16_t(BitFlag | kFlagUtf8) : uint16_t(BitFlag & ~kFlagUtf8);
  FilenameLength = length16(StoredName());
  FileCommentLength = length16(StoredComment());
}

std::string TZipHeaderInfo::StoredName() const {
  if (rawName_) return *rawName_;
  std::string name = NameKey();
  if (BitFlag & kFlagUtf8) return name;
  return utf8ToCp437(name).value_or(name);
}

std::string TZipHeaderInfo::StoredComment() const {
  if (rawComment_) return *rawComment_;
  if (BitFlag & kFlagUtf8) return comment_;
  return utf8ToCp437(comment_).value_or(comment_);
}

bool TZipHeaderInfo::ReadCentralHeader(TStream& stream, const TNextVolumeFn& nextVolume) {
  TStream* s = &stream;
  int64_t start = s->Position();
  uint8_t h[kCentralHeaderSize];
  if (!readAcross(s, nextVolume, h, sizeof h) || load32(h) != kCentralHeaderSig) {
    if (s == &stream) s->Seek(start, soFromBeginning);
    return false;
  }
  TZipHeaderInfo e;
  e.VersionMadeBy = load16(h + central::kVersionMadeBy);
  e.VersionNeeded = load16(h + central::kVersionNeeded);
  e.BitFlag = load16(h + central::kFlags);
  e.CompressionMethod = load16(h + central::kMethod);
  e.LastModFileDateTime = load32(h + central::kTime);
  e.CRC32 = load32(h + central::kCrc);
  e.CompressedSize = load32(h + central::kCompressedSize);
  e.UncompressedSize = load32(h + central::kUncompressedSize);
  e.FilenameLength = load16(h + central::kNameLength);
  e.ExtraFieldLength = load16(h + central::kExtraLength);
  e.FileCommentLength = load16(h + central::kCommentLength);
  e.DiskNumberStart = load16(h + central::kDiskNumberStart);
  e.InternalAttributes = load16(h + central::kInternalAttributes);
  e.ExternalAttributes = load32(h + central::kExternalAttributes);
  e.RelativeOffset = load32(h + central::kRelativeOffset);
  e.CentralHeaderPos = uint32_t(start);
  e.madeByKnown_ = true;

  std::string name(e.FilenameLength, '\0'), extra(e.ExtraFieldLength, '\0');
  if (!readAcross(s, nextVolume, name.data(), name.size()) ||
      !readAcross(s, nextVolume, extra.data(), extra.size())) {
    if (s == &stream) s->Seek(start, soFromBeginning);
    return false;
  }
  std::string comment(e.FileCommentLength, '\0');
  if (!readAcross(s, nextVolume, comment.data(), comment.size())) {
    // A comment cut short by the end of the file keeps the bytes that are there.
    comment.clear();
    e.FileCommentLength = 0;
  }
  const std::string decoded = decodeStoredText(name, e.BitFlag, e.VersionMadeBy, true);
  e.splitName(Backslashed(decoded));
  e.rawName_ = name;
  // On a DOS host "\" separates folders; elsewhere it is a character of the name.
  e.slashedName_ = madeOnDosFileSystem(e.VersionMadeBy) ? Slashed(decoded) : decoded;
  e.centralExtra_ = std::move(extra);
  e.ModTimeUtc = modTimeFromExtra(e.centralExtra_);
  e.comment_ = decodeStoredText(comment, e.BitFlag, e.VersionMadeBy, true);
  e.rawComment_ = comment;
  e.FilenameLength = uint16_t(name.size());
  e.FileCommentLength = uint16_t(comment.size());
  *this = std::move(e);
  return true;
}

bool TZipHeaderInfo::ReadLocalHeader(TStream& stream) {
  int64_t start = stream.Position();
  uint8_t h[kLocalHeaderSize];
  if (!stream.ReadExact(h, sizeof h) || load32(h) != kLocalHeaderSig) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  TZipHeaderInfo e;
  e.VersionMadeBy = 0;
  e.VersionNeeded = load16(h + local::kVersionNeeded);
  e.BitFlag = load16(h + local::kFlags);
  e.CompressionMethod = load16(h + local::kMethod);
  e.LastModFileDateTime = load32(h + local::kTime);
  e.CRC32 = load32(h + local::kCrc);
  e.CompressedSize = load32(h + local::kCompressedSize);
  e.UncompressedSize = load32(h + local::kUncompressedSize);
  e.ExtraFieldLength = load16(h + local::kExtraLength);
  e.InternalAttributes = 0;
  e.ExternalAttributes = 0;
  e.RelativeOffset = uint32_t(start);
  std::string name(load16(h + local::kNameLength), '\0'), extra(e.ExtraFieldLength, '\0');
  if (!stream.ReadExact(name.data(), name.size()) ||
      !stream.ReadExact(extra.data(), extra.size())) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  e.ModTimeUtc = modTimeFromExtra(extra);
  e.splitName(Backslashed(decodeStoredText(name, e.BitFlag, 0, false)));
  e.rawName_ = name;
  e.rawComment_ = std::string();
  e.FilenameLength = uint16_t(name.size());
  e.FileCommentLength = 0;
  *this = std::move(e);
  return true;
}

void TZipHeaderInfo::WriteLocalHeader(TStream& stream) {
  std::string name = StoredName();
  RelativeOffset = uint32_t(stream.Position());
  uint8_t h[kLocalHeaderSize];
  store32(h + local::kSignature, kLocalHeaderSig);
  store16(h + local::kVersionNeeded, VersionNeeded);
  store16(h + local::kFlags, BitFlag);
  store16(h + local::kMethod, CompressionMethod);
  store32(h + local::kTime, LastModFileDateTime);
  store32(h + local::kCrc, CRC32);
  store32(h + local::kCompressedSize, CompressedSize);
  store32(h + local::kUncompressedSize, UncompressedSize);
  store16(h + local::kNameLength, uint16_t(name.size()));
  if (!localExtra_.empty()) ExtraFieldLength = uint16_t(localExtra_.size());
  store16(h + local::kExtraLength, ExtraFieldLength);
  stream.Write(h, sizeof h);
  stream.Write(name.data(), name.size());
  stream.Write(localExtra_.data(), localExtra_.size());
}

void TZipHeaderInfo::WriteCentralHeader(TStream& stream) {
  std::string name = StoredName();
  std::string comment = StoredComment();
  uint8_t h[kCentralHeaderSize];
  store32(h + central::kSignature, kCentralHeaderSig);
  store16(h + central::kVersionMadeBy, VersionMadeBy);
  store16(h + central::kVersionNeeded, VersionNeeded);
  store16(h + central::kFlags, BitFlag);
  store16(h + central::kMethod, CompressionMethod);
  store32(h + central::kTime, LastModFileDateTime);
  store32(h + central::kCrc, CRC32);
  store32(h + central::kCompressedSize, CompressedSize);
  store32(h + central::kUncompressedSize, UncompressedSize);
  store16(h + central::kNameLength, uint16_t(name.size()));
  store16(h + central::kExtraLength, uint16_t(centralExtra_.size()));
  store16(h + central::kCommentLength, uint16_t(comment.size()));
  store16(h + central::kDiskNumberStart, DiskNumberStart);
  store16(h + central::kInternalAttributes, InternalAttributes);
  store32(h + central::kExternalAttributes, ExternalAttributes);
  store32(h + central::kRelativeOffset, RelativeOffset);
  stream.Write(h, sizeof h);
  stream.Write(name.data(), name.size());
  stream.Write(centralExtra_.data(), centralExtra_.size());
  stream.Write(comment.data(), comment.size());
}

// ---- TEndCentral

void TEndCentral::Assign(const TEndCentral& source) {
  bool modified = Modified;
  *this = source;
  Modified = modified;
}

void TEndCentral::SetZipComment(const std::string& text) {
  comment_ = text;
  rawComment_.reset();
  // Archive comments have no flag for their encoding; UTF-8 is what readers here expect.
  ZipCommentLength = length16(text);
}

void TEndCentral::LoadRecord(const uint8_t* r, std::string_view commentBytes) {
  NumberOfThisDisk = load16(r + endrec::kThisDisk);
  CentralDirStartDisk = load16(r + endrec::kCentralDirDisk);
  EntriesThisDisk = load16(r + endrec::kEntriesThisDisk);
  TotalEntries = load16(r + endrec::kTotalEntries);
  CentralDirSize = load32(r + endrec::kCentralDirSize);
  CentralDirOffset = load32(r + endrec::kCentralDirOffset);
  rawComment_ = std::string(commentBytes);
  comment_ = isValidUtf8(commentBytes) ? std::string(commentBytes) : cp437ToUtf8(commentBytes);
  ZipCommentLength = uint16_t(commentBytes.size());
}

std::string TEndCentral::StoredComment() const { return rawComment_ ? *rawComment_ : comment_; }

void TEndCentral::WriteEndRecord(TStream& stream) {
  std::string comment = StoredComment();
  ZipCommentLength = uint16_t(comment.size());
  uint8_t r[kEndRecordSize];
  store32(r + endrec::kSignature, kEndRecordSig);
  store16(r + endrec::kThisDisk, NumberOfThisDisk);
  store16(r + endrec::kCentralDirDisk, CentralDirStartDisk);
  store16(r + endrec::kEntriesThisDisk, EntriesThisDisk);
  store16(r + endrec::kTotalEntries, TotalEntries);
  store32(r + endrec::kCentralDirSize, CentralDirSize);
  store32(r + endrec::kCentralDirOffset, CentralDirOffset);
  store16(r + endrec::kCommentLength, ZipCommentLength);
  stream.Write(r, sizeof r);
  stream.Write(comment.data(), comment.size());
}

}  // namespace quelt
