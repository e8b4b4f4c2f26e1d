#include "engine/UnZipEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/Errors.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

constexpr int64_t kExeStubSkip = 14000;  // where the walk starts in a ".EXE"
constexpr int64_t kWalkPumpEvery = 10240;

std::string folderOf(const std::string& path) {
  size_t cut = path.rfind('/');
  if (cut == std::string::npos) return "";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::string threeDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%3.3d", n);
  return buf;
}

// Closes the archive when an operation ends, unless the engine keeps it open.
class TCloseGuard {
 public:
  explicit TCloseGuard(std::function<void()> close) : close_(std::move(close)) {}
  ~TCloseGuard() { close_(); }

 private:
  std::function<void()> close_;
};

}  // namespace

// Finds the descriptor that closes an entry whose local header left the sizes out: the
// first descriptor signature whose compressed size equals the bytes since `dataStart`.
bool TUnZipEngine::findDataDescriptor(TLFNFileStream& in, int64_t dataStart, TZipHeaderInfo& entry) {
  in.Seek(dataStart, soFromBeginning);
  static const uint8_t kSig[4] = {'P', 'K', 7, 8};
  int matched = 0;
  int64_t pos = dataStart;
  uint8_t b;
  while (in.ReadByte(b)) {
    ++pos;
    if ((pos - dataStart) % kWalkPumpEvery == 0) CheckCancel();
    if (b != kSig[matched]) {
      matched = b == 'P' ? 1 : 0;
      continue;
    }
    if (++matched < 4) continue;
    matched = 0;
    int64_t sigAt = pos - 4;
    uint8_t d[20];
    const size_t length = entry.LocalZip64() ? 20 : 12;
    if (!in.ReadExact(d, length)) return false;
    const uint64_t packed = entry.LocalZip64() ? load64(d + 4) : load32(d + 4);
    if (packed == uint64_t(sigAt - dataStart)) {
      entry.CRC32 = load32(d);
      entry.CompressedSize = packed;
      entry.UncompressedSize = entry.LocalZip64() ? load64(d + 12) : load32(d + 8);
      return true;
    }
    in.Seek(pos, soFromBeginning);
  }
  return false;
}

TUnZipEngine::TUnZipEngine(IVolumes& volumes) : volumes_(volumes) {}

TUnZipEngine::~TUnZipEngine() = default;

TUnZipEngine::TFileStamp TUnZipEngine::stampOf(const TLFNFileStream& stream) {
  struct stat st = stream.Stat();
  TFileStamp s;
  s.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.size = int64_t(st.st_size);
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  return s;
}

// ---- Names and folders

void TUnZipEngine::SetZipName(const std::string& name) {
  // Linux file names differ by letter case: "A.zip" and "a.zip" are two archives.
  if (name == zipName_) return;
  std::string chosen = name;
  if (!name.empty() && name.back() == '?') {
    std::string folder = folderOf(name.substr(0, name.size() - 1));
    if (folder.empty() || !files::IsFolder(folder)) folder = "/";
    std::optional<std::string> picked;
    if (Host.SelectOpenFile)
      picked = Host.SelectOpenFile(
          "Open a Zip File",
          "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*",
          folder);
    if (!picked) throw EUserCanceled("User canceled setting zip file name.");
    chosen = *picked;
  }
  zipName_ = chosen;
  dropCatalogue();
  stream_.reset();
}

void TUnZipEngine::SetDestDir(const std::string& dir) {
  std::string chosen = dir;
  if (dir == "?") {
    std::string start = files::IsFolder(destDir_) ? destDir_ : "";
    if (start.empty()) {
      char cwd[4096];
      if (::getcwd(cwd, sizeof cwd)) start = cwd;
    }
    std::optional<std::string> picked;
    if (Host.SelectFolder) picked = Host.SelectFolder(start);
    if (!picked) throw EUserCanceled("User canceled Set Desination Directory");
    chosen = *picked;
  }
  while (chosen.size() > 1 && chosen.back() == '/') chosen.pop_back();
  destDir_ = chosen;
}

void TUnZipEngine::SetRootDir(const std::string& dir) {
  rootDir_ = dir;
  if (!rootDir_.empty() && rootDir_.back() != '/') rootDir_ += '/';
}

// ---- Opening and reading the directory

void TUnZipEngine::LoadCatalogue() {
  cancel_ = false;
  TCloseGuard guard([this] { CloseArchive(); });
  OpenArchive();
}

