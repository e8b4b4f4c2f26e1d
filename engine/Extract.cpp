// Extraction: selection, destination paths, overwriting, passwords, decompression into a
// temporary file beside the destination, CRC check, date and attributes, events.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "engine/Crc32.h"
#include "engine/Errors.h"
#include "engine/ExtractPath.h"
#include "engine/FileOps.h"
#include "engine/Explode.h"
#include "engine/Inflate.h"
#include "engine/Unreduce.h"
#include "engine/Unshrink.h"
#include "engine/UnZipEngine.h"
#include "engine/WildMatch.h"
#include "engine/ZipCrypt.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

constexpr size_t kBlock = 16000;

// Raised by the output when a decoder produces more than the entry declares.
struct TOutputOverflow {};

bool isSupportedMethod(uint16_t method) {
  return method <= kMethodImploded || method == kMethodDeflated;
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
  void select();
  void extractOne(int index, bool& retry);
  // Reads the 12-byte encryption header and runs the password loop; false to give up.
  bool checkPassword(int index);
  bool overwriteAllowed(int index, std::string& path);
  void decompress();
  void giveUp(TSkipReason reason, int index, const std::string& why);

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
  std::unique_ptr<TFileStream> file_;
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
  if (!e_.destDir_.empty() && !e_.TestOnly) files::MakeFolders(e_.destDir_);
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
    if (resort) e_.SortCatalogue(remembered);
    throw;
  }
  if (resort) e_.SortCatalogue(remembered);
  return count_;
}

