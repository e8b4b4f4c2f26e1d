// The zip operation: gather the sources, write a complete new archive (copying unchanged
// entries, compressing new ones), then put it in place of the old one atomically.
#include "engine/ZipEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "engine/Crc32.h"
#include "engine/DeflateEnc.h"
#include "engine/DirSearch.h"
#include "engine/Errors.h"
#include "engine/FileOps.h"
#include "engine/ParallelDeflate.h"
#include "engine/StreamedEntry.h"
#include "engine/WildMatch.h"
#include "engine/ZipCrypt.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "engine/codecs/AesEncodeIO.h"
#include "engine/codecs/Methods.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

// A source this large may not fit the classic 32-bit size fields once compressed (stored
// blocks and an encryption header add a little): its local header makes room for Zip64 sizes.
constexpr uint64_t kZip64SourceFrom = 0xF0000000;
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

// The path made absolute against the current folder and lexically clean, links left alone.
std::string absolutePath(const std::string& path) {
  return std::filesystem::absolute(path.empty() ? "." : path).lexically_normal().string();
}

// A folder ("/"-separated, ending in "/") as other zip tools store a path outside the base
// folder: without a leading "/" and without "." and ".." parts.
std::string withoutClimbing(const std::string& folder) {
  std::string out;
  size_t start = 0;
  while (start < folder.size()) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    std::string part = folder.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") out += part + "/";
    start = end + 1;
  }
  return out;
}

bool isEmptyFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_empty(path, error) && !error;
}