void TUnZipEngine::OpenArchive() {
  // A file kept open may have been replaced under its name (a rename over it): ask the name.
  if (stream_ && main_) {
    struct stat st;
    if (::stat(zipName_.c_str(), &st) != 0 || st.st_dev != zipDateTime_.dev ||
        st.st_ino != zipDateTime_.ino)
      stream_.reset();
  }
  if (!stream_) stream_ = std::make_unique<TLFNFileStream>(zipName_, TOpenMode::Read);
  if (main_ && stampOf(*stream_) == zipDateTime_) return;
  ReadDirectory();
}

void TUnZipEngine::CloseArchive() {
  if (!KeepZipOpen) stream_.reset();
}

void TUnZipEngine::dropCatalogue() {
  sorted_.reset();
  view_ = nullptr;
  main_.reset();
  zipDateTime_ = TFileStamp();
  endRecord_.Clear();
  rebuilt_ = false;
  damage_.clear();
}

void TUnZipEngine::ClearCatalogue() {
  stream_.reset();
  dropCatalogue();
  volumeCount_ = 1;
  currentVolume_ = 0;
  SetMultiMode(mmNone);
  zipName_.clear();
}

void TUnZipEngine::ReadDirectory() {
  try {
    readDirectory();
  } catch (...) {
    // Entries read before the failure stay listed, but the next operation reads again.
    zipDateTime_ = TFileStamp();
    try {
      applyNameEncoding();
      SortCatalogue(sortMode_);
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  // Names are read once all of them are there: their set is found from them together.
  applyNameEncoding();
  if (sortMode_ != ByNone) SortCatalogue(sortMode_);
}

void TUnZipEngine::readDirectory() {
  zipDateTime_ = stampOf(*stream_);
  sorted_.reset();
  view_ = nullptr;
  main_.reset();
  rebuilt_ = false;
  damage_.clear();

  int64_t stubLength = 0;  // offsets count from the end of a stub this long
  const bool found = ReadEndRecord();
  // An empty directory that starts where the end record stands: nothing was left out.
  if (found && endRecord_.TotalEntries == 0 && endRecord_.CentralDirSize == 0 &&
      endRecord_.NumberOfThisDisk == 0 &&
      endRecord_.CentralDirOffset == uint64_t(endRecord_.ZipCommentPos) - kEndRecordSize) {
    // An archive with no entries, such as the 22 bytes left when the last entry is removed.
    currentVolume_ = 0;
    volumeCount_ = 1;
    SetMultiMode(mmNone);
    main_ = std::make_unique<TSortedZip>(true, dupError, ByNone);
    SortCatalogue(sortMode_);
    return;
  }
  if (found) {
    currentVolume_ = endRecord_.NumberOfThisDisk;
    if (endRecord_.NumberOfThisDisk == 0)
      SetMultiMode(mmNone);
    else
      SetMultiMode(volumes_.IsRemovable(zipName_) ? mmSpan : mmBlocks);
    if (endRecord_.CentralDirStartDisk != currentVolume_)
      RequestDisk(endRecord_.CentralDirStartDisk + 1);
    uint8_t sig[4] = {0, 0, 0, 0};
    stream_->Seek(int64_t(std::min<uint64_t>(endRecord_.CentralDirOffset, uint64_t(INT64_MAX))),
                  soFromBeginning);
    if (stream_->ReadExact(sig, 4) && load32(sig) == kCentralHeaderSig) {
      stream_->Seek(-4, soFromCurrent);
      main_ = std::make_unique<TSortedZip>(true, dupError, ByNone);
    } else if ((stubLength = ArchiveStartBehindStub()) > 0) {
      main_ = std::make_unique<TSortedZip>(true, dupError, ByNone);
    } else {
      // The offsets do not fit the file: a stub in front, or damage.
      WalkLocalHeaders();
      if (main_->Count() == 0) {
        damage_ = "its central directory is not where its end record says, and no entry "
                  "was found";
        SortCatalogue(sortMode_);
        return;
      }
    }
  } else {
    if (!fixing_) {
      if (OnInCompleteZip) OnInCompleteZip(*this, IncompleteZipMode);
      if (IncompleteZipMode == izAssumeMulti) throw EIncompleteZip();
    }
    WalkLocalHeaders();
    damage_ = "it has no end record, so its entries were found by walking their local "
              "headers; it is damaged, or only one volume of a multi-volume set";
    if (main_->Count() == 0) {
      SortCatalogue(sortMode_);
      return;
    }
  }

  TNextVolumeFn nextVolume;
  if (!rebuilt_ && MultiMode() != mmNone) {
    nextVolume = [this]() -> TStream* {
      RequestDisk(currentVolume_ + 2);
      return stream_.get();
    };
  }
  uint64_t read = 0;
  for (uint64_t k = 0; k < endRecord_.TotalEntries; ++k, ++read) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    // A header that does not read ends the directory: no blank entry is ever made.
    if (!entry->ReadCentralHeader(*stream_, nextVolume)) break;
    if (rebuilt_) {
      int index;
      if (main_->Find(*entry, index)) {
        TZipHeaderInfo& walked = (*main_)[index];
        const uint64_t offset = walked.RelativeOffset;
        walked = *entry;
        walked.RelativeOffset = offset;
      }
    } else {
      entry->RelativeOffset += uint64_t(stubLength);
      main_->Add(std::move(entry));
    }
  }
  if (damage_.empty() && read < endRecord_.TotalEntries)
    damage_ = "its central directory is missing or cut short: " + std::to_string(read) + " of " +
              std::to_string(endRecord_.TotalEntries) + " records could be read" +
              (rebuilt_ ? ", the entries were found by walking their local headers" : "");
  volumeCount_ = endRecord_.NumberOfThisDisk + 1;
  // CurrentVolume stays the volume whose file is open, so later reads know where they are.
  SortCatalogue(sortMode_);
}

bool TUnZipEngine::ReadEndRecord() {
  int64_t size = stream_->Size();
  if (size < int64_t(kEndRecordSize)) return false;
  size_t w = size_t(std::min<int64_t>(size, int64_t(kEndRecordSearch)));
  std::vector<uint8_t> tail(w);
  stream_->Seek(size - int64_t(w), soFromBeginning);
  if (!stream_->ReadExact(tail.data(), w)) return false;
  for (size_t pos = w - kEndRecordSize + 1; pos-- > 0;) {
    if (tail[pos] != 'P' || load32(&tail[pos]) != kEndRecordSig) continue;
    // The comment is what follows the record, cut to the bytes the file really has.
    size_t commentAt = pos + kEndRecordSize;
    size_t length = std::min<size_t>(load16(&tail[pos] + endrec::kCommentLength), w - commentAt);
    endRecord_.LoadRecord(&tail[pos], std::string_view(
                                          reinterpret_cast<const char*>(tail.data()) + commentAt,
                                          length));
    endRecord_.ZipCommentPos = size - int64_t(w) + int64_t(commentAt);
    // A Zip64 locator right in front of the record leads to the Zip64 end record.
    if (pos >= kZip64LocatorSize && load32(&tail[pos - kZip64LocatorSize]) == kZip64LocatorSig)
      readZip64EndRecord(&tail[pos - kZip64LocatorSize],
                         size - int64_t(w) + int64_t(pos) - int64_t(kZip64LocatorSize));
    return true;
  }
  return false;
}

void TUnZipEngine::readZip64EndRecord(const uint8_t* locator, int64_t locatorAt) {
  // Only a record on this volume is read: a set whose Zip64 record sits on an earlier volume
  // is read by its classic record.
  if (load32(locator + zip64loc::kEndRecordDisk) != endRecord_.NumberOfThisDisk) return;
  const uint64_t claimed = load64(locator + zip64loc::kEndRecordOffset);
  // Where the locator says, or just in front of the locator when a program in front of the
  // archive (a self-extractor's stub) shifted everything.
  for (int64_t at : {int64_t(std::min<uint64_t>(claimed, uint64_t(INT64_MAX))),
                     locatorAt - int64_t(kZip64EndRecordSize)}) {
    if (at < 0 || at > locatorAt - int64_t(kZip64EndRecordSize)) continue;
    uint8_t r[kZip64EndRecordSize];
    stream_->Seek(at, soFromBeginning);
    if (!stream_->ReadExact(r, sizeof r) || load32(r) != kZip64EndRecordSig) continue;
    endRecord_.LoadZip64Record(r, at);
    return;
  }
}

void TUnZipEngine::WalkLocalHeaders() {
  rebuilt_ = true;
  sorted_.reset();
  view_ = nullptr;
  main_ = std::make_unique<TSortedZip>(true, dupError, ByNone);

  const bool exe = zipName_.size() >= 4 && zipName_.compare(zipName_.size() - 4, 4, ".EXE") == 0;
  TLFNFileStream& in = *stream_;
  in.Seek(exe ? kExeStubSkip : 0, soFromBeginning);

  // Find the first "PK\3\4".
  static const uint8_t kSig[4] = {'P', 'K', 3, 4};
  int matched = 0;
  int64_t skipped = 0;
  uint8_t b;
  bool found = false;
  while (in.ReadByte(b)) {
    if (b == kSig[matched]) {
      if (++matched == 4) {
        found = true;
        break;
      }
      continue;
    }
    matched = b == 'P' ? 1 : 0;
    if (++skipped % kWalkPumpEvery == 0) CheckCancel();
  }

  if (found) {
    in.Seek(-4, soFromCurrent);
    for (;;) {
      auto entry = std::make_unique<TZipHeaderInfo>();
      if (!entry->ReadLocalHeader(in)) break;
      int64_t dataStart = in.Position();
      int64_t next = dataStart + int64_t(std::min<uint64_t>(entry->CompressedSize, uint64_t(INT64_MAX / 2)));
      if (entry->HasDataDescriptor()) {
        if (entry->CompressedSize == 0) {
          // Written by a streaming tool: the sizes are only in the descriptor after the data.
          if (!findDataDescriptor(in, dataStart, *entry)) {
            main_->Add(std::move(entry));
            break;
          }
          next = dataStart + int64_t(entry->CompressedSize);
        }
        next += DataDescriptorLength(in, next, entry->LocalZip64());
      }
      main_->Add(std::move(entry));
      if (next > in.Size()) break;
      in.Seek(next, soFromBeginning);
    }
  }
  endRecord_.NumberOfThisDisk = 0;
  currentVolume_ = 0;
  endRecord_.CentralDirOffset = uint64_t(in.Position());
  endRecord_.TotalEntries = uint64_t(main_->Count());
  endRecord_.Zip64RecordPos = -1;
  volumeCount_ = 1;
}

void TUnZipEngine::CheckCancel() {
  if (!DoProcessMessages) return;
  if (Host.ProcessMessages) Host.ProcessMessages();
  if (cancel_) {
    cancel_ = false;
    throw EUserCanceled("User Aborted Operation");
  }
}

void TUnZipEngine::RequestDisk(int n) {
  stream_.reset();
  if (!OnGetNextDisk)
    throw EFatalUnzipError("Volume " + std::to_string(n) +
                           " of this multi-volume set is needed, and nothing can provide it");
  std::string fname;
  for (;;) {
    fname = zipName_;
    OnGetNextDisk(*this, n, fname);
    if (fname.empty()) throw EUserCanceled("User canceled loading new disk.");
    if (CheckDiskLabels() && MultiMode() == mmSpan) {
      std::string label = volumes_.GetLabel(fname).substr(0, 11);
      if (RightStr(label, 3) != threeDigits(n)) continue;
    }
    if (!files::IsRegularFile(fname)) continue;
    break;
  }
  stream_ = std::make_unique<TLFNFileStream>(fname, TOpenMode::Read);
  currentVolume_ = n - 1;
  zipDateTime_ = stampOf(*stream_);
  zipName_ = fname;
}

// ---- Sorting and queries

void TUnZipEngine::SortCatalogue(TZipSortMode mode) {
  sorted_.reset();
  view_ = nullptr;
  if (main_ && mode != ByNone) {
    sorted_ = std::make_unique<TSortedZip>(false, dupAccept, mode);
    sorted_->AssignFrom(*main_);
    view_ = sorted_.get();
  }
  sortMode_ = mode;
}

const TZipHeaderInfo& TUnZipEngine::Entry(int index) const {
  if (index < 0 || index >= Count())
    throw EListError("Index " + std::to_string(index) + " is out of range");
  return *view()->Items(index);
}

TDateTime TUnZipEngine::EntryDateTime(int index) const {
  const uint32_t dos = Entry(index).LastModFileDateTime;
  if (auto t = DosDateTimeToDateTime(dos)) return *t;
  // Shown as stored (1980-00-00 00:00:00 for 0), as other tools show it: the time of the
  // run would pass for a real date.
  return TDateTime{int(dos >> 25) + 1980, int((dos >> 21) & 0x0F), int((dos >> 16) & 0x1F),
                   int((dos >> 11) & 0x1F), int((dos >> 5) & 0x3F), int(dos & 0x1F) * 2};
}

void TUnZipEngine::SetEntryComment(int index, const std::string& text) {
  auto& entry = const_cast<TZipHeaderInfo&>(Entry(index));
  if (entry.EntryComment() == text) return;
  entry.SetEntryComment(text);
  endRecord_.Modified = true;
}

void TUnZipEngine::SetArchiveComment(const std::string& text) {
  if (endRecord_.ZipComment() == text) return;
  endRecord_.SetZipComment(text);
  endRecord_.Modified = true;
}

}  // namespace quelt
