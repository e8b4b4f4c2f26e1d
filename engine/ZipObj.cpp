#include "engine/ZipObj.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "engine/CodePage.h"
#include "engine/Errors.h"
#include "engine/ExtraField.h"
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

uint16_t length16(const std::string& s) {
  return uint16_t(s.size() > 0xFFFF ? 0xFFFF : s.size());
}

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
  if (offset < 0) return std::nullopt;  // a Zip64 offset no file can reach
  stream.Seek(offset, soFromBeginning);
  if (!stream.ReadExact(h, sizeof h) || load32(h) != kLocalHeaderSig) return std::nullopt;
  return TLocalSpan{load16(h + local::kNameLength), load16(h + local::kExtraLength)};
}

int64_t DataDescriptorLength(TStream& stream, int64_t pos, bool zip64) {
  uint8_t sig[4];
  stream.Seek(pos, soFromBeginning);
  const int64_t sizes = zip64 ? 8 : 0;
  return (stream.ReadExact(sig, 4) && load32(sig) == kDataDescriptorSig ? 16 : 12) + sizes;
}

bool LocalHeaderHasZip64(TStream& stream, int64_t offset, const TLocalSpan& span) {
  std::vector<uint8_t> extra(span.extraLength);
  stream.Seek(offset + int64_t(kLocalHeaderSize) + span.nameLength, soFromBeginning);
  if (!stream.ReadExact(extra.data(), extra.size())) return false;
  return FindExtraBlock(extra, kExtraZip64).has_value();
}

namespace {

// Removes every block with the id from an extra field; the rest stays as it was.
std::string withoutBlock(const std::string& extra, uint16_t id) {
  std::string out;
  auto* p = reinterpret_cast<const uint8_t*>(extra.data());
  size_t at = 0;
  while (extra.size() - at >= 4) {
    const size_t size = load16(p + at + 2);
    if (size > extra.size() - at - 4) break;
    if (load16(p + at) != id) out.append(extra, at, 4 + size);
    at += 4 + size;
  }
  out.append(extra, at, std::string::npos);  // padding, or a block that runs past the end
  return out;
}

std::string zip64Block(std::initializer_list<uint64_t> sizes, std::optional<uint32_t> disk) {
  std::string b(4, '\0');
  uint8_t v[8];
  for (uint64_t x : sizes) {
    store64(v, x);
    b.append(reinterpret_cast<const char*>(v), 8);
  }
  if (disk) {
    store32(v, *disk);
    b.append(reinterpret_cast<const char*>(v), 4);
  }
  auto* h = reinterpret_cast<uint8_t*>(b.data());
  store16(h, kExtraZip64);
  store16(h + 2, uint16_t(b.size() - 4));
  return b;
}

uint32_t classic32(uint64_t v) {
  return v >= kZip64Marker32 ? kZip64Marker32 : uint32_t(v);
}

}  // namespace

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

void TZipHeaderInfo::takeZip64(std::string& extra, bool central) {
  auto block =
      FindExtraBlock({reinterpret_cast<const uint8_t*>(extra.data()), extra.size()}, kExtraZip64);
  if (!block) return;
  // Each value is there only when its classic field holds the marker; a block too short for
  // what the markers promise leaves the markers, which no file is large enough to match.
  size_t at = 0;
  auto take = [&](uint64_t& field) {
    if (field != kZip64Marker32) return;
    if (block->size() - at < 8) return;
    field = load64(block->data() + at);
    at += 8;
  };
  take(UncompressedSize);
  take(CompressedSize);
  if (central) {
    take(RelativeOffset);
    if (DiskNumberStart == kZip64Marker16 && block->size() - at >= 4) {
      const uint32_t disk = load32(block->data() + at);
      DiskNumberStart = disk < kZip64Marker16 ? uint16_t(disk) : kZip64Marker16;
    }
  } else {
    localZip64_ = true;
  }
  extra = withoutBlock(extra, kExtraZip64);
}