// A link's target as the data of its entry.
class TStringSource : public TStream {
 public:
  explicit TStringSource(std::string data) : data_(std::move(data)) {}
  size_t Read(void* buffer, size_t n) override {
    n = std::min(n, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  size_t Write(const void*, size_t) override { throw EStreamError("Write error"); }
  int64_t Seek(int64_t offset, int origin) override {
    int64_t base = origin == soFromBeginning ? 0
                   : origin == soFromCurrent ? int64_t(pos_)
                                             : int64_t(data_.size());
    pos_ = size_t(std::clamp<int64_t>(base + offset, 0, int64_t(data_.size())));
    return int64_t(pos_);
  }

 private:
  std::string data_;
  size_t pos_ = 0;
};

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
  explicit TZipRun(TZipEngine& engine) : e_(engine), entries_(true, dupError, ByNone) {}
  ~TZipRun() override;

  int Run();

  size_t Read(uint8_t* buf, size_t count) override;
  void Write(const uint8_t* data, size_t n) override;

 private:
  void checkComments(const TEndCentral& end) const;
  void gather();
  std::string storedFolder(const std::string& path) const;
  // The name a source is stored under, "/"-separated; a folder's ends in "/".
  std::string storedPath(const std::string& path, bool folder) const;
  std::string storedPathOf(const std::string& path) const;
  bool matchesForRemoval(const std::string& s, const TZipHeaderInfo& entry) const;
  // A name of LiteralFiles is one file's (or entry's) name, wildcard characters and all.
  bool isLiteral(const std::string& s) const {
    return std::find(e_.LiteralFiles.begin(), e_.LiteralFiles.end(), s) != e_.LiteralFiles.end();
  }
  void createOutput();
  void copyPrefix();
  void merge();
  bool replaceIsDue(const std::string& path, const TZipHeaderInfo& entry) const;
  bool compressOne(const std::string& path);
  // The entry read from StreamedSource.
  bool compressStreamed();
  // Writes a new entry whose source is open: duplicates, events, volumes, data, record.
  bool storeNew(std::unique_ptr<TZipHeaderInfo> entry, const std::string& path, bool folder);
  // Local header, data and data descriptor, for an output that cannot seek back.
  bool writeStreamed(TZipHeaderInfo& entry, const std::string& path, bool sizeUnknown);
  // Writes the local header and data of a file or link; false when the source kept changing
  // under an encryption header that must know its CRC in advance.
  bool writeData(TZipHeaderInfo& entry, const std::string& path, int64_t headerAt,
                 std::unique_ptr<TLFNFileStream>& spill);
  // The same for AES-256: one pass, since no header must know the CRC beforehand.
  bool writeAesData(TZipHeaderInfo& entry, const std::string& path, int64_t headerAt,
                    std::unique_ptr<TLFNFileStream>& spill);
  // What a worker made of the file being written, when it still stands for the file.
  std::unique_ptr<TPrecompressed> takeReady();
  // Makes the calls of one of its passes again: the same events, and the bytes written to
  // `sink` (this run, or the AES stage in front of it).
  TDeflateResult replay(const TPrecompressed& made, const TEncodedPass& pass, TEncodeIO& sink);
  // A source's bytes counted as read: progress events.
  void counted(size_t got);
  bool copyUnchanged(TZipHeaderInfo& entry, int64_t archiveSize);
  void record(std::unique_ptr<TZipHeaderInfo> entry, const std::string& source);
  // `key`, when given, is the entry's name to find it by when a source later takes it.
  // Should keeping fail, the caller still has the entry.
  void keep(std::unique_ptr<TZipHeaderInfo>&& entry, std::string* key);
  // After a failed run: the catalogue's entries lent to this run go back as they were.
  void giveBack() noexcept;
  // The latest entry written under the stored name `key`, or null.
  const TZipHeaderInfo* written(const std::string& key) const;
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
  std::string target_;  // the file the archive's name leads to, past any links
  std::string outName_;
  std::unique_ptr<TLFNFileStream> out_;
  TFileId outId_;
  // Entries written so far, in physical order, and the latest of them under each name a
  // source may still take: every new entry's, and a copied one's when a source was going to
  // take its name. Names compare byte for byte: "X.txt" and "x.txt" are two files on Linux.
  // Hashes keep rewriting a large archive linear in its entries.
  TSortedZip entries_;
  std::unordered_map<std::string, const TZipHeaderInfo*> names_;
  std::unordered_map<std::string, std::vector<size_t>> byName_;  // sources by stored name
  // The old catalogue's entries, lent to be written without a copy of each, and what
  // writing them changes, to undo should the run fail. Entries that writing changes more
  // (a local extra field of their own, walked entries) are kept whole.
  struct TLentState {
    uint64_t offset;
    uint16_t extraLength;
    bool localZip64;
  };
  std::vector<std::unique_ptr<TZipHeaderInfo>> lent_;
  std::vector<TLentState> lentState_;
  std::unordered_map<size_t, TZipHeaderInfo> lentWhole_;
  TEndCentral end_;
  std::unique_ptr<TDeflateEncoder> encoder_;
  // Workers compressing the files of FilesList ahead (Jobs above 1), and the index in
  // FilesList of the file being written; npos for any other.
  std::unique_ptr<TParallelDeflate> ahead_;
  size_t slot_ = std::string::npos;
  std::vector<std::string> disposeList_;
  int count_ = 0;
  int64_t totalBytes_ = 0, bytesDone_ = 0;
  // Bytes in front of the first entry (a self-extractor's stub) and what stored offsets
  // count from: 0 when the old archive's offsets counted the stub, else its length.
  int64_t prefix_ = 0;
  uint64_t offsetBase_ = 0;

  TMultiMode mode_ = mmNone;  // mmNone, or how the new archive is spread over volumes
  int disk_ = 0;
  int64_t room_ = 0;          // capacity of the current volume
  TStream* sink_ = nullptr;   // where an entry's data goes: the output or its spill file

  // The source being compressed.
  std::unique_ptr<TStream> source_;
  int64_t sourceRead_ = 0, sourceSize_ = 0;
  uint32_t crc_ = kCrcInit;
  bool encrypting_ = false;
  TZipCrypt crypt_;
  std::vector<uint8_t> cipherBuf_;
  bool succeeded_ = false;
  bool streaming_ = false;   // StreamOutput: nothing is ever sought back
  bool fromStream_ = false;  // the entry being written comes from StreamedSource
};

TZipEngine::TZipRun::~TZipRun() {
  ahead_.reset();  // no worker outlives the run
  if (succeeded_) return;
  giveBack();
  // Whatever went wrong, the half-written output goes; an existing archive was never touched.
  out_.reset();
  if (!outName_.empty()) ::unlink(outName_.c_str());
}

void TZipEngine::TZipRun::refuse(const std::string& name, const std::string& why) {
  if (e_.OnFileRefused) e_.OnFileRefused(e_, name, why);
}

int TZipEngine::TZipRun::Run() {
  // An archive reached through a link is rewritten where the link leads; the link stays.
  streaming_ = e_.StreamOutput >= 0;
  target_ = streaming_ ? std::string() : files::ResolveLinks(e_.zipName_);
  updating_ = !streaming_ && files::IsRegularFile(e_.zipName_);
  // Spanning onto a fixed volume has all its free space for one volume: a single file.
  const TMultiMode mode = e_.MultiMode();
  const bool volumes =
      !streaming_ && (mode == mmBlocks || (mode == mmSpan && e_.volumes_.IsRemovable(e_.zipName_)));
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
  if (streaming_) {
    // No file of ours: the descriptor is the archive.
  } else if (updating_) {
    outName_ = files::TempFileName(tempFolder(), "QLZ");
  } else if (mode_ == mmNone) {
    // A new archive, too, is built under a temporary name beside it and appears only whole.
    outName_ = MakeTempFile(FolderOf(target_), "QLZ");
  } else {
    outName_ = mode_ == mmBlocks ? blockName(1) : e_.zipName_;
  }
  startVolumes();
  createOutput();
  if (updating_) {
    copyPrefix();
    merge();
  }
  const bool streamed = !e_.removing_ && e_.StreamedSource >= 0;
  if (!e_.removing_ && (!e_.FilesList.empty() || streamed)) {
    bool stop = false;
    if (e_.OnStartZipInfo) e_.OnStartZipInfo(e_, int(e_.FilesList.size()), totalBytes_, end_, stop);
    if (stop) throw EUserCanceled("User canceled Zip operation.");
    checkComments(end_);
    // Encryption is applied as the bytes are written. A stream is left alone (its entries
    // have no stored fallback), and replacements (in merge) were written already.
    if (e_.Jobs > 1 && !streaming_ && !e_.FilesList.empty())
      ahead_ = std::make_unique<TParallelDeflate>(
          e_.FilesList, e_.PackLevel, int(std::min<size_t>(size_t(e_.Jobs), e_.FilesList.size())),
          !e_.StoreLinks);
    for (size_t i = 0; i < e_.FilesList.size(); ++i) {
      slot_ = i;
      if (ahead_) ahead_->Pass(i);
      compressOne(e_.FilesList[i]);
    }
    slot_ = std::string::npos;
    ahead_.reset();
    if (streamed) compressStreamed();
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

void TZipEngine::TZipRun::gather() {
  std::vector<std::string> wildcards;
  auto& list = e_.FilesList;
  const TFileId archiveId = fileIdOf(e_.zipName_);
  // Under zaFreshen a file counts only when the archive holds its name.
  std::unordered_set<std::string> held;
  if (e_.ZipAction == zaFreshen)
    for (int i = 0; e_.main_ && i < e_.main_->Count(); ++i) held.insert((*e_.main_)[i].NameKey());
  auto wanted = [&](const std::string& path) {
    return e_.ZipAction != zaFreshen || held.count(storedPathOf(path)) > 0;
  };
  auto sizeOf = [](const std::string& path) {
    return files::IsFolder(path) ? 0 : int64_t(files::FileSize(path).value_or(0));
  };
  for (size_t i = 0; i < list.size();) {
    std::string s = list[i];
    if (HasWildcards(s) &&
        std::find(e_.LiteralFiles.begin(), e_.LiteralFiles.end(), s) == e_.LiteralFiles.end()) {
      wildcards.push_back(s);
      list.erase(list.begin() + long(i));
      continue;
    }
    if (s.find('/') == std::string::npos) list[i] = s = e_.rootDir_ + s;
    // A link to nothing is still something the user named: it is reported when stored.
    if (!files::PathExists(s, false)) {
      if (e_.OnNoSuchFile) e_.OnNoSuchFile(e_, s);
      list.erase(list.begin() + long(i));
      continue;
    }
    if (!wanted(s)) {
      list.erase(list.begin() + long(i));
      continue;
    }
    totalBytes_ += sizeOf(s);
    ++i;
  }
  size_t found = 0;
  for (const std::string& w : wildcards) {
    std::string folder = folderPart(w);
    if (folder.size() > 1) folder.pop_back();
    if (folder.empty()) folder = e_.rootDir_;
    TDirSearch search(folder, e_.Recurse, namePart(w), e_.PatternsIgnoreCase, e_.StoreLinks);
    while (auto path = search.Next()) {
      if (++found % 256 == 0) e_.CheckCancel();  // a large tree takes a while to walk
      // The archive being written is never its own source, however it is named.
      if (fileIdOf(*path) == archiveId) continue;
      if (!wanted(*path)) continue;
      list.push_back(*path);
      totalBytes_ += sizeOf(*path);
    }
    for (const std::string& sub : search.Unreadable()) refuse(sub, "the folder cannot be read");
    for (const std::string& link : search.LinkedFolders())
      refuse(link, "it is a link to a folder; links to folders are not followed");
  }
  bytesDone_ = 0;
}

// ---- Stored names

std::string TZipEngine::TZipRun::storedFolder(const std::string& path) const {
  const std::string given = folderPart(path);
  std::string whole = absolutePath(given);
  if (whole.back() != '/') whole += '/';
  if (e_.relativePaths_) {
    std::string root = absolutePath(e_.rootDir_);  // no root: the current folder
    if (root.back() != '/') root += '/';
    // Exact: "/Data/" is another folder than "/data/".
    if (whole.compare(0, root.size(), root) == 0) return whole.substr(root.size());
    return withoutClimbing(given);
  }
  if (!e_.storeVolumes_) {
    // The volume's mount point plays the part of a drive.
    std::string mount = e_.volumes_.VolumeRoot(whole);
    if (!mount.empty() && mount.back() != '/') mount += '/';
    if (!mount.empty() && whole.compare(0, mount.size(), mount) == 0) whole.erase(0, mount.size());
  }
  return withoutClimbing(whole);
}

std::string TZipEngine::TZipRun::storedPath(const std::string& path, bool folder) const {
  if (folder) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return e_.storePaths_ ? storedFolder(p + "/") : namePart(p) + "/";
  }
  return (e_.storePaths_ ? storedFolder(path) : "") + namePart(path);
}

std::string TZipEngine::TZipRun::storedPathOf(const std::string& path) const {
  return storedPath(path, files::IsFolder(path, !e_.StoreLinks));
}

bool TZipEngine::TZipRun::matchesForRemoval(const std::string& s,
                                            const TZipHeaderInfo& entry) const {
  if (HasWildcards(s) && !isLiteral(s)) {
    const std::string& target =
        s.find('\\') == std::string::npos ? entry.Filename() : entry.FullName();
    return WildcardMatch(s, target, e_.PatternsIgnoreCase);
  }
  // FullName() without building it: this runs once per entry of the archive.
  const std::string &dir = entry.Directory(), &file = entry.Filename();
  return s.size() == dir.size() + file.size() && s.compare(0, dir.size(), dir) == 0 &&
         s.compare(dir.size(), file.size(), file) == 0;
}

// ---- Writing

void TZipEngine::TZipRun::createOutput() {
  if (streaming_) {
    const int fd = ::dup(e_.StreamOutput);
    if (fd < 0)
      throw EFCreateError(std::string("Cannot write the archive: ") + std::strerror(errno));
    out_ = std::make_unique<TLFNFileStream>(fd, "the archive's output");
    struct stat st;
    if (::fstat(fd, &st) == 0) outId_ = {st.st_dev, st.st_ino, true};
  } else {
    out_ = std::make_unique<TLFNFileStream>(outName_, TOpenMode::Create);
    outId_ = fileIdOf(outName_);
  }
  if (updating_) {
    end_.Assign(e_.endRecord_);
    end_.EntriesThisDisk = end_.TotalEntries = 0;
  } else {
    // A comment given to an archive that is only a name yet goes into it when it is made.
    end_.SetZipComment(e_.endRecord_.ZipComment());
  }
}

void TZipEngine::TZipRun::copyPrefix() {
  if (!e_.main_ || e_.main_->Count() == 0) return;
  int64_t first = (*e_.main_)[0].RelativeOffset;
  if (first <= 0) return;
  // A stub in front: keep it byte for byte, and keep counting offsets as the old archive
  // did, from the file's start (adjusted) or from the end of the stub (a walked archive).
  prefix_ = first;
  offsetBase_ = e_.rebuilt_ ? uint64_t(first) : 0;
  e_.stream_->Seek(0, soFromBeginning);
  if (!copyBytes(*e_.stream_, *out_, prefix_))
    throw EFatalUnzipError("Premature end of file reached");
}

void TZipEngine::TZipRun::merge() {
  auto& list = e_.FilesList;
  std::vector<bool> used(list.size(), false);
  const int64_t archiveSize = e_.stream_->Size();  // the old archive is only read
  // Each string's stored name is worked out once; every entry looks its own up.
  if (!e_.removing_)
    for (size_t i = 0; i < list.size(); ++i) byName_[storedPathOf(list[i])].push_back(i);
  // The catalogue keeps listing its entries while they are written.
  lent_ = e_.main_->Lend();
  lentState_.reserve(lent_.size());
  for (size_t k = 0; k < lent_.size(); ++k) {
    e_.CheckCancel();
    std::unique_ptr<TZipHeaderInfo>& entry = lent_[k];
    const bool walked = entry->CentralHeaderPos == 0 && entry->VersionMadeBy == 0;
    if (walked || entry->HasLocalExtra()) lentWhole_.emplace(k, *entry);
    lentState_.push_back({entry->RelativeOffset, entry->ExtraFieldLength, entry->LocalZip64()});
    bool keepIt = true;
    size_t match = list.size();
    std::string key;
    bool sought = false;
    if (e_.removing_) {
      for (size_t i = 0; i < list.size() && match == list.size(); ++i)
        if (!used[i] && matchesForRemoval(list[i], *entry)) match = i;
    } else if (e_.StreamedSource >= 0 && entry->NameKey() == e_.StreamedName) {
      keepIt = false;  // the streamed entry, written after the files, takes its place
    } else if (auto it = byName_.find(key = entry->NameKey()); it != byName_.end()) {
      sought = true;
      for (size_t i : it->second)
        if (!used[i]) {
          match = i;
          break;
        }
    }
    if (match < list.size()) {
      const std::string s = list[match];
      if (e_.removing_) {
        bool skip = false;
        if (e_.OnDeleteEntry) e_.OnDeleteEntry(e_, entry->FullName(), skip);
        if (skip) {
          used[match] = true;
        } else {
          keepIt = false;
          if (!HasWildcards(s) || isLiteral(s)) used[match] = true;
        }
      } else {
        used[match] = true;
        // A replacement that cannot be made leaves the old entry as it was.
        if (replaceIsDue(s, *entry) && compressOne(s)) keepIt = false;
      }
    }
    if (keepIt && copyUnchanged(*entry, archiveSize))
      keep(std::move(entry), sought ? &key : nullptr);
  }
  size_t left = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (used[i]) continue;
    if (left != i) list[left] = std::move(list[i]);
    ++left;
  }
  list.resize(left);
}

bool TZipEngine::TZipRun::replaceIsDue(const std::string& path, const TZipHeaderInfo& entry) const {
  if (e_.ZipAction == zaReplace) return true;
  struct stat st;
  const bool known = (e_.StoreLinks ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st)) == 0;
  // Times in UTC compare exactly, whatever the time zone the archive was made in.
  if (entry.ModTimeUtc && known) return *entry.ModTimeUtc < int64_t(st.st_mtime);
  TDateTime now = Now();
  TDateTime fileDate = DosDateTimeOr(
      RepairDosDateTime(known ? files::DosDateTimeFromTime(st.st_mtime).value_or(0xFFFFFFFF)
                              : 0xFFFFFFFF),
      now);
  TDateTime entryDate = DosDateTimeOr(entry.LastModFileDateTime, now);
  return entryDate < fileDate;
}