void TUnZipEngine::TExtractRun::select() {
  const std::set<std::string> exact(e_.SelectedNames.begin(), e_.SelectedNames.end());
  count_ = e_.Count();
  for (int i = 0; i < e_.Count(); ++i) {
    TZipHeaderInfo& entry = *e_.view()->Items(i);
    entry.MarkedForRun = e_.DoAll;
    if (entry.Filename().empty() && !e_.RecreateDirs) {
      entry.MarkedForRun = false;
    } else if (!exact.empty()) {
      if (!entry.MarkedForRun) entry.MarkedForRun = exact.count(entry.FullName()) > 0;
    } else {
      for (const std::string& line : e_.FilesList) {
        if (entry.MarkedForRun) break;
        std::string candidate =
            line.find('\\') != std::string::npos ? entry.FullName() : entry.Filename();
        if (WildcardMatch(LowerAZ(line), LowerAZ(candidate))) entry.MarkedForRun = true;
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
  const bool folderEntry = cur_.Filename().empty();

  if (!folderEntry) {
    if (e_.endRecord_.NumberOfThisDisk > 0 && cur_.DiskNumberStart != e_.currentVolume_)
      e_.RequestDisk(cur_.DiskNumberStart + 1);
    auto span = ReadLocalSpan(*e_.stream_, cur_.RelativeOffset);
    if (!span) {
      giveUp(skDamaged, index, "its local header cannot be read");
      return;
    }
    e_.stream_->Seek(span->nameLength + span->extraLength, soFromCurrent);
  }

  TExtractPath where = BuildExtractPath(e_.destDir_, e_.rootDir_, e_.RecreateDirs,
                                        cur_.Directory(), cur_.Filename());
  if (where.unsafe && e_.OnUnsafePath) e_.OnUnsafePath(e_, index, cur_.FullName(), where.path);
  if (where.badName) {
    giveUp(skDamaged, index, "its name cannot be used as a file name");
    return;
  }
  if (folderEntry) {
    if (e_.RecreateDirs) {
      if (!e_.TestOnly) files::MakeFolders(where.folder);
      bool skip = false;
      if (e_.OnStartUnZip) e_.OnStartUnZip(e_, index, where.folder, skip);
    }
    return;
  }
  if (!isSupportedMethod(cur_.CompressionMethod)) {
    if (e_.Host.ShowMessage)
      e_.Host.ShowMessage("Unknown Compression Method", "Zip Error", TMsgButtons::OK);
    giveUp(skUnknownMethod, index,
           "compression method " + std::to_string(cur_.CompressionMethod) + " is not supported");
    return;
  }

  // The byte source starts on the entry's data; the encryption header comes through it too,
  // so a set split inside the header still decrypts.
  remaining_ = cur_.CompressedSize;
  inPos = inEnd = nullptr;
  truncated_ = overflow_ = damaged_ = false;
  decrypting_ = false;
  if (cur_.Encrypted() && !checkPassword(index)) return;

  std::string path = where.path;
  if (!e_.TestOnly && !overwriteAllowed(index, path)) {
    giveUp(skNoOverwrite, index, "the file exists");
    return;
  }
  TScratchFile temp;  // the output, until it is put in place
  if (!e_.TestOnly) {
    files::MakeFolders(where.folder);
    temp.path = MakeTempFile(FolderOf(path), "QLZ");
    file_ = std::make_unique<TFileStream>(temp.path, TOpenMode::ReadWrite);
  }
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

  try {
    decompress();
  } catch (const TOutputOverflow&) {
    overflow_ = true;
  }
  if (file_) {
    file_->Close();
    file_.reset();
  }

  const uint32_t calc = ~crc_;
  if (!truncated_ && !overflow_ && !damaged_ && calc == cur_.CRC32) {
    if (!e_.TestOnly) {
      (void)files::SetFileDosDateTime(temp.path, cur_.LastModFileDateTime);
      if (e_.RetainAttributes) (void)files::ApplyDosAttributes(temp.path, uint8_t(cur_.ExternalAttributes));
      RenameOver(temp.path, path);
      temp.path.clear();
    }
    if (e_.OnEndUnZip) e_.OnEndUnZip(e_, index, path);
    return;
  }

  e_.lastError_ = truncated_  ? "its data ends before the entry does"
                  : overflow_ ? "it holds more data than its header declares"
                  : damaged_  ? "its compressed data is damaged"
                              : "CRC error";
  if (cur_.Encrypted()) {
    // A wrong password that passed the check byte decrypts to garbage.
    std::string answer = e_.Password;
    if (e_.OnBadPassword) e_.OnBadPassword(e_, index, answer);
    if (answer != e_.Password) {
      e_.Password = answer;
      retry = true;
      return;
    }
    giveUp(skBadPassword, index, "wrong password");
    return;
  }
  if (e_.OnBadCRC) e_.OnBadCRC(e_, calc, cur_.CRC32, index);
  --count_;
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
      giveUp(skBadPassword, index, "wrong password");
      return false;
    }
    e_.Password = answer;
  }
  // The rest of the buffer is data: decrypt it, and every later block as it is read.
  crypt_.DecryptBuffer(const_cast<uint8_t*>(inPos), size_t(inEnd - inPos));
  decrypting_ = true;
  return true;
}

bool TUnZipEngine::TExtractRun::overwriteAllowed(int index, std::string& path) {
  if (e_.OverwriteMode == Always || !files::PathExists(path, false)) return true;
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
  switch (cur_.CompressionMethod) {
    case kMethodStored:
      while (inPos != inEnd || Refill()) {
        Output(inPos, size_t(inEnd - inPos));
        inPos = inEnd;
      }
      FlushOutput();
      break;
    case kMethodShrunk:
      damaged_ = Unshrink(*this) != 0;
      break;
    case kMethodImploded:
      damaged_ = Explode(*this) != 0;
      break;
    case kMethodDeflated:
      damaged_ = Inflate(*this) != 0;
      break;
    default:  // reduced with factors 1 to 4
      damaged_ = Unreduce(*this, cur_.CompressionMethod - 1) != 0;
      break;
  }
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
  if (file_) file_->Write(out_.data(), outFill_);
  crc_ = UpdateCRC(crc_, out_.data(), outFill_);
  written_ += outFill_;
  totalDone_ += int64_t(outFill_);
  outFill_ = 0;
  if (e_.OnFilePercentDone) e_.OnFilePercentDone(e_, PercentOf(cur_.UncompressedSize, int64_t(written_)));
  if (e_.OnTotalPercentDone) e_.OnTotalPercentDone(e_, TotalPercentOf(totalDone_, totalBytes_));
}

}  // namespace quelt
