// The archive engine's reading side: naming and opening an archive, reading its catalogue
// (from the central directory, or by walking the local headers of a damaged or
// self-extracting archive), multi-volume sets, comments, per-index queries and sorting.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/BufferStream.h"
#include "engine/DateTime.h"
#include "engine/NameEncoding.h"
#include "engine/ZipCntn.h"
#include "engine/ZipObj.h"
#include "platform/Volumes.h"

namespace quelt {

enum TUZOverwriteMode { Prompt, Always, Never };
enum TIncompleteZipMode { izAssumeMulti, izAssumeBad };
enum TMultiMode { mmNone, mmSpan, mmBlocks };
// Why an entry was given up. The last three are ours: an entry whose local header or data
// does not read, one stored with a method this engine cannot decompress, and one that cannot
// be put in place (a folder or link in the way, a name the file system refuses, a second
// entry for the same file, a link leading out of the destination).
enum TSkipReason {
  skBadPassword = 0,
  skNoOverwrite = 1,
  skDamaged = 2,
  skUnknownMethod = 3,
  skNotWritten = 4
};

enum class TMsgButtons { OK, YesNo, YesNoCancel };
enum class TMsgResult { OK, Yes, No, Cancel };

// What the engine needs from whoever hosts it (a window, a terminal). Every member is
// optional; without one the engine behaves as if the user had cancelled.
struct TEngineHost {
  // An open-file dialog; nothing when cancelled.
  std::function<std::optional<std::string>(const std::string& title, const std::string& filter,
                                           const std::string& initialDir)>
      SelectOpenFile;
  // A save-file dialog, which accepts a name that does not exist yet; nothing when cancelled.
  // Without one, the open-file dialog is asked instead.
  std::function<std::optional<std::string>(const std::string& title, const std::string& filter,
                                           const std::string& initialDir)>
      SelectSaveFile;
  // A folder dialog that may create the folder; nothing when cancelled.
  std::function<std::optional<std::string>(const std::string& startDir)> SelectFolder;
  // Lets the host handle its pending events during long loops.
  std::function<void()> ProcessMessages;
  // A message box owned by the engine ("Unknown Compression Method" and the like).
  std::function<TMsgResult(const std::string& text, const std::string& caption, TMsgButtons)>
      ShowMessage;
};

class TUnZipEngine {
 public:
  explicit TUnZipEngine(IVolumes& volumes = systemVolumes());
  virtual ~TUnZipEngine();
  TUnZipEngine(const TUnZipEngine&) = delete;
  TUnZipEngine& operator=(const TUnZipEngine&) = delete;

  // ---- Published properties
  int ThisVersion() const { return 212; }
  const std::string& ZipName() const { return zipName_; }
  // Names the archive; a name ending in "?" asks the host for one. The catalogue is read
  // by the next operation that needs it.
  virtual void SetZipName(const std::string& name);
  const std::string& DestDir() const { return destDir_; }
  // Kept without a trailing "/"; "?" asks the host for a folder.
  void SetDestDir(const std::string& dir);
  const std::string& RootDir() const { return rootDir_; }
  // Kept with a trailing "/" when not empty.
  void SetRootDir(const std::string& dir);
  TZipSortMode SortMode() const { return sortMode_; }
  void SetSortMode(TZipSortMode mode) { SortCatalogue(mode); }