void TZipEngine::TZipRun::giveBack() noexcept {
  if (lent_.empty() || !e_.main_) return;
  try {
    std::unordered_map<const TZipHeaderInfo*, size_t> where;
    where.reserve(lent_.size());
    for (size_t k = 0; k < lent_.size(); ++k) where.emplace(e_.main_->Items(int(k)), k);
    for (auto& entry : entries_.TakeAll()) {
      auto it = entry ? where.find(entry.get()) : where.end();
      if (it != where.end()) lent_[it->second] = std::move(entry);
    }
    for (size_t k = 0; k < lentState_.size(); ++k) {
      if (!lent_[k]) continue;
      TZipHeaderInfo& entry = *lent_[k];
      if (auto whole = lentWhole_.find(k); whole != lentWhole_.end()) {
        entry = whole->second;
        continue;
      }
      entry.RelativeOffset = lentState_[k].offset;
      entry.ExtraFieldLength = lentState_[k].extraLength;
      entry.LeaveLocalExtraToCaller(lentState_[k].localZip64);
    }
  } catch (...) {
    // Only out of memory gets here; what was gathered back still goes back.
  }
  e_.main_->TakeBack(std::move(lent_));
}

void TZipEngine::TZipRun::keep(std::unique_ptr<TZipHeaderInfo>&& entry, std::string* key) {
  const TZipHeaderInfo* kept = entry.get();
  entries_.Add(std::move(entry));
  if (key) names_.insert_or_assign(std::move(*key), kept);
  ++end_.TotalEntries;
}

