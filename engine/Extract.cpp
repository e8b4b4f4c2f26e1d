// Extraction: selection, destination paths, overwriting, passwords, decompression into a
// temporary file beside the destination, CRC check, date, permissions and links, events.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <optional>

#include "engine/Crc32.h"
#include "engine/Errors.h"
#include "engine/ExtractPath.h"
#include "engine/Placement.h"
#include "engine/UnZipEngine.h"
#include "engine/WildMatch.h"
#include "engine/ZipCrypt.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "engine/codecs/AesDecodeIO.h"
#include "engine/codecs/Methods.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

constexpr size_t kBlock = 16000;

// Raised by the output when a decoder produces more than the entry declares.
struct TOutputOverflow {};

// A link's target is a path: anything longer is no link of a real file system.
constexpr uint32_t kLongestLinkTarget = 4095;

// The moment an entry was last changed: its UTC time when it carries one, else its DOS
// date-time read as local time; nothing for an impossible DOS value.
std::optional<time_t> entryMoment(const TZipHeaderInfo& e) {
  if (e.ModTimeUtc) return time_t(*e.ModTimeUtc);
  return files::TimeFromDosDateTime(e.LastModFileDateTime);
}

// Permissions for an extracted file or folder: the Unix mode of an entry made on a Unix
// host (never set-user, set-group or sticky), else read-only from the DOS bit.
std::optional<mode_t> entryMode(const TZipHeaderInfo& e, bool folder) {
  if (auto mode = e.UnixMode()) return mode_t(*mode & 0777);
  if (!folder && (e.ExternalAttributes & kAttrReadOnly)) {
    static const mode_t mask = [] {
      mode_t m = ::umask(0);
      ::umask(m);
      return m;
    }();
    return mode_t(0666 & ~mask & 0555);
  }
  return std::nullopt;
}

}  // namespace

class TUnZipEngine::TExtractRun : public TDecodeIO {
 public:
  explicit TExtractRun(TUnZipEngine& engine) : e_(engine), in_(kBlock + 1), out_(kBlock + 1) {}

  int Run();

  bool Refill() override;
  void Output(const uint8_t* data, size_t n) override;
  void FlushOutput() override;

 private:
  // Writes, checksums and counts n decoded bytes.
  void emit(const uint8_t* data, size_t n);
  void select();
  void extractOne(int index, bool& retry);
  // Reads the 12-byte encryption header and runs the password loop; false to give up.
  bool checkPassword(int index);
  // The same for an AES-encrypted entry: salt, verifier, and the password loop.
  bool checkAesPassword(int index, const TAesField& field);
  bool overwriteAllowed(int index, const TExtractPath& where, std::string& path);
  void decompress();
  void giveUp(TSkipReason reason, int index, const std::string& why);
  void placeFolder(int index, const TExtractPath& where);
  std::string passwordTrouble() const {
    return e_.Password.empty() ? "no password given" : "wrong password";
  }

  TUnZipEngine& e_;
  std::vector<uint8_t> in_, out_;
  size_t outFill_ = 0;
  int64_t totalBytes_ = 0, totalDone_ = 0;
  int count_ = 0;

  // The entry being extracted.
  TZipHeaderInfo cur_;
  int64_t remaining_ = 0;  // compressed bytes still to read from the archive
  uint64_t written_ = 0;
  uint32_t crc_ = 0xFFFFFFFF;
  bool decrypting_ = false;
  bool truncated_ = false;
  bool overflow_ = false;
  bool damaged_ = false;  // the decoder met data it cannot decode
  TZipCrypt crypt_;
  TDecodeFn decode_ = nullptr;
  std::optional<TAesDecodeIO> aes_;  // between the stored bytes and the decoder, when AES
  std::optional<TPlacement> place_;  // none when only testing
  std::unique_ptr<TPlacedFile> file_;
  std::string writeError_;
  std::string* linkTarget_ = nullptr;  // a link's data goes here instead of a file
};