  bool RecreateDirs = false;
  TUZOverwriteMode OverwriteMode = Prompt;
  std::vector<std::string> FilesList;
  // Stored names (folder and name, as FullName gives them) of the entries to extract, each
  // taken exactly: when not empty they select instead of FilesList, so "a[1].txt" is no
  // pattern and "a.txt" is the top folder's file only. DoAll still takes everything.
  std::vector<std::string> SelectedNames;
  bool DoAll = false;
  TIncompleteZipMode IncompleteZipMode = izAssumeMulti;
  bool KeepZipOpen = false;
  bool DoProcessMessages = true;
  // Also restores the Unix permissions of entries made on Unix hosts.
  bool RetainAttributes = true;
  // Whether wildcard patterns (FilesList when extracting or removing, masks when gathering)
  // compare A to Z without case; a literal name always compares byte for byte.
  bool PatternsIgnoreCase = true;
  // The set of names and comments stored without the UTF-8 flag: empty finds it for each
  // archive from its names; otherwise a set in any usual spelling (EUnknownCharset for
  // others). A catalogue already read is read again in it at once.
  void SetNameEncoding(const std::string& charset);
  // The chosen set's canonical name, empty when it is found per archive.
  const std::string& NameEncoding() const { return nameEncoding_; }
  // The set the current catalogue was read in: the chosen one, or the one found.
  const TNameEncoding& ActiveNameEncoding() const { return activeEncoding_; }

  // ---- Events (Sender first; reference parameters are the handler's answers)
  std::function<void(TUnZipEngine& Sender, int NumFiles, int64_t TotalBytes, bool& StopNow)>
      OnStartUnZipInfo;
  std::function<void(TUnZipEngine& Sender, int Percent)> OnFilePercentDone;
  std::function<void(TUnZipEngine& Sender, int Percent)> OnTotalPercentDone;
  std::function<void(TUnZipEngine& Sender, int FileIndex, const std::string& FName, bool& Skip)>
      OnStartUnZip;
  std::function<void(TUnZipEngine& Sender, int FileIndex, const std::string& FName)> OnEndUnZip;
  std::function<void(TUnZipEngine& Sender, bool& OverWriteIt, int FileIndex, std::string& FName)>
      OnPromptForOverwrite;
  std::function<void(TUnZipEngine& Sender, TSkipReason Reason, int FileIndex)> OnSkippingFile;
  std::function<void(TUnZipEngine& Sender, int FileIndex, std::string& NewPassword)> OnBadPassword;
  std::function<void(TUnZipEngine& Sender, uint32_t CalcCRC, uint32_t StoredCRC, int FileIndex)>
      OnBadCRC;
  std::function<void(TUnZipEngine& Sender, TIncompleteZipMode& IncompleteMode)> OnInCompleteZip;
  // A stored name that was absolute, carried a drive or climbed with ".." had those parts
  // dropped; FName is where the entry goes instead.
  std::function<void(TUnZipEngine& Sender, int FileIndex, const std::string& StoredName,
                     const std::string& FName)>
      OnUnsafePath;
  // Asks for volume NextDisk (1-based); FName arrives holding the current archive path and
  // comes back naming the volume's file, or empty when the user cancels.
  std::function<void(TUnZipEngine& Sender, int NextDisk, std::string& FName)> OnGetNextDisk;

  TEngineHost Host;

  // ---- Public state
  std::string Password;
  // Decompress and check the selected entries without writing anything.
  bool TestOnly = false;
  int Count() const { return view() ? view()->Count() : 0; }
  int VolumeCount() const { return volumeCount_; }
  int CurrentVolume() const { return currentVolume_; }
  virtual bool CheckDiskLabels() const { return checkDiskLabels_; }
  virtual void SetCheckDiskLabels(bool check) { checkDiskLabels_ = check; }
  virtual TMultiMode MultiMode() const { return multiMode_; }
  virtual void SetMultiMode(TMultiMode mode) { multiMode_ = mode; }
  // Whether the catalogue came from walking the local headers.
  bool Rebuilt() const { return rebuilt_; }
  // Why the catalogue is not the whole archive (no end record, a central directory that is
  // missing or cut short: damage, or one volume of a set); empty when it is whole.
  const std::string& CatalogueDamage() const { return damage_; }
  const TEndCentral& EndRecord() const { return endRecord_; }
  // Why the entry of the last extraction event failed, for handlers that report it.
  const std::string& LastError() const { return lastError_; }

