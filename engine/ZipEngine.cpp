// The zip operation: gather the sources, write a complete new archive (copying unchanged
// entries, compressing new ones), then put it in place of the old one atomically.
#include "engine/ZipEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/Crc32.h"
#include "engine/DeflateEnc.h"
#include "engine/DirSearch.h"
#include "engine/Errors.h"
#include "engine/FileOps.h"
#include "engine/WildMatch.h"
#include "engine/ZipCrypt.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

constexpr uint64_t kLargestSource = 0x7FFFFFFF;  // sizes live in 32-bit fields read as signed
constexpr size_t kMaxArchiveComment = 65506;     // a longer one hides the end record
constexpr size_t kCopyBlock = 65536;

struct TFileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool valid = false;
  bool operator==(const TFileId& o) const { return valid && o.valid && dev == o.dev && ino == o.ino; }
};

TFileId fileIdOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, true};
}

std::string namePart(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The folder part with its trailing "/" ("" for a bare name).
std::string folderPart(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

// Copies n bytes from one stream to another; false when the source ends first.
bool copyBytes(TStream& from, TStream& to, int64_t n) {
  std::vector<uint8_t> buf(size_t(std::min<int64_t>(n, int64_t(kCopyBlock))) + 1);
  while (n > 0) {
    size_t take = size_t(std::min<int64_t>(n, int64_t(kCopyBlock)));
    if (!from.ReadExact(buf.data(), take)) return false;
    to.Write(buf.data(), take);
    n -= int64_t(take);
  }
  return true;
}

// Readers take a name from a DOS host for a DOS code page even with the UTF-8 flag; a Unix
// host, with the file's mode beside the DOS bits, has it read as UTF-8.
void markHost(TZipHeaderInfo& entry, mode_t mode) {
  if (!(entry.BitFlag & kFlagUtf8)) return;
  entry.VersionMadeBy = uint16_t(3 << 8 | 20);
  entry.ExternalAttributes = (entry.ExternalAttributes & 0xFFFF) | uint32_t(mode & 0xFFFF) << 16;
}

}  // namespace

// ---- Properties

TZipEngine::TZipEngine(IVolumes& volumes) : TUnZipEngine(volumes) {}
TZipEngine::~TZipEngine() = default;

void TZipEngine::SetStorePaths(bool on) {
  if (on == storePaths_) return;
  storePaths_ = on;
  if (!on) storeVolumes_ = relativePaths_ = false;
}

void TZipEngine::SetRelativePaths(bool on) {
  if (on == relativePaths_) return;
  relativePaths_ = on;
  if (on) storePaths_ = Recurse = true;
}

void TZipEngine::SetStoreVolumes(bool on) {
  if (on == storeVolumes_) return;
  storeVolumes_ = on;
  if (on) storePaths_ = true;
}

void TZipEngine::SetMultiMode(TMultiMode mode) {
  multi_.MultiMode = mode;
  TUnZipEngine::SetMultiMode(mode);
}

void TZipEngine::SetZipName(const std::string& name) {
  if (name == zipName_) return;
  if (endRecord_.Modified) {
    FilesList.clear();
    CompressFiles();
    endRecord_.Modified = false;
  }
  TUnZipEngine::SetZipName(name);
}

// ---- One operation

class TZipEngine::TZipRun : public TEncodeIO {
 public:
  explicit TZipRun(TZipEngine& engine)
      : e_(engine), names_(false, dupError, ByName), entries_(true, dupError, ByNone) {}
  ~TZipRun() override;

  int Run();

  size_t Read(uint8_t* buf, size_t count) override;
  void Write(const uint8_t* data, size_t n) override;

 private:
  void checkComments(const TEndCentral& end) const;
  void gather();
  bool freshenHasEntry(const std::string& path) const;
  std::string simplifiedDirectory(const std::string& path) const;
  std::string storedDirectory(const std::string& path) const;
  bool matchesForZip(const std::string& s, const TZipHeaderInfo& entry) const;
  bool matchesForRemoval(const std::string& s, const TZipHeaderInfo& entry) const;
  void createOutput();
  void copyPrefix();
  void merge();
  bool compressOne(const std::string& path);
  bool copyUnchanged(TZipHeaderInfo& entry);
  void record(std::unique_ptr<TZipHeaderInfo> entry, const std::string& source);
  void keep(std::unique_ptr<TZipHeaderInfo> entry);
  void writeCentralDirectory();
  void finish();
  void refuse(const std::string& name, const std::string& why);
  std::string tempFolder() const {
    const std::string& t = e_.TempPath;
    return !t.empty() && files::IsFolder(t) ? t : files::SystemTempFolder();
  }

  // Volumes (spanned disks or block files) of a new archive.
  void startVolumes();
  std::string blockName(int number) const;
  int64_t roomLeft() const { return room_ - out_->Position(); }
  // Closes the current volume and starts the next one.
  void nextVolume();
  // Moves to the next volume when fewer than `need` bytes are left; refuses a volume that
  // cannot hold them at all, since the record must not be split.
  void makeRoom(int64_t need, const std::string& what);
  void labelDisk();
  void copySpill(TStream& spill, int64_t size);

  TZipEngine& e_;
  bool updating_ = false;
  std::string outName_;
  std::unique_ptr<TLFNFileStream> out_;
  TFileId outId_;
  TSortedZip names_;    // entries written so far, by full name
  TSortedZip entries_;  // the same, in physical order; owns them
  TEndCentral end_;
  std::unique_ptr<TDeflateEncoder> encoder_;
  std::vector<std::string> disposeList_;
  int count_ = 0;
  int64_t totalBytes_ = 0, bytesDone_ = 0;
  // Bytes in front of the first entry (a self-extractor's stub) and what stored offsets
  // count from: 0 when the old archive's offsets counted the stub, else its length.
  int64_t prefix_ = 0;
  uint32_t offsetBase_ = 0;

  TMultiMode mode_ = mmNone;  // mmNone, or how the new archive is spread over volumes
  int disk_ = 0;
  int64_t room_ = 0;          // capacity of the current volume
  TStream* sink_ = nullptr;   // where an entry's data goes: the output or its spill file

  // The source being compressed.
  std::unique_ptr<TFileStream> source_;
  int64_t sourceRead_ = 0, sourceSize_ = 0;
  uint32_t crc_ = kCrcInit;
  bool encrypting_ = false;
  TZipCrypt crypt_;
  std::vector<uint8_t> cipherBuf_;
  bool succeeded_ = false;
};

TZipEngine::TZipRun::~TZipRun() {
  if (succeeded_) return;
  // Whatever went wrong, the half-written output goes; an existing archive was never touched.
  out_.reset();
  if (!outName_.empty()) ::unlink(outName_.c_str());
}

void TZipEngine::TZipRun::refuse(const std::string& name, const std::string& why) {
  if (e_.OnFileRefused) e_.OnFileRefused(e_, name, why);
}

int TZipEngine::TZipRun::Run() {
  updating_ = files::IsRegularFile(e_.zipName_);
  // Spanning onto a fixed volume has all its free space for one volume: a single file.
  const TMultiMode mode = e_.MultiMode();
  const bool volumes = mode == mmBlocks || (mode == mmSpan && e_.volumes_.IsRemovable(e_.zipName_));
  if (volumes && updating_)
    throw EZipRefused("\"" + e_.zipName_ + "\" exists; an archive can only be written as a "
                      "multi-volume set when it is created");
  if (volumes) {
    mode_ = mode;
    if (mode == mmSpan && !e_.OnGetNextDisk)
      throw EZipRefused("Spanning an archive over disks needs someone to ask for the next disk");
  }
  if (updating_) {
    e_.OpenArchive();
    if (e_.endRecord_.NumberOfThisDisk > 0)
      throw EZipRefused("\"" + e_.zipName_ +
                        "\" is one volume of a multi-volume set; such sets cannot be rewritten");
  }
  checkComments(e_.endRecord_);
  if (!e_.removing_ && !e_.FilesList.empty()) gather();

  encoder_ = std::make_unique<TDeflateEncoder>();
  if (updating_) {
    outName_ = files::TempFileName(tempFolder(), "QLZ");
  } else {
    outName_ = mode_ == mmBlocks ? blockName(1) : e_.zipName_;
  }
  startVolumes();
  createOutput();
  if (updating_) {
    copyPrefix();
    merge();
  }
  if (!e_.removing_ && !e_.FilesList.empty()) {
    bool stop = false;
    if (e_.OnStartZipInfo) e_.OnStartZipInfo(e_, int(e_.FilesList.size()), totalBytes_, end_, stop);
    if (stop) throw EUserCanceled("User canceled Zip operation.");
    checkComments(end_);
    for (const std::string& s : e_.FilesList) compressOne(s);
  }
  writeCentralDirectory();
  finish();
  return count_;
}

void TZipEngine::TZipRun::checkComments(const TEndCentral& end) const {
  if (end.ZipComment().size() > kMaxArchiveComment)
    throw EZipRefused("The archive comment is " + std::to_string(end.ZipComment().size()) +
                      " bytes long; at most " + std::to_string(kMaxArchiveComment) +
                      " bytes can be stored");
  for (int i = 0; e_.main_ && i < e_.main_->Count(); ++i) {
    const TZipHeaderInfo& entry = (*e_.main_)[i];
    if (entry.StoredComment().size() > 0xFFFF)
      throw EZipRefused("The comment of \"" + entry.FullName() +
                        "\" is longer than 65535 bytes and cannot be stored");
  }
}

// ---- Gathering the sources

bool TZipEngine::TZipRun::freshenHasEntry(const std::string& path) const {
  std::string full = LowerAZ(Backslashed(simplifiedDirectory(path)) + namePart(path));
  for (int i = 0; e_.main_ && i < e_.main_->Count(); ++i)
    if (LowerAZ((*e_.main_)[i].FullName()) == full) return true;
  return false;
}

void TZipEngine::TZipRun::gather() {
  std::vector<std::string> wildcards;
  auto& list = e_.FilesList;
  const TFileId archiveId = fileIdOf(e_.zipName_);
  for (size_t i = 0; i < list.size();) {
    std::string s = list[i];
    if (HasWildcards(s) &&
        std::find(e_.LiteralFiles.begin(), e_.LiteralFiles.end(), s) == e_.LiteralFiles.end()) {
      wildcards.push_back(s);
      list.erase(list.begin() + long(i));
      continue;
    }
    if (s.find('/') == std::string::npos) list[i] = s = e_.rootDir_ + s;
    if (!files::PathExists(s)) {
      if (e_.OnNoSuchFile) e_.OnNoSuchFile(e_, s);
      list.erase(list.begin() + long(i));
      continue;
    }
    if (e_.ZipAction == zaFreshen && !freshenHasEntry(s)) {
      list.erase(list.begin() + long(i));
      continue;
    }
    totalBytes_ += int64_t(files::FileSize(s).value_or(0));
    ++i;
  }
  for (const std::string& w : wildcards) {
    std::string folder = folderPart(w);
    if (folder.size() > 1) folder.pop_back();
    if (folder.empty()) folder = e_.rootDir_;
    TDirSearch search(folder, e_.Recurse, namePart(w));
    while (auto path = search.Next()) {
      // The archive being written is never its own source, however it is named.
      if (fileIdOf(*path) == archiveId) continue;
      if (e_.ZipAction == zaFreshen && !freshenHasEntry(*path)) continue;
      list.push_back(*path);
      totalBytes_ += int64_t(files::FileSize(*path).value_or(0));
    }
    for (const std::string& sub : search.Unreadable()) refuse(sub, "the folder cannot be read");
  }
  bytesDone_ = 0;
}

// ---- Stored names

std::string TZipEngine::TZipRun::simplifiedDirectory(const std::string& path) const {
  if (!e_.storePaths_) return "";
  std::string d = folderPart(path);
  if (e_.relativePaths_) {
    d.erase(0, std::min(d.size(), e_.rootDir_.size()));
  } else if (!e_.storeVolumes_ && !d.empty()) {
    std::string root = e_.volumes_.VolumeRoot(path);
    if (!root.empty() && root.back() != '/') root += '/';
    if (d.compare(0, root.size(), root) == 0) d.erase(0, root.size());
    else if (d[0] == '/') d.erase(0, 1);
  }
  return d;
}

std::string TZipEngine::TZipRun::storedDirectory(const std::string& path) const {
  std::string d = folderPart(path);
  if (d.empty()) return "";
  const std::string& root = e_.rootDir_;
  if (!root.empty() && e_.relativePaths_ && d.compare(0, root.size(), root) == 0) {
    d = d == root ? "" : d.substr(root.size());
  } else if (!e_.relativePaths_ && !e_.storeVolumes_) {
    // The volume's mount point plays the part of a drive.
    std::string mount = e_.volumes_.VolumeRoot(path);
    if (!mount.empty() && mount.back() != '/') mount += '/';
    if (!mount.empty() && d.compare(0, mount.size(), mount) == 0) d.erase(0, mount.size());
    if (!d.empty() && d[0] == '/') d.erase(0, 1);
  }
  return Backslashed(d);
}

bool TZipEngine::TZipRun::matchesForZip(const std::string& s, const TZipHeaderInfo& entry) const {
  std::string stored = Backslashed(simplifiedDirectory(s)) + namePart(s);
  return LowerAZ(stored) == LowerAZ(entry.FullName());
}

bool TZipEngine::TZipRun::matchesForRemoval(const std::string& s,
                                            const TZipHeaderInfo& entry) const {
  if (HasWildcards(s)) {
    const std::string& target =
        s.find('\\') == std::string::npos ? entry.Filename() : entry.FullName();
    return WildcardMatch(LowerAZ(s), LowerAZ(target));
  }
  return LowerAZ(s) == LowerAZ(entry.FullName());
}

// ---- Writing

void TZipEngine::TZipRun::createOutput() {
  out_ = std::make_unique<TLFNFileStream>(outName_, TOpenMode::Create);
  outId_ = fileIdOf(outName_);
  if (updating_) {
    end_.Assign(e_.endRecord_);
    end_.EntriesThisDisk = end_.TotalEntries = 0;
  }
}

void TZipEngine::TZipRun::copyPrefix() {
  if (!e_.main_ || e_.main_->Count() == 0) return;
  int64_t first = (*e_.main_)[0].RelativeOffset;
  if (first <= 0) return;
  // A stub in front: keep it byte for byte, and keep counting offsets as the old archive
  // did, from the file's start (adjusted) or from the end of the stub (a walked archive).
  prefix_ = first;
  offsetBase_ = e_.rebuilt_ ? uint32_t(first) : 0;
  e_.stream_->Seek(0, soFromBeginning);
  if (!copyBytes(*e_.stream_, *out_, prefix_))
    throw EFatalUnzipError("Premature end of file reached");
}

void TZipEngine::TZipRun::merge() {
  auto& list = e_.FilesList;
  for (int k = 0; k < e_.main_->Count(); ++k) {
    auto entry = std::make_unique<TZipHeaderInfo>((*e_.main_)[k]);
    bool keepIt = true;
    size_t match = 0;
    for (; match < list.size(); ++match) {
      bool hit = e_.removing_ ? matchesForRemoval(list[match], *entry)
                              : matchesForZip(list[match], *entry);
      if (hit) break;
    }
    if (match < list.size()) {
      const std::string s = list[match];
      if (e_.removing_) {
        bool skip = false;
        if (e_.OnDeleteEntry) e_.OnDeleteEntry(e_, entry->FullName(), skip);
        if (skip) {
          list.erase(list.begin() + long(match));
        } else {
          keepIt = false;
          if (!HasWildcards(s)) list.erase(list.begin() + long(match));
        }
      } else {
        bool replace = e_.ZipAction == zaReplace;
        if (!replace) {
          TDateTime now = Now();
          TDateTime fileDate =
              DosDateTimeOr(RepairDosDateTime(files::FileDosDateTime(s).value_or(0xFFFFFFFF)), now);
          TDateTime entryDate = DosDateTimeOr(entry->LastModFileDateTime, now);
          replace = entryDate < fileDate;
        }
        list.erase(list.begin() + long(match));
        // A replacement that cannot be made leaves the old entry as it was.
        if (replace && compressOne(s)) keepIt = false;
      }
    }
    if (keepIt && copyUnchanged(*entry)) keep(std::move(entry));
  }
}

void TZipEngine::TZipRun::keep(std::unique_ptr<TZipHeaderInfo> entry) {
  names_.Add(entry.get());
  entries_.Add(std::move(entry));
  ++end_.TotalEntries;
}

void TZipEngine::TZipRun::record(std::unique_ptr<TZipHeaderInfo> entry, const std::string& source) {
  ++count_;
  keep(std::move(entry));
  if (e_.Dispose) disposeList_.push_back(source);
}

bool TZipEngine::TZipRun::copyUnchanged(TZipHeaderInfo& entry) {
  TStream& in = *e_.stream_;
  const int64_t archiveSize = in.Size();
  const auto span = ReadLocalSpan(in, entry.RelativeOffset);
  const bool readable = span.has_value();
  const int64_t dataStart = int64_t(entry.RelativeOffset) + int64_t(kLocalHeaderSize) +
                            (readable ? span->nameLength : 0);
  const uint16_t extra = readable ? span->extraLength : 0;
  int64_t end = dataStart + extra + int64_t(entry.CompressedSize);
  int64_t descriptor = 0;
  if (readable && entry.HasDataDescriptor() && end + 4 <= archiveSize)
    descriptor = DataDescriptorLength(in, end);
  if (!readable || end + descriptor > archiveSize) {
    std::string why = readable ? "its data runs past the end of the archive"
                               : "its local header cannot be read";
    if (!e_.repairTarget_.empty()) {
      refuse(entry.FullName(), why);  // a repair writes every entry it can
      return false;
    }
    throw EFatalUnzipError("\"" + entry.FullName() + "\" cannot be copied: " + why);
  }
  entry.ExtraFieldLength = extra;
  if (entry.CentralHeaderPos == 0 && entry.VersionMadeBy == 0) {
    // Found by walking the local headers: it gets what the writer gives a new entry.
    entry.VersionMadeBy = 20;
    if (entry.ExternalAttributes == 0) entry.ExternalAttributes = kAttrArchive;
    markHost(entry, S_IFREG | 0644);
  }
  entry.WriteLocalHeader(*out_);
  in.Seek(dataStart, soFromBeginning);
  // The local extra field, the data and any data descriptor travel unchanged.
  if (!copyBytes(in, *out_, extra + int64_t(entry.CompressedSize) + descriptor))
    throw EFatalUnzipError("Premature end of file reached");
  return true;
}

bool TZipEngine::TZipRun::compressOne(const std::string& path) {
  sourceRead_ = 0;
  if (!files::PathExists(path)) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    refuse(path, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
    return false;
  }
  if (uint64_t(st.st_size) > kLargestSource) {
    refuse(path, "it is 2 GiB or larger, more than this archive format can hold");
    totalBytes_ -= int64_t(st.st_size);
    return false;
  }
  if (fileIdOf(path) == outId_ || (updating_ && fileIdOf(path) == fileIdOf(e_.zipName_) &&
                                   outName_ == e_.zipName_)) {
    refuse(path, "it is the archive being written");
    return false;
  }
  try {
    source_ = std::make_unique<TFileStream>(path, TOpenMode::Read);
  } catch (const EStreamError& err) {
    refuse(path, err.what());
    return false;
  }
  struct SourceCloser {
    std::unique_ptr<TFileStream>& s;
    ~SourceCloser() { s.reset(); }
  } closer{source_};

  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->ExternalAttributes = files::DosAttributesFromMode(st.st_mode);
  entry->LastModFileDateTime = files::DosDateTimeFromTime(st.st_mtime).value_or(0);
  entry->UncompressedSize = uint32_t(st.st_size);
  sourceSize_ = st.st_size;
  entry->SetFilename(namePart(path));
  if (e_.storePaths_) entry->SetDirectory(storedDirectory(path));
  entry->InternalAttributes = 2;
  entry->DiskNumberStart = 0;

  int found;
  if (names_.Find(*entry, found)) {
    // The handler may look the other entry up: the queries answer from the name index.
    const TSortedZip* saved = e_.view_;
    e_.view_ = &names_;
    try {
      if (e_.OnSkippingFile) e_.OnSkippingFile(e_, skNoOverwrite, found);
    } catch (...) {
      e_.view_ = saved;
      throw;
    }
    e_.view_ = saved;
    totalBytes_ -= sourceSize_;
    return false;
  }
  bool skip = false;
  if (e_.OnStartZip) e_.OnStartZip(e_, path, *entry, skip);
  if (skip) {
    totalBytes_ -= sourceSize_;
    return false;
  }
  markHost(*entry, st.st_mode);

  // A local header is never split between volumes; the data after it may be.
  makeRoom(int64_t(entry->LocalSize()) + 1, "a local header and a byte of data");
  entry->DiskNumberStart = uint16_t(disk_);
  std::unique_ptr<TLFNFileStream> spill;
  TScratchFile spillPath;
  if (mode_ != mmNone) {
    spillPath.path = files::TempFileName(tempFolder(), "QLZ");
    spill = std::make_unique<TLFNFileStream>(spillPath.path, TOpenMode::ReadWrite);
  }
  sink_ = spill ? static_cast<TStream*>(spill.get()) : out_.get();

  const int64_t headerAt = out_->Position();
  entry->WriteLocalHeader(*out_);
  encrypting_ = !e_.Password.empty();
  if (encrypting_) {
    // The header carries the CRC, so it is computed first, in its own pass.
    uint32_t crc = kCrcInit;
    std::vector<uint8_t> buf(kCopyBlock);
    size_t got;
    while ((got = source_->Read(buf.data(), buf.size())) > 0) crc = UpdateCRC(crc, buf.data(), got);
    entry->CRC32 = ~crc;
    source_->Seek(0, soFromBeginning);
    TEncryptionHeader header = crypt_.MakeEncryptionHeader(e_.Password, entry->CRC32);
    sink_->Write(header.data(), header.size());
  }
  const uint32_t passCrc = entry->CRC32;
  crc_ = kCrcInit;
  TDeflateResult result = encoder_->Deflate(*this, e_.PackLevel);
  const uint32_t crc = ~crc_;
  if (encrypting_ && crc != passCrc)
    throw EFatalUnzipError("\"" + path + "\" changed while it was being compressed");
  if (sourceRead_ > int64_t(kLargestSource) ||
      result.CompressedSize + (encrypting_ ? kEncryptionHeaderSize : 0) > 0xFFFFFFFFull)
    throw EZipRefused("\"" + path + "\" grew past what this archive format can hold");

  entry->CRC32 = crc;
  entry->UncompressedSize = uint32_t(sourceRead_);  // what was really read and stored
  entry->CompressionMethod = result.Method;
  entry->BitFlag = uint16_t(entry->BitFlag | result.Flags | (encrypting_ ? kFlagEncrypted : 0));
  entry->InternalAttributes = result.InternalAttributes;
  entry->CompressedSize =
      uint32_t(result.CompressedSize + (encrypting_ ? kEncryptionHeaderSize : 0));
  const int64_t written = spill ? spill->Position() : out_->Position() - headerAt - int64_t(entry->LocalSize());
  if (written != int64_t(entry->CompressedSize))
    throw EFatalUnzipError("The compressed size of \"" + path + "\" disagrees with the bytes written");
  const int64_t after = out_->Position();
  out_->Seek(headerAt, soFromBeginning);
  entry->WriteLocalHeader(*out_);
  out_->Seek(after, soFromBeginning);
  encrypting_ = false;
  if (spill) copySpill(*spill, written);

  const int64_t csize = entry->CompressedSize, usize = entry->UncompressedSize;
  record(std::move(entry), path);
  if (e_.OnEndZip) e_.OnEndZip(e_, path, usize, csize, out_->Position());
  return true;
}

size_t TZipEngine::TZipRun::Read(uint8_t* buf, size_t count) {
  size_t got = source_->Read(buf, count);
  if (got == 0) return 0;
  sourceRead_ += int64_t(got);
  bytesDone_ += int64_t(got);
  if (e_.OnFilePercentDone) e_.OnFilePercentDone(e_, PercentOf(sourceSize_, sourceRead_));
  if (e_.OnTotalPercentDone) e_.OnTotalPercentDone(e_, TotalPercentOf(bytesDone_, totalBytes_));
  crc_ = UpdateCRC(crc_, buf, got);
  return got;
}

void TZipEngine::TZipRun::Write(const uint8_t* data, size_t n) {
  if (encrypting_) {
    // The encoder's buffers are its match window: encrypt a copy.
    cipherBuf_.resize(n);
    crypt_.EncryptBuffer(data, cipherBuf_.data(), n);
    data = cipherBuf_.data();
  }
  sink_->Write(data, n);
  e_.CheckCancel();
}

// ---- Volumes

void TZipEngine::TZipRun::startVolumes() {
  if (mode_ == mmNone) return;
  if (mode_ == mmBlocks) {
    room_ = e_.multi_.FirstBlockSize;
  } else {
    auto free = e_.volumes_.FreeSpace(FolderOf(e_.zipName_));
    if (!free) throw EZipRefused("The free space on the disk of \"" + e_.zipName_ + "\" cannot be told");
    room_ = int64_t(std::min<uint64_t>(*free, uint64_t(INT64_MAX)));
  }
  if (room_ <= int64_t(kLocalHeaderSize) || (mode_ == mmBlocks && e_.multi_.BlockSize <= int64_t(kLocalHeaderSize)))
    throw EZipRefused("Volumes of " + std::to_string(mode_ == mmBlocks ? std::min(room_, e_.multi_.BlockSize) : room_) +
                      " bytes cannot hold a local header and any data");
}

std::string TZipEngine::TZipRun::blockName(int number) const {
  const std::string& name = e_.zipName_;
  size_t slash = name.rfind('/'), dot = name.rfind('.');
  std::string base = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                         ? name.substr(0, dot) : name;
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%03d", number);
  return base + ext;
}

void TZipEngine::TZipRun::labelDisk() {
  if (mode_ != mmSpan || !e_.multi_.WriteDiskLabels || !e_.volumes_.IsRemovable(outName_)) return;
  char label[32];
  std::snprintf(label, sizeof label, "PKBACK# %03d", disk_ + 1);
  (void)e_.volumes_.SetLabel(outName_, label);  // a disk that refuses a label is still usable
}

void TZipEngine::TZipRun::nextVolume() {
  if (mode_ == mmNone) throw EZipRefused("The archive does not fit on its disk");
  out_->Sync();
  out_->Close();
  out_.reset();
  if (mode_ == mmBlocks) {
    ++disk_;
    outName_ = blockName(disk_ + 1);
    room_ = e_.multi_.BlockSize;
  } else {
    labelDisk();
    std::string name = outName_;
    // The finished volume stays as it is, whatever happens next.
    std::string finished = outName_;
    outName_.clear();
    e_.OnGetNextDisk(e_, disk_ + 2, name);
    if (name.empty()) throw EUserCanceled("User canceled Zip operation.");
    ++disk_;
    outName_ = name;
    auto free = e_.volumes_.FreeSpace(FolderOf(outName_));
    if (!free) throw EZipRefused("The free space on disk " + std::to_string(disk_ + 1) + " cannot be told");
    room_ = int64_t(std::min<uint64_t>(*free, uint64_t(INT64_MAX)));
  }
  out_ = std::make_unique<TLFNFileStream>(outName_, TOpenMode::Create);
  outId_ = fileIdOf(outName_);
}

void TZipEngine::TZipRun::makeRoom(int64_t need, const std::string& what) {
  if (mode_ == mmNone || roomLeft() >= need) return;
  nextVolume();
  if (roomLeft() < need)
    throw EZipRefused("Volume " + std::to_string(disk_ + 1) + " has room for " + std::to_string(roomLeft()) +
                      " bytes; " + what + " needs " + std::to_string(need));
}

void TZipEngine::TZipRun::copySpill(TStream& spill, int64_t size) {
  spill.Seek(0, soFromBeginning);
  if (roomLeft() <= 0) nextVolume();
  int64_t chunk = std::min(roomLeft(), size);
  while (size > 0) {
    // A new volume with no room at all would leave the rest of the entry unwritten.
    if (chunk <= 0) throw EZipRefused("Volume " + std::to_string(disk_ + 1) + " has no room left");
    if (!copyBytes(spill, *out_, chunk)) throw EFatalUnzipError("Premature end of file reached");
    size -= chunk;
    if (size > 0 || roomLeft() == 0) nextVolume();
    chunk = std::min(roomLeft(), size);
  }
}

void TZipEngine::TZipRun::writeCentralDirectory() {
  if (entries_.Count() > 0xFFFF) throw EZipRefused("An archive holds at most 65535 entries");
  int64_t size = 0;
  end_.CentralDirOffset = uint32_t(out_->Position() - offsetBase_);
  end_.CentralDirStartDisk = uint16_t(disk_);
  int onThisDisk = 0;
  for (int i = 0; i < entries_.Count(); ++i) {
    TZipHeaderInfo& entry = entries_[i];
    const int startDisk = disk_;
    makeRoom(entry.CentralSize(), "a central directory record");
    if (disk_ != startDisk) {
      onThisDisk = 0;
      if (i == 0) {
        end_.CentralDirOffset = 0;
        end_.CentralDirStartDisk = uint16_t(disk_);
      }
    }
    int64_t before = out_->Position();
    uint32_t offset = entry.RelativeOffset;
    entry.RelativeOffset = offset - offsetBase_;
    entry.WriteCentralHeader(*out_);
    entry.RelativeOffset = offset;
    size += out_->Position() - before;
    ++onThisDisk;
  }
  end_.CentralDirSize = uint32_t(size);
  const int startDisk = disk_;
  makeRoom(kEndRecordSize + end_.StoredComment().size(), "the end record");
  if (disk_ != startDisk) onThisDisk = 0;
  end_.NumberOfThisDisk = uint16_t(disk_);
  end_.EntriesThisDisk = uint16_t(onThisDisk);
  end_.TotalEntries = uint16_t(entries_.Count());
  end_.WriteEndRecord(*out_);
  labelDisk();
}

void TZipEngine::TZipRun::finish() {
  encoder_.reset();
  out_->Sync();
  out_->Close();
  out_.reset();
  const std::string name = e_.zipName_;
  if (updating_) {
    e_.stream_.reset();
    const std::string target = e_.repairTarget_.empty() ? name : e_.repairTarget_;
    ReplaceFileAtomically(outName_, target);
  }
  if (mode_ == mmBlocks) {
    // One block is an ordinary archive under its own name; otherwise the set is named by
    // its last block, which holds the directory.
    if (disk_ == 0)
      RenameOver(outName_, name);
    else
      e_.zipName_ = outName_;
  }
  succeeded_ = true;

  if (e_.Dispose) {
    for (const std::string& path : disposeList_) {
      bool skip = false;
      if (e_.OnDisposeFile) e_.OnDisposeFile(e_, path, skip);
      if (!skip) ::unlink(path.c_str());
    }
  }

  // The new archive becomes the catalogue without being read again.
  const bool repaired = !e_.repairTarget_.empty();
  e_.sorted_.reset();
  e_.view_ = nullptr;
  e_.endRecord_.Assign(end_);
  e_.endRecord_.Modified = false;
  e_.main_ = std::make_unique<TSortedZip>(true, dupError, ByNone);
  for (auto& entry : entries_.TakeAll()) e_.main_->Add(std::move(entry));
  e_.rebuilt_ = offsetBase_ != 0;
  e_.volumeCount_ = disk_ + 1;
  e_.currentVolume_ = disk_;
  TLFNFileStream reopened(repaired ? e_.repairTarget_ : e_.zipName_, TOpenMode::Read);
  e_.zipDateTime_ = stampOf(reopened);
  if (repaired) e_.zipName_ = e_.repairTarget_;
}

// ---- Public operations

int TZipEngine::CompressFiles() {
  const TZipSortMode sortMode = sortMode_;
  const bool keepOpen = KeepZipOpen;
  KeepZipOpen = true;
  SortCatalogue(ByNone);
  cancel_ = false;
  auto restore = [&] {
    KeepZipOpen = keepOpen;
    SortCatalogue(sortMode);
    CloseArchive();
  };
  int count;
  try {
    TZipRun run(*this);
    count = run.Run();
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return count;
}

int TZipEngine::RemoveEntries() {
  removing_ = true;
  try {
    CompressFiles();
  } catch (...) {
    removing_ = false;
    throw;
  }
  removing_ = false;
  return 0;
}

void TZipEngine::SavePendingChanges() {
  if (!endRecord_.Modified) return;
  FilesList.clear();
  CompressFiles();
  endRecord_.Modified = false;
  zipDateTime_ = TFileStamp();
  LoadCatalogue();
}

int TZipEngine::RepairArchive(const std::string& InputName, const std::string& OutputName) {
  struct TFixing {
    bool& flag;
    explicit TFixing(bool& f) : flag(f) { flag = true; }
    ~TFixing() { flag = false; }
  };
  if (!InputName.empty()) {
    SetZipName(InputName);
  } else if (!main_ || main_->Count() == 0) {
    try {
      SetZipName(FolderOf(zipName_) + "/?");
    } catch (const EUserCanceled&) {
      return 0;
    }
  }
  {
    // A damaged archive is read in recovery mode whichever way it was named.
    TFixing fixing(fixing_);
    zipDateTime_ = TFileStamp();
    LoadCatalogue();
  }
  if (MultiMode() != mmNone)
    throw EZipRefused("\"" + zipName_ + "\" is one volume of a multi-volume set; such sets cannot be rewritten");
  std::string target = OutputName;
  if (target.empty()) {
    std::string folder = FolderOf(zipName_);
    if (!files::IsFolder(folder)) folder = "/";
    std::optional<std::string> picked;
    if (Host.SelectOpenFile)
      picked = Host.SelectOpenFile("Select a new name for the fixed file.", "Zip Files (*.ZIP)", folder);
    if (!picked) return 0;
    target = *picked;
  }
  if (fileIdOf(target) == fileIdOf(zipName_))
    throw EZipRefused("The repaired archive must go to another file than the damaged one");
  const std::vector<std::string> files = FilesList;
  FilesList.clear();
  repairTarget_ = target;
  try {
    CompressFiles();
  } catch (...) {
    FilesList = files;
    repairTarget_.clear();
    throw;
  }
  FilesList = files;
  repairTarget_.clear();
  return 0;
}

}  // namespace quelt