int TUnZipEngine::ExtractEntries() {
  cancel_ = false;
  lastError_.clear();
  OpenArchive();
  TExtractRun run(*this);
  int count = run.Run();
  CloseArchive();
  return count;
}

int TUnZipEngine::TExtractRun::Run() {
  if (!e_.TestOnly) place_.emplace(e_.destDir_);
  // A spanned set is read in volume order, whatever the listing's order.
  const TZipSortMode remembered = e_.sortMode_;
  const bool resort = e_.endRecord_.NumberOfThisDisk > 0 && remembered != ByNone;
  if (resort) e_.SortCatalogue(ByNone);
  try {
    select();
    bool stop = false;
    if (e_.OnStartUnZipInfo) e_.OnStartUnZipInfo(e_, count_, totalBytes_, stop);
    if (count_ > 0 && !stop) {
      for (int i = 0; i < e_.Count(); ++i) {
        if (!e_.DoAll && !e_.view()->Items(i)->MarkedForRun) continue;
        bool retry;
        do extractOne(i, retry);
        while (retry);
      }
    }
  } catch (...) {
    if (place_) place_->Finish();
    if (resort) e_.SortCatalogue(remembered);
    throw;
  }
  if (place_) place_->Finish();
  if (resort) e_.SortCatalogue(remembered);
  return count_;
}

void TUnZipEngine::TExtractRun::select() {
  const std::set<std::string> exact(e_.SelectedNames.begin(), e_.SelectedNames.end());
  count_ = e_.Count();
  for (int i = 0; i < e_.Count(); ++i) {
    TZipHeaderInfo& entry = *e_.view()->Items(i);
    entry.MarkedForRun = e_.DoAll;
    if (entry.IsFolder() && !e_.RecreateDirs) {
      entry.MarkedForRun = false;
    } else if (!exact.empty()) {
      if (!entry.MarkedForRun) entry.MarkedForRun = exact.count(entry.FullName()) > 0;
    } else {
      for (const std::string& line : e_.FilesList) {
        if (entry.MarkedForRun) break;
        std::string candidate =
            line.find('\\') != std::string::npos ? entry.FullName() : entry.Filename();
        if (MatchesPattern(line, candidate, e_.PatternsIgnoreCase)) entry.MarkedForRun = true;
      }
    }
    if (entry.MarkedForRun)
      totalBytes_ += entry.UncompressedSize;
    else
      --count_;
  }
}

void TUnZipEngine::TExtractRun::giveUp(TSkipReason reason, int index, const std::string& why) {
  e_.lastError_ = why;
  if (e_.OnSkippingFile) e_.OnSkippingFile(e_, reason, index);
  --count_;
}