  // ---- Operations
  // Opens the archive and reads its catalogue if it is not current; closes it again
  // unless KeepZipOpen.
  void LoadCatalogue();
  // Forgets the archive: closes it, drops the catalogue and empties ZipName.
  void ClearCatalogue();
  void SortCatalogue(TZipSortMode mode);
  void RequestCancel() { cancel_ = true; }
  // Extracts the entries FilesList selects (or all, with DoAll) into DestDir; returns how
  // many were extracted with a matching CRC.
  int ExtractEntries();

  // ---- Per-index queries on the sorted view ("Index %d is out of range" outside it)
  const TZipHeaderInfo& Entry(int index) const;
  std::string Filename(int index) const { return Entry(index).Filename(); }
  std::string EntryPath(int index) const { return Entry(index).Directory(); }
  // The entry's DOS date and time; an impossible value (such as 0) comes back field by field
  // as it is stored, month 0 and all.
  TDateTime EntryDateTime(int index) const;
  int64_t CompressedSize(int index) const { return Entry(index).CompressedSize; }
  int64_t UncompressedSize(int index) const { return Entry(index).UncompressedSize; }
  bool Encrypted(int index) const { return Entry(index).Encrypted(); }
  std::string EntryComment(int index) const { return Entry(index).EntryComment(); }
  // Changes the comment in memory and marks the archive modified; the writer saves it.
  void SetEntryComment(int index, const std::string& text);
  std::string ArchiveComment() const { return endRecord_.ZipComment(); }
  void SetArchiveComment(const std::string& text);
  bool HasArchiveComment() const { return endRecord_.HasComment(); }

 protected:
  // Identity and modification time of the archive file when its directory was read.
  struct TFileStamp {
    int64_t mtimeNs = 0, size = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const TFileStamp&) const = default;
  };
  static TFileStamp stampOf(const TLFNFileStream& stream);

  void OpenArchive();
  void CloseArchive();
  void ReadDirectory();
  void readDirectory();
  bool ReadEndRecord();
  // Takes the counts, size and offset from the Zip64 end record the locator leads to.
  void readZip64EndRecord(const uint8_t* locator, int64_t locatorAt);
  // Where the archive starts when a program in front of it (a self-extractor's stub) was not
  // counted in its offsets: the start its end record implies, when the central directory is
  // found there; 0 otherwise. Leaves the stream at the directory.
  int64_t ArchiveStartBehindStub();
  void WalkLocalHeaders();
  bool findDataDescriptor(TLFNFileStream& in, int64_t dataStart, TZipHeaderInfo& entry);
  // Obtains volume n (1-based) through OnGetNextDisk and makes it the archive stream.
  void RequestDisk(int n);
  // Lets the host run and raises EUserCanceled("User Aborted Operation") on a cancel request.
  void CheckCancel();
  // The view that per-index queries address.
  const TSortedZip* view() const { return view_ ? view_ : main_.get(); }
  void dropCatalogue();
  // Finds or takes the set of the catalogue's names and reads them (and the comments) in it.
  void applyNameEncoding();

  // Extraction, one entry at a time.
  class TExtractRun;
  friend class TExtractRun;

  IVolumes& volumes_;
  std::string zipName_, destDir_, rootDir_;
  TZipSortMode sortMode_ = ByNone;
  std::unique_ptr<TLFNFileStream> stream_;
  TEndCentral endRecord_;
  std::unique_ptr<TSortedZip> main_;    // physical order; owns the entries
  std::unique_ptr<TSortedZip> sorted_;  // a separate sorted view, when not ByNone
  const TSortedZip* view_ = nullptr;
  TFileStamp zipDateTime_;
  bool rebuilt_ = false;
  std::string damage_;
  bool fixing_ = false;
  bool cancel_ = false;
  bool checkDiskLabels_ = true;
  TMultiMode multiMode_ = mmNone;
  int volumeCount_ = 1;
  int currentVolume_ = 0;
  std::string lastError_;
  std::string nameEncoding_;
  std::optional<TNameEncoding> chosenEncoding_;
  TNameEncoding activeEncoding_;
};

}  // namespace quelt