std::string TZipHeaderInfo::centralZip64() const {
  const bool u = UncompressedSize >= kZip64Marker32, c = CompressedSize >= kZip64Marker32,
             o = RelativeOffset >= kZip64Marker32;
  if (!u && !c && !o) return {};
  std::string b = zip64Block({}, std::nullopt);
  uint8_t v[8];
  for (auto [need, value] :
       {std::pair{u, UncompressedSize}, {c, CompressedSize}, {o, RelativeOffset}}) {
    if (!need) continue;
    store64(v, value);
    b.append(reinterpret_cast<const char*>(v), 8);
  }
  store16(reinterpret_cast<uint8_t*>(b.data()) + 2, uint16_t(b.size() - 4));
  return b;
}

void TZipHeaderInfo::SetExtraBlock(const std::string& block) {
  const uint16_t id = load16(reinterpret_cast<const uint8_t*>(block.data()));
  localExtra_ = withoutBlock(localExtra_, id) + block;
  centralExtra_ = withoutBlock(centralExtra_, id) + block;
  ExtraFieldLength = uint16_t(localExtra_.size());
}

void TZipHeaderInfo::ReserveLocalZip64() {
  if (localZip64_) return;
  localZip64_ = true;
  localExtra_ = zip64Block({0, 0}, std::nullopt) + localExtra_;
  ExtraFieldLength = uint16_t(localExtra_.size());
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
  e.CentralHeaderPos = start;
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
  e.ModTimeUtc = modTimeFromExtra(extra);
  e.takeZip64(extra, true);
  e.centralExtra_ = std::move(extra);
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
  e.RelativeOffset = uint64_t(start);
  std::string name(load16(h + local::kNameLength), '\0'), extra(e.ExtraFieldLength, '\0');
  if (!stream.ReadExact(name.data(), name.size()) ||
      !stream.ReadExact(extra.data(), extra.size())) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  e.ModTimeUtc = modTimeFromExtra(extra);
  e.takeZip64(extra, false);
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
  RelativeOffset = uint64_t(stream.Position());
  if (localZip64_ && localExtra_.size() >= 20 &&
      load16(reinterpret_cast<const uint8_t*>(localExtra_.data())) == kExtraZip64) {
    // Our own reserved block, in front: it gets the sizes.
    auto* b = reinterpret_cast<uint8_t*>(localExtra_.data());
    store64(b + 4, UncompressedSize);
    store64(b + 12, CompressedSize);
  }
  uint8_t h[kLocalHeaderSize];
  store32(h + local::kSignature, kLocalHeaderSig);
  store16(h + local::kVersionNeeded,
          localZip64_ ? std::max(VersionNeeded, kVersionZip64) : VersionNeeded);
  store16(h + local::kFlags, BitFlag);
  store16(h + local::kMethod, CompressionMethod);
  store32(h + local::kTime, LastModFileDateTime);
  store32(h + local::kCrc, CRC32);
  store32(h + local::kCompressedSize, localZip64_ ? kZip64Marker32 : uint32_t(CompressedSize));
  store32(h + local::kUncompressedSize, localZip64_ ? kZip64Marker32 : uint32_t(UncompressedSize));
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
  const std::string extra = centralZip64() + centralExtra_;
  uint8_t h[kCentralHeaderSize];
  store32(h + central::kSignature, kCentralHeaderSig);
  store16(h + central::kVersionMadeBy, VersionMadeBy);
  store16(h + central::kVersionNeeded, extra.size() > centralExtra_.size() || localZip64_
                                           ? std::max(VersionNeeded, kVersionZip64)
                                           : VersionNeeded);
  store16(h + central::kFlags, BitFlag);
  store16(h + central::kMethod, CompressionMethod);
  store32(h + central::kTime, LastModFileDateTime);
  store32(h + central::kCrc, CRC32);
  store32(h + central::kCompressedSize, classic32(CompressedSize));
  store32(h + central::kUncompressedSize, classic32(UncompressedSize));
  store16(h + central::kNameLength, uint16_t(name.size()));
  store16(h + central::kExtraLength, uint16_t(extra.size()));
  store16(h + central::kCommentLength, uint16_t(comment.size()));
  store16(h + central::kDiskNumberStart, DiskNumberStart);
  store16(h + central::kInternalAttributes, InternalAttributes);
  store32(h + central::kExternalAttributes, ExternalAttributes);
  store32(h + central::kRelativeOffset, classic32(RelativeOffset));
  stream.Write(h, sizeof h);
  stream.Write(name.data(), name.size());
  stream.Write(extra.data(), extra.size());
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

std::string TEndCentral::StoredComment() const {
  return rawComment_ ? *rawComment_ : comment_;
}

void TEndCentral::LoadZip64Record(const uint8_t* r, int64_t pos) {
  // The Zip64 record holds every value whole; the classic one may have the markers.
  EntriesThisDisk = load64(r + zip64end::kEntriesThisDisk);
  TotalEntries = load64(r + zip64end::kTotalEntries);
  CentralDirSize = load64(r + zip64end::kCentralDirSize);
  CentralDirOffset = load64(r + zip64end::kCentralDirOffset);
  Zip64RecordPos = pos;
}

bool TEndCentral::NeedsZip64() const {
  return TotalEntries >= kZip64Marker16 || EntriesThisDisk >= kZip64Marker16 ||
         CentralDirSize >= kZip64Marker32 || CentralDirOffset >= kZip64Marker32;
}

void TEndCentral::WriteEndRecord(TStream& stream, uint64_t zip64At) {
  std::string comment = StoredComment();
  ZipCommentLength = uint16_t(comment.size());
  if (NeedsZip64()) {
    uint8_t z[kZip64EndRecordSize + kZip64LocatorSize] = {};
    store32(z + zip64end::kSignature, kZip64EndRecordSig);
    store64(z + zip64end::kRecordSize, kZip64EndRecordSize - 12);
    store16(z + zip64end::kVersionMadeBy, (kMadeByUnix & 0xFF00) | kVersionZip64);
    store16(z + zip64end::kVersionNeeded, kVersionZip64);
    store32(z + zip64end::kThisDisk, NumberOfThisDisk);
    store32(z + zip64end::kCentralDirDisk, CentralDirStartDisk);
    store64(z + zip64end::kEntriesThisDisk, EntriesThisDisk);
    store64(z + zip64end::kTotalEntries, TotalEntries);
    store64(z + zip64end::kCentralDirSize, CentralDirSize);
    store64(z + zip64end::kCentralDirOffset, CentralDirOffset);
    uint8_t* l = z + kZip64EndRecordSize;
    store32(l + zip64loc::kSignature, kZip64LocatorSig);
    store32(l + zip64loc::kEndRecordDisk, NumberOfThisDisk);
    store64(l + zip64loc::kEndRecordOffset, zip64At);
    store32(l + zip64loc::kTotalDisks, uint32_t(NumberOfThisDisk) + 1);
    stream.Write(z, sizeof z);
  }
  auto classic16 = [](uint64_t v) { return v >= kZip64Marker16 ? kZip64Marker16 : uint16_t(v); };
  uint8_t r[kEndRecordSize];
  store32(r + endrec::kSignature, kEndRecordSig);
  store16(r + endrec::kThisDisk, NumberOfThisDisk);
  store16(r + endrec::kCentralDirDisk, CentralDirStartDisk);
  store16(r + endrec::kEntriesThisDisk, classic16(EntriesThisDisk));
  store16(r + endrec::kTotalEntries, classic16(TotalEntries));
  store32(r + endrec::kCentralDirSize, classic32(CentralDirSize));
  store32(r + endrec::kCentralDirOffset, classic32(CentralDirOffset));
  store16(r + endrec::kCommentLength, ZipCommentLength);
  stream.Write(r, sizeof r);
  stream.Write(comment.data(), comment.size());
}

}  // namespace quelt