void TUnZipEngine::TExtractRun::extractOne(int index, bool& retry) {
  retry = false;
  e_.lastError_.clear();
  cur_ = *e_.view()->Items(index);
  const bool folderEntry = cur_.IsFolder();
  const bool link = !folderEntry && cur_.IsSymlink();

  // A folder has no data; one that claims some is checked like a file.
  if (!folderEntry || cur_.CompressedSize > 0) {
    if (e_.endRecord_.NumberOfThisDisk > 0 && cur_.DiskNumberStart != e_.currentVolume_)
      e_.RequestDisk(cur_.DiskNumberStart + 1);
    auto span = ReadLocalSpan(*e_.stream_, cur_.RelativeOffset);
    if (!span) {
      giveUp(skDamaged, index, "its local header cannot be read");
      return;
    }
    e_.stream_->Seek(span->nameLength + span->extraLength, soFromCurrent);
    // A single file holds all of an entry's data; a volume of a set may not.
    if (e_.endRecord_.NumberOfThisDisk == 0 && e_.MultiMode() == mmNone &&
        cur_.CompressedSize > uint64_t(e_.stream_->Size() - e_.stream_->Position())) {
      giveUp(skDamaged, index, "its data runs past the end of the archive");
      return;
    }
  }

  TExtractPath where = BuildExtractPath(e_.destDir_, e_.rootDir_, e_.RecreateDirs,
                                        cur_.Directory(), cur_.Filename());
  if (where.unsafe && e_.OnUnsafePath) e_.OnUnsafePath(e_, index, cur_.FullName(), where.path);
  if (where.badName) {
    giveUp(skDamaged, index, "its name cannot be used as a file name");
    return;
  }
  if (folderEntry) {
    if (e_.RecreateDirs) placeFolder(index, where);
    return;
  }
  // An AES-encrypted entry names its real method in its AES extra field.
  aes_.reset();
  std::optional<TAesField> aesField;
  uint16_t method = cur_.CompressionMethod;
  if (method == kMethodAes) {
    const std::string& extra = cur_.CentralExtra();
    aesField = ParseAesField({reinterpret_cast<const uint8_t*>(extra.data()), extra.size()});
    if (aesField) method = aesField->Method;
  }
  decode_ = MethodDecoder(method);
  if (!decode_ || (cur_.CompressionMethod == kMethodAes && !aesField)) {
    if (e_.Host.ShowMessage)
      e_.Host.ShowMessage("Unknown Compression Method: " + MethodName(method), "Zip Error",
                          TMsgButtons::OK);
    giveUp(skUnknownMethod, index, CannotReadMessage(method));
    return;
  }
  if (link && cur_.UncompressedSize > kLongestLinkTarget) {
    giveUp(skDamaged, index, "its link target is longer than any path");
    return;
  }

  // The byte source starts on the entry's data; the encryption header comes through it too,
  // so a set split inside the header still decrypts.
  remaining_ = cur_.CompressedSize;
  inPos = inEnd = nullptr;
  truncated_ = overflow_ = damaged_ = false;
  decrypting_ = false;
  UncompressedSize = cur_.UncompressedSize;
  BitFlag = cur_.BitFlag;
  if (aesField) {
    if (!checkAesPassword(index, *aesField)) return;
  } else if (cur_.Encrypted() && !checkPassword(index)) {
    return;
  }

  std::string path = where.path;
  if (place_ && place_->Placed(path)) {
    giveUp(skNotWritten, index, "another entry of the archive was already extracted to " + path);
    return;
  }
  if (place_ && !overwriteAllowed(index, where, path)) {
    giveUp(skNoOverwrite, index, "the file exists");
    return;
  }
  std::string target;  // a link's data
  writeError_.clear();
  try {
    if (place_ && !link)
      file_ = place_->Begin(path == where.path ? place_->Below(where, true) : TPlacement::At(path));
  } catch (const EInOutError& err) {
    giveUp(skNotWritten, index, err.what());
    return;
  }
  linkTarget_ = link ? &target : nullptr;
  written_ = 0;
  outFill_ = 0;
  crc_ = 0xFFFFFFFF;
  UncompressedSize = cur_.UncompressedSize;
  CompressedSize = cur_.CompressedSize - (cur_.Encrypted() ? uint32_t(kEncryptionHeaderSize) : 0);
  BitFlag = cur_.BitFlag;

  bool skip = false;
  if (e_.OnStartUnZip) e_.OnStartUnZip(e_, index, path, skip);
  if (skip) {
    file_.reset();
    return;
  }

  bool authentic = true;
  try {
    decompress();
    // The authentication code covers every stored byte: nothing is good before it matches.
    if (aes_) authentic = aes_->Finish() == TAesResult::Ok;
  } catch (const TOutputOverflow&) {
    overflow_ = true;
  }
  linkTarget_ = nullptr;

  const uint32_t calc = ~crc_;
  // AE-2 stores no CRC: the authentication code alone vouches for the data.
  const bool crcGood = calc == cur_.CRC32 || (aesField && !aesField->ChecksCrc());
  if (aes_ && !overflow_ && (!authentic || truncated_)) {
    file_.reset();
    giveUp(skDamaged, index,
           truncated_ ? "its data ends before the entry does"
                      : "its authentication code does not match: the data was changed after "
                        "it was encrypted");
    return;
  }
  if (!truncated_ && !overflow_ && !damaged_ && crcGood) {
    if (!writeError_.empty()) {
      file_.reset();
      giveUp(skNotWritten, index, writeError_);
      return;
    }
    try {
      const std::optional<mode_t> mode =
          e_.RetainAttributes ? entryMode(cur_, false) : std::nullopt;
      if (file_) place_->Commit(*file_, mode, entryMoment(cur_));
      if (place_ && link) place_->MakeLink(where, target, entryMoment(cur_));
    } catch (const EInOutError& err) {
      file_.reset();
      giveUp(skNotWritten, index, err.what());
      return;
    }
    file_.reset();
    if (e_.OnEndUnZip) e_.OnEndUnZip(e_, index, path);
    return;
  }
  file_.reset();

  e_.lastError_ = truncated_  ? "its data ends before the entry does"
                  : overflow_ ? "it holds more data than its header declares"
                  : damaged_  ? "its compressed data is damaged"
                              : "CRC error";
  if (cur_.Encrypted() && !aes_) {
    // A wrong password that passed the check byte decrypts to garbage.
    std::string answer = e_.Password;
    if (e_.OnBadPassword) e_.OnBadPassword(e_, index, answer);
    if (answer != e_.Password) {
      e_.Password = answer;
      retry = true;
      return;
    }
    giveUp(skBadPassword, index, passwordTrouble());
    return;
  }
  if (e_.OnBadCRC) e_.OnBadCRC(e_, calc, cur_.CRC32, index);
  --count_;
}