const TZipHeaderInfo* TZipEngine::TZipRun::written(const std::string& key) const {
  if (auto it = names_.find(key); it != names_.end()) return it->second;
  if (!updating_ || byName_.count(key)) return nullptr;
  // A source whose name came out otherwise than when the sources were matched (it changed
  // in between) may still meet a copied entry: look among all of them, latest first.
  for (int i = entries_.Count(); i-- > 0;)
    if (entries_[i].NameKey() == key) return entries_.Items(i);
  return nullptr;
}

void TZipEngine::TZipRun::record(std::unique_ptr<TZipHeaderInfo> entry, const std::string& source) {
  ++count_;
  std::string key = entry->NameKey();
  keep(std::move(entry), &key);
  if (e_.Dispose && !fromStream_) disposeList_.push_back(source);
}

bool TZipEngine::TZipRun::copyUnchanged(TZipHeaderInfo& entry, int64_t archiveSize) {
  TStream& in = *e_.stream_;
  const auto span = ReadLocalSpan(in, entry.RelativeOffset);
  const bool readable = span.has_value();
  const int64_t dataStart = int64_t(entry.RelativeOffset) + int64_t(kLocalHeaderSize) +
                            (readable ? span->nameLength : 0);
  const uint16_t extra = readable ? span->extraLength : 0;
  const bool localZip64 = readable && LocalHeaderHasZip64(in, int64_t(entry.RelativeOffset), *span);
  // A size no file can hold is taken as the file's size: past its end either way.
  int64_t end = dataStart + extra + int64_t(std::min<uint64_t>(entry.CompressedSize, uint64_t(archiveSize)));
  int64_t descriptor = 0;
  if (readable && entry.HasDataDescriptor() && end + 4 <= archiveSize)
    descriptor = DataDescriptorLength(in, end, localZip64);
  if (!readable || end + descriptor > archiveSize) {
    std::string why = readable ? "its data runs past the end of the archive"
                               : "its local header cannot be read";
    if (!e_.repairTarget_.empty()) {
      refuse(entry.FullName(), why);  // a repair writes every entry it can
      return false;
    }
    throw EFatalUnzipError("\"" + entry.FullName() + "\" cannot be copied: " + why);
  }
  // An entry written earlier by this engine still holds the extra field it made.
  entry.LeaveLocalExtraToCaller(localZip64);
  entry.ExtraFieldLength = extra;
  if (entry.CentralHeaderPos == 0 && entry.VersionMadeBy == 0) {
    // Found by walking the local headers: it gets what the writer gives a new entry, with
    // the permissions a new file or folder usually has. A name in a DOS code page keeps a
    // DOS host, or readers on Linux would show it garbled.
    const std::string name = entry.StoredName();
    const bool dosName = !(entry.BitFlag & kFlagUtf8) &&
                         std::any_of(name.begin(), name.end(), [](char c) { return c & 0x80; });
    if (dosName) {
      entry.VersionMadeBy = 20;
      entry.ExternalAttributes = entry.IsFolder() ? kAttrDirectory : kAttrArchive;
    } else {
      entry.SetUnixAttributes(entry.IsFolder() ? S_IFDIR | 0755 : S_IFREG | 0644);
    }
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
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;  // gone since gathering
  const bool link = S_ISLNK(st.st_mode) && e_.StoreLinks;
  if (!link && ::stat(path.c_str(), &st) != 0) {
    refuse(path, "it is a symbolic link to nothing");
    return false;
  }
  const bool folder = S_ISDIR(st.st_mode);
  if (folder && !isEmptyFolder(path)) {
    // A folder stands for its files, which a wildcard or recursion gathers; only an empty
    // one is kept as an entry of its own.
    refuse(path, "it is a folder");
    return false;
  }
  if (!folder && !link && !S_ISREG(st.st_mode)) {
    refuse(path, "it is not a regular file");
    return false;
  }
  if (!folder && !link &&
      (fileIdOf(path) == outId_ ||
       (updating_ && fileIdOf(path) == fileIdOf(e_.zipName_) && outName_ == e_.zipName_))) {
    refuse(path, "it is the archive being written");
    return false;
  }
  const std::string name = storedPath(path, folder);
  if (name.empty()) return false;  // the base folder itself: nothing to name
  try {
    if (link) {
      std::string target(size_t(st.st_size) + 1, '\0');
      ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
      if (n < 0)
        throw EStreamError("Cannot read the link \"" + path + "\". " + std::strerror(errno));
      target.resize(size_t(n));
      st.st_size = n;
      source_ = std::make_unique<TStringSource>(target);
    } else if (folder) {
      source_ = std::make_unique<TStringSource>(std::string());
    } else {
      source_ = std::make_unique<TFileStream>(path, TOpenMode::Read);
    }
  } catch (const EStreamError& err) {
    refuse(path, err.what());
    return false;
  }
  struct SourceCloser {
    std::unique_ptr<TStream>& s;
    ~SourceCloser() { s.reset(); }
  } closer{source_};

  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->SetUnixAttributes(st.st_mode);
  entry->LastModFileDateTime = files::DosDateTimeFromTime(st.st_mtime).value_or(0);
  entry->SetModTime(st.st_mtime);
  entry->UncompressedSize = uint64_t(st.st_size);
  if (entry->UncompressedSize >= kZip64SourceFrom) entry->ReserveLocalZip64();
  sourceSize_ = st.st_size;
  entry->SetStoredPath(name);
  entry->InternalAttributes = 2;
  entry->DiskNumberStart = 0;
  return storeNew(std::move(entry), path, folder);
}

bool TZipEngine::TZipRun::storeNew(std::unique_ptr<TZipHeaderInfo> entry, const std::string& path,
                                   bool folder) {
  if (const TZipHeaderInfo* other = written(entry->NameKey())) {
    // The handler may look the other entry up: the queries answer from the entries written.
    const int found = entries_.IndexOf(other);
    const TSortedZip* saved = e_.view_;
    e_.view_ = &entries_;
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
  if (folder) {
    // Nothing to compress: stored, empty, and never encrypted.
    entry->CompressionMethod = kMethodStored;
    entry->CRC32 = 0;
    entry->CompressedSize = entry->UncompressedSize = 0;
    entry->InternalAttributes = 0;
    entry->WriteLocalHeader(*out_);
  } else if (!(streaming_ ? writeStreamed(*entry, path, fromStream_)
                          : writeData(*entry, path, headerAt, spill))) {
    refuse(path, "it kept changing while it was being encrypted");
    return false;
  }
  if (sourceRead_ != sourceSize_ && !folder && !fromStream_ && e_.OnFileWarning)
    e_.OnFileWarning(e_, path,
                     "it changed size while it was being compressed (" +
                         std::to_string(sourceSize_) + " bytes when gathered, " +
                         std::to_string(sourceRead_) + " read and stored)");
  if (spill) copySpill(*spill, spill->Position());

  const int64_t csize = entry->CompressedSize, usize = entry->UncompressedSize;
  record(std::move(entry), path);
  if (e_.OnEndZip) e_.OnEndZip(e_, path, usize, csize, out_->Position());
  return true;
}

bool TZipEngine::TZipRun::writeData(TZipHeaderInfo& entry, const std::string& path,
                                    int64_t headerAt, std::unique_ptr<TLFNFileStream>& spill) {
  if (!e_.Password.empty() && e_.AesEncryption) return writeAesData(entry, path, headerAt, spill);
  encrypting_ = !e_.Password.empty();
  struct TEncryptingOff {
    bool& flag;
    ~TEncryptingOff() { flag = false; }
  } off{encrypting_};
  // The encryption header carries the CRC, which a first pass works out; a file that
  // changes between the passes is read again, a few times, before it is given up.
  bool store = e_.PackLevel <= 0;
  std::unique_ptr<TPrecompressed> ready = takeReady();
  for (int attempt = 0;; ++attempt) {
    out_->Seek(headerAt, soFromBeginning);
    if (spill) spill->Seek(0, soFromBeginning);
    bytesDone_ -= sourceRead_;
    sourceRead_ = 0;
    source_->Seek(0, soFromBeginning);
    entry.WriteLocalHeader(*out_);
    int64_t passSize = 0;
    if (encrypting_ && ready) {
      entry.CRC32 = ready->crc;
      passSize = int64_t(ready->bytesRead);
    } else if (encrypting_) {
      uint32_t crc = kCrcInit;
      std::vector<uint8_t> buf(kCopyBlock);
      size_t got;
      while ((got = source_->Read(buf.data(), buf.size())) > 0) {
        crc = UpdateCRC(crc, buf.data(), got);
        passSize += int64_t(got);
        e_.CheckCancel();
      }
      entry.CRC32 = ~crc;
      source_->Seek(0, soFromBeginning);
    }
    if (encrypting_) {
      TEncryptionHeader header = crypt_.MakeEncryptionHeader(e_.Password, entry.CRC32);
      sink_->Write(header.data(), header.size());
    }
    const uint32_t passCrc = entry.CRC32;
    crc_ = kCrcInit;
    TDeflateResult result = ready ? replay(*ready, store ? *ready->stored : *ready->deflated, *this)
                            : store ? CopyStored(*this)
                                    : encoder_->Deflate(*this, e_.PackLevel);
    const uint32_t crc = ~crc_;
    if (encrypting_ && (crc != passCrc || sourceRead_ != passSize)) {
      if (attempt < 2) continue;
      out_->Seek(headerAt, soFromBeginning);  // what was written is overwritten, or cut off
      return false;
    }
    // Data Deflate cannot shrink (already compressed, random) is stored instead, so an entry
    // never takes more room than its file; the output is rewritten from the local header.
    if (!store && result.Method != kMethodStored && result.CompressedSize > uint64_t(sourceRead_)) {
      store = true;
      --attempt;
      continue;
    }
    // Without room for Zip64 sizes the local header can only say what 32 bits hold.
    if (!entry.LocalZip64() &&
        (uint64_t(sourceRead_) >= kZip64Marker32 ||
         result.CompressedSize + (encrypting_ ? kEncryptionHeaderSize : 0) >= kZip64Marker32))
      throw EZipRefused("\"" + path + "\" grew past 4 GiB while it was being compressed");

    entry.CRC32 = crc;
    entry.UncompressedSize = uint64_t(sourceRead_);  // what was really read and stored
    entry.CompressionMethod = result.Method;
    entry.BitFlag = uint16_t(entry.BitFlag | result.Flags | (encrypting_ ? kFlagEncrypted : 0));
    entry.InternalAttributes = result.InternalAttributes;
    entry.CompressedSize =
        result.CompressedSize + (encrypting_ ? kEncryptionHeaderSize : 0);
    const int64_t written =
        spill ? spill->Position() : out_->Position() - headerAt - int64_t(entry.LocalSize());
    if (written != int64_t(entry.CompressedSize))
      throw EFatalUnzipError("The compressed size of \"" + path +
                             "\" disagrees with the bytes written");
    const int64_t after = out_->Position();
    out_->Seek(headerAt, soFromBeginning);
    entry.WriteLocalHeader(*out_);
    out_->Seek(after, soFromBeginning);
    return true;
  }
}

bool TZipEngine::TZipRun::writeAesData(TZipHeaderInfo& entry, const std::string& path,
                                       int64_t headerAt, std::unique_ptr<TLFNFileStream>& spill) {
  // AE-2: no CRC in the headers (it would tell about the plain text); the authentication
  // code vouches for the data. The real method is known after compressing; the field keeps
  // its length, so the local header is written again in place.
  auto aesBlock = [](uint16_t method) {
    auto b = MakeAesField({2, TAesStrength::Aes256, method});
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
  };
  entry.CompressionMethod = kMethodAes;
  entry.CRC32 = 0;
  entry.VersionNeeded = std::max<uint16_t>(entry.VersionNeeded, 51);
  // As without AES: level 0 stores, and what Deflate would enlarge is written again stored.
  bool store = e_.PackLevel <= 0;
  std::optional<TAesEncodeIO> aes;
  TDeflateResult result;
  std::unique_ptr<TPrecompressed> ready = takeReady();
  for (;;) {
    out_->Seek(headerAt, soFromBeginning);
    if (spill) spill->Seek(0, soFromBeginning);
    bytesDone_ -= sourceRead_;
    sourceRead_ = 0;
    source_->Seek(0, soFromBeginning);
    entry.SetExtraBlock(aesBlock(kMethodDeflated));
    entry.WriteLocalHeader(*out_);
    aes.emplace(*this, e_.Password, TAesStrength::Aes256);
    aes->Begin();
    result = ready   ? replay(*ready, store ? *ready->stored : *ready->deflated, *aes)
             : store ? CopyStored(*aes)
                     : encoder_->Deflate(*aes, e_.PackLevel);
    aes->Finish();
    if (store || result.Method == kMethodStored || result.CompressedSize <= uint64_t(sourceRead_))
      break;
    store = true;
  }
  if (!entry.LocalZip64() && (uint64_t(sourceRead_) >= kZip64Marker32 ||
                              result.CompressedSize + aes->Overhead() >= kZip64Marker32))
    throw EZipRefused("\"" + path + "\" grew past 4 GiB while it was being compressed");
  entry.UncompressedSize = uint64_t(sourceRead_);
  entry.SetExtraBlock(aesBlock(result.Method));
  entry.BitFlag = uint16_t(entry.BitFlag | result.Flags | kFlagEncrypted);
  entry.InternalAttributes = result.InternalAttributes;
  entry.CompressedSize = result.CompressedSize + aes->Overhead();
  const int64_t written =
      spill ? spill->Position() : out_->Position() - headerAt - int64_t(entry.LocalSize());
  if (written != int64_t(entry.CompressedSize))
    throw EFatalUnzipError("The compressed size of \"" + path + "\" disagrees with the bytes written");
  const int64_t after = out_->Position();
  out_->Seek(headerAt, soFromBeginning);
  entry.WriteLocalHeader(*out_);
  out_->Seek(after, soFromBeginning);
  return true;
}

bool TZipEngine::TZipRun::compressStreamed() {
  fromStream_ = true;
  struct TFromStreamOff {
    bool& flag;
    ~TFromStreamOff() { flag = false; }
  } off{fromStream_};
  if (e_.StreamedName.empty() || e_.StreamedName.back() == '/')
    throw EZipRefused("The entry read from standard input needs a file name");
  sourceRead_ = 0;
  sourceSize_ = 0;  // unknown
  const int fd = ::dup(e_.StreamedSource);
  if (fd < 0) throw EFOpenError(std::string("Cannot read standard input: ") + std::strerror(errno));
  auto input = std::make_unique<TFileStream>(fd, "standard input");
  TScratchFile spooled;
  bool sizeUnknown = streaming_;
  if (streaming_) {
    source_ = std::move(input);
  } else {
    // A seekable archive may read its source twice (the CRC for the encryption header, or
    // storing what Deflate enlarged): a copy on disk can be.
    spooled.path = files::TempFileName(tempFolder(), "QLZ");
    {
      TLFNFileStream copy(spooled.path, TOpenMode::Create);
      std::vector<uint8_t> buf(kCopyBlock);
      size_t got;
      while ((got = input->Read(buf.data(), buf.size())) > 0) {
        copy.Write(buf.data(), got);
        e_.CheckCancel();
      }
      copy.Close();
    }
    source_ = std::make_unique<TFileStream>(spooled.path, TOpenMode::Read);
    sourceSize_ = source_->Size();
  }
  struct SourceCloser {
    std::unique_ptr<TStream>& s;
    ~SourceCloser() { s.reset(); }
  } closer{source_};
  const time_t now = ::time(nullptr);
  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->SetUnixAttributes(S_IFREG | 0644);
  entry->LastModFileDateTime = files::DosDateTimeFromTime(now).value_or(0);
  entry->SetModTime(now);
  entry->UncompressedSize = uint64_t(sourceSize_);
  if (sizeUnknown || entry->UncompressedSize >= kZip64SourceFrom) entry->ReserveLocalZip64();
  entry->SetStoredPath(e_.StreamedName);
  entry->InternalAttributes = 2;
  totalBytes_ += sourceSize_;
  return storeNew(std::move(entry), "-", false);
}

bool TZipEngine::TZipRun::writeStreamed(TZipHeaderInfo& entry, const std::string& path,
                                        bool sizeUnknown) {
  const bool aes = !e_.Password.empty() && e_.AesEncryption;
  encrypting_ = !e_.Password.empty() && !aes;
  struct TEncryptingOff {
    bool& flag;
    ~TEncryptingOff() { flag = false; }
  } off{encrypting_};
  const bool store = e_.PackLevel <= 0;
  const int level = std::clamp(e_.PackLevel, 1, 9);
  // Headers say no CRC and no sizes; they follow the data. What Deflate would enlarge cannot
  // be written again stored, but the encoder stores such blocks (or a one-block entry) itself.
  if (sizeUnknown) entry.ReserveLocalZip64();
  entry.CRC32 = 0;
  entry.CompressedSize = entry.UncompressedSize = 0;
  entry.BitFlag = uint16_t(entry.BitFlag | kFlagDataDescriptor |
                           (store        ? 0
                            : level <= 2 ? 4
                            : level >= 8 ? 2
                                         : 0) |
                           (e_.Password.empty() ? 0 : kFlagEncrypted));
  if (aes) {
    entry.CompressionMethod = kMethodAes;
    entry.VersionNeeded = std::max<uint16_t>(entry.VersionNeeded, 51);
  }
  TStreamedEntry data(*out_, store ? kMethodStored : kMethodDeflated, [&](uint16_t method) {
    if (aes) {
      auto b = MakeAesField({2, TAesStrength::Aes256, method});
      entry.SetExtraBlock(std::string(reinterpret_cast<const char*>(b.data()), b.size()));
    } else {
      entry.CompressionMethod = method;
    }
    entry.WriteLocalHeader(*out_);
  });
  sink_ = &data;
  struct TSinkBack {
    TStream*& sink;
    TStream* out;
    ~TSinkBack() { sink = out; }
  } back{sink_, out_.get()};
  crc_ = kCrcInit;
  uint64_t overhead = 0;
  TDeflateResult result;
  if (aes) {
    TAesEncodeIO io(*this, e_.Password, TAesStrength::Aes256);
    io.Begin();
    result = store ? CopyStored(io) : encoder_->Deflate(io, level);
    io.Finish();
    overhead = io.Overhead();
  } else {
    if (encrypting_) {
      // The CRC is not known in advance: the header's check bytes are the time's, as readers
      // expect of an entry whose CRC follows its data.
      const TEncryptionHeader header =
          crypt_.MakeEncryptionHeader(e_.Password, (entry.LastModFileDateTime & 0xFFFF) << 16);
      sink_->Write(header.data(), header.size());
      overhead = kEncryptionHeaderSize;
    }
    result = store ? CopyStored(*this) : encoder_->Deflate(*this, level);
  }
  // A header still held back is written by Finish: it must keep saying no CRC and sizes.
  const uint32_t crc = aes ? 0 : ~crc_;
  const uint64_t usize = uint64_t(sourceRead_), csize = result.CompressedSize + overhead;
  if (!entry.LocalZip64() && (usize >= kZip64Marker32 || csize >= kZip64Marker32))
    throw EZipRefused("\"" + path + "\" grew past 4 GiB while it was being compressed");
  data.Finish(result.Method, crc, csize, usize, entry.LocalZip64());
  entry.CRC32 = crc;
  entry.UncompressedSize = usize;
  entry.CompressedSize = csize;
  entry.InternalAttributes = result.InternalAttributes;
  if (data.Taken() != entry.CompressedSize)
    throw EFatalUnzipError("The compressed size of \"" + path +
                           "\" disagrees with the bytes written");
  return true;
}

std::unique_ptr<TPrecompressed> TZipEngine::TZipRun::takeReady() {
  if (!ahead_ || slot_ == std::string::npos) return nullptr;
  auto made = ahead_->Take(slot_, [this] { e_.CheckCancel(); });
  // The file must be the one the worker read, unchanged since: the writer's open copy is
  // what it would have compressed itself. A handler may also have changed the level.
  const auto* file = dynamic_cast<const TFileStream*>(source_.get());
  if (!made || !file || made->level != e_.PackLevel || IdentityOf(file->Handle()) != made->identity)
    return nullptr;
  const bool enlarged = made->deflated && !made->deflated->dataKept;
  if (made->level <= 0 ? !made->stored : !made->deflated || (enlarged && !made->stored))
    return nullptr;
  return made;
}

TDeflateResult TZipEngine::TZipRun::replay(const TPrecompressed& made, const TEncodedPass& pass,
                                           TEncodeIO& sink) {
  size_t at = 0;
  for (const int32_t step : pass.steps) {
    if (step > 0) {
      counted(size_t(step));
      continue;
    }
    const size_t n = size_t(-int64_t(step));
    if (pass.dataKept)
      sink.Write(pass.data.data() + at, n);
    else
      e_.CheckCancel();  // bytes the stored pass overwrites
    at += n;
  }
  crc_ = ~made.crc;
  return pass.result;
}

void TZipEngine::TZipRun::counted(size_t got) {
  sourceRead_ += int64_t(got);
  bytesDone_ += int64_t(got);
  if (e_.OnFilePercentDone) e_.OnFilePercentDone(e_, PercentOf(sourceSize_, sourceRead_));
  if (e_.OnTotalPercentDone) e_.OnTotalPercentDone(e_, TotalPercentOf(bytesDone_, totalBytes_));
}

size_t TZipEngine::TZipRun::Read(uint8_t* buf, size_t count) {
  size_t got = source_->Read(buf, count);
  if (got == 0) return 0;
  crc_ = UpdateCRC(crc_, buf, got);
  counted(got);
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
  int64_t size = 0;
  end_.CentralDirOffset = uint64_t(out_->Position()) - offsetBase_;
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
    const uint64_t offset = entry.RelativeOffset;
    entry.RelativeOffset = offset - offsetBase_;
    entry.WriteCentralHeader(*out_);
    entry.RelativeOffset = offset;
    size += out_->Position() - before;
    ++onThisDisk;
  }
  end_.CentralDirSize = uint64_t(size);
  end_.TotalEntries = uint64_t(entries_.Count());
  end_.EntriesThisDisk = uint64_t(onThisDisk);
  // The Zip64 records, when needed, stand on the volume of the end record, just before it.
  const size_t zip64 = end_.NeedsZip64() ? kZip64EndRecordSize + kZip64LocatorSize : 0;
  const int startDisk = disk_;
  makeRoom(int64_t(zip64 + kEndRecordSize + end_.StoredComment().size()), "the end record");
  if (disk_ != startDisk) onThisDisk = 0;
  end_.NumberOfThisDisk = uint16_t(disk_);
  end_.EntriesThisDisk = uint64_t(onThisDisk);
  end_.WriteEndRecord(*out_, uint64_t(out_->Position()) - offsetBase_);
  labelDisk();
}

void TZipEngine::TZipRun::finish() {
  encoder_.reset();
  if (streaming_) {
    out_->Close();  // our copy of the descriptor; the caller's stays open
    out_.reset();
    succeeded_ = true;
    for (const std::string& path : disposeList_) {
      bool skip = false;
      if (e_.OnDisposeFile) e_.OnDisposeFile(e_, path, skip);
      if (!skip) ::unlink(path.c_str());
    }
    return;
  }
  // An entry written again (a source that changed under encryption) may have left bytes
  // past the end record.
  out_->Flush();
  if (::ftruncate(out_->Handle(), off_t(out_->Position())) != 0)
    throw EInOutError("Cannot finish \"" + outName_ + "\": " + std::strerror(errno));
  out_->Sync();
  out_->Close();
  out_.reset();
  const std::string name = e_.zipName_;
  if (updating_) {
    e_.stream_.reset();
    const std::string target =
        e_.repairTarget_.empty() ? target_ : files::ResolveLinks(e_.repairTarget_);
    ReplaceFileAtomically(outName_, target);
  } else if (mode_ == mmNone) {
    ReplaceFileAtomically(outName_, target_);
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
  e_.damage_.clear();  // what was found is now written whole
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
    // The repaired archive goes to a new file, which only a save dialog lets the user name.
    const auto& select = Host.SelectSaveFile ? Host.SelectSaveFile : Host.SelectOpenFile;
    std::optional<std::string> picked;
    if (select)
      picked = select("Select a new name for the fixed file.", "Zip Files (*.ZIP)|*.zip", folder);
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