void TUnZipEngine::TExtractRun::placeFolder(int index, const TExtractPath& where) {
  // A folder named by a DOS folder bit or a folder mode has a name of its own.
  std::string relative = where.relative, shown = where.folder;
  if (!where.name.empty()) {
    relative += (relative.empty() ? "" : "/") + where.name;
    shown += where.name + "/";
  }
  if (place_) {
    try {
      place_->MakeFolder(relative, e_.RetainAttributes ? entryMode(cur_, true) : std::nullopt,
                         entryMoment(cur_));
    } catch (const EInOutError& err) {
      giveUp(skNotWritten, index, err.what());
      return;
    }
  }
  bool skip = false;
  if (e_.OnStartUnZip) e_.OnStartUnZip(e_, index, shown, skip);
}

bool TUnZipEngine::TExtractRun::checkPassword(int index) {
  uint8_t header[kEncryptionHeaderSize];
  for (auto& b : header) {
    if (NextByte(b) == 0) {
      giveUp(skDamaged, index, "its encryption header is cut short");
      return false;
    }
  }
  const uint8_t expected = ExpectedCheckByte(cur_.BitFlag, cur_.CRC32, cur_.LastModFileDateTime);
  for (;;) {
    crypt_.InitKeys(e_.Password);
    if (crypt_.DecryptHeader(header) == expected) break;
    std::string answer = e_.Password;
    if (e_.OnBadPassword) e_.OnBadPassword(e_, index, answer);
    if (!e_.OnBadPassword || answer == e_.Password) {
      giveUp(skBadPassword, index, passwordTrouble());
      return false;
    }
    e_.Password = answer;
  }
  // The rest of the buffer is data: decrypt it, and every later block as it is read.
  crypt_.DecryptBuffer(const_cast<uint8_t*>(inPos), size_t(inEnd - inPos));
  decrypting_ = true;
  return true;
}

bool TUnZipEngine::TExtractRun::overwriteAllowed(int index, const TExtractPath& where,
                                                 std::string& path) {
  if (e_.OverwriteMode == Always || !place_->Exists(where)) return true;
  if (e_.OverwriteMode == Never) return false;
  if (e_.OnPromptForOverwrite) {
    bool overwrite = false;
    e_.OnPromptForOverwrite(e_, overwrite, index, path);
    return overwrite;
  }
  if (!e_.Host.ShowMessage) return false;
  std::string text = ("Replace existing file " + cur_.Filename() + "?").substr(0, 255);
  return e_.Host.ShowMessage(text, "File Exists Alert", TMsgButtons::YesNo) == TMsgResult::Yes;
}

void TUnZipEngine::TExtractRun::decompress() {
  damaged_ = (aes_ ? decode_(*aes_) : decode_(*this)) != 0;
}

bool TUnZipEngine::TExtractRun::checkAesPassword(int index, const TAesField& field) {
  TAesDecodeIO& aes = aes_.emplace(*this, field, cur_.CompressedSize);
  if (aes.Start() != TAesResult::Ok) {
    giveUp(skDamaged, index, "its encryption header is cut short");
    return false;
  }
  while (aes.SetPassword(e_.Password) != TAesResult::Ok) {
    std::string answer = e_.Password;
    if (e_.OnBadPassword) e_.OnBadPassword(e_, index, answer);
    if (!e_.OnBadPassword || answer == e_.Password) {
      giveUp(skBadPassword, index, passwordTrouble());
      return false;
    }
    e_.Password = answer;
  }
  return true;
}

bool TUnZipEngine::TExtractRun::Refill() {
  if (remaining_ <= 0) return false;
  e_.CheckCancel();
  size_t len = size_t(std::min<int64_t>(remaining_, int64_t(kBlock)));
  remaining_ -= int64_t(len);
  size_t got = e_.stream_->Read(in_.data(), len);
  while (got < len) {
    if (e_.MultiMode() == mmNone || !e_.OnGetNextDisk) {
      truncated_ = true;
      remaining_ = 0;
      break;
    }
    e_.RequestDisk(e_.currentVolume_ + 2);
    size_t more = e_.stream_->Read(in_.data() + got, len - got);
    if (more == 0) {
      truncated_ = true;
      remaining_ = 0;
      break;
    }
    got += more;
  }
  if (decrypting_) crypt_.DecryptBuffer(in_.data(), got);
  inPos = in_.data();
  inEnd = inPos + got;
  return got > 0;
}

void TUnZipEngine::TExtractRun::Output(const uint8_t* data, size_t n) {
  if (written_ + outFill_ + n > cur_.UncompressedSize) throw TOutputOverflow();
  while (n > 0) {
    // Whole blocks go out from the decoder's own buffer, sparing a copy of every byte; the
    // blocks, and so the writes and events, are the same as through the buffer.
    if (outFill_ == 0 && n >= kBlock) {
      emit(data, kBlock);
      data += kBlock;
      n -= kBlock;
      continue;
    }
    size_t take = std::min(n, kBlock - outFill_);
    std::memcpy(out_.data() + outFill_, data, take);
    outFill_ += take;
    data += take;
    n -= take;
    if (outFill_ == kBlock) FlushOutput();
  }
}

void TUnZipEngine::TExtractRun::FlushOutput() {
  if (outFill_ == 0) return;
  const size_t n = outFill_;
  outFill_ = 0;
  emit(out_.data(), n);
}

void TUnZipEngine::TExtractRun::emit(const uint8_t* data, size_t n) {
  if (linkTarget_) linkTarget_->append(reinterpret_cast<const char*>(data), n);
  if (file_ && writeError_.empty()) {
    try {
      file_->Stream().Write(data, n);
    } catch (const EStreamError& err) {
      // A full disk fails this entry; decoding goes on, so the archive's own damage still
      // tells apart from ours.
      writeError_ = err.what();
    }
  }
  crc_ = UpdateCRC(crc_, data, n);
  written_ += n;
  totalDone_ += int64_t(n);
  if (e_.OnFilePercentDone) e_.OnFilePercentDone(e_, PercentOf(cur_.UncompressedSize, int64_t(written_)));
  if (e_.OnTotalPercentDone) e_.OnTotalPercentDone(e_, TotalPercentOf(totalDone_, totalBytes_));
}

}  // namespace quelt
