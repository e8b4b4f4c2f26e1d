// The archive engine's writing side: adding, updating and freshening files, removing
// entries, saving comment edits and repairing a damaged archive into a new file. Every change
// writes a complete new archive and puts it in place of the old one only when it is whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/UnZipEngine.h"

namespace quelt {

enum TZipAction { zaUpdate, zaReplace, zaFreshen };

// Settings for writing an archive as several volumes.
struct TMultiZipInfo {
  int64_t BlockSize = 1457600;       // every block after the first (mmBlocks)
  int64_t FirstBlockSize = 1457600;  // the first block (mmBlocks)
  TMultiMode MultiMode = mmNone;
  bool CheckDiskLabels = true;
  bool WriteDiskLabels = true;
};

class TZipEngine : public TUnZipEngine {
 public:
  explicit TZipEngine(IVolumes& volumes = systemVolumes());
  ~TZipEngine() override;

  // ---- Published properties
  int PackLevel = 6;
  bool Recurse = false;
  bool Dispose = false;  // delete each compressed source after success
  TZipAction ZipAction = zaUpdate;
  bool Store83Names = false;
  std::string TempPath;  // where archives are built; the system's temporary folder when empty
  // Entries of FilesList that name one file (or, when removing, one stored entry) exactly,
  // although they hold "*", "?", "[" or "]".
  std::vector<std::string> LiteralFiles;
  // Stores symbolic links as links (their target as data) instead of the files they point
  // to; links to folders are then kept too, where otherwise they are reported and left out.
  bool StoreLinks = false;
  // With a Password: encrypt new entries with AES-256 instead of the traditional cipher,
  // which is weak but what the oldest tools read.
  bool AesEncryption = false;
  // Threads compressing the files of CompressFiles ahead of the writer, each into memory;
  // the writer still writes them in order and fires every event itself, and the archive is
  // the one a single thread writes. 1 compresses each file as it is written.
  int Jobs = 1;
  // When 0 or more: CompressFiles writes a new archive in one pass to this open descriptor (a
  // pipe) instead of to ZipName, never seeking back: each entry's CRC and sizes follow its
  // data. The descriptor stays open; the catalogue is not changed.
  int StreamOutput = -1;
  // When 0 or more: one more entry whose data is read once, to its end, from this open
  // descriptor (standard input), stored as StreamedName and dated now; events name it "-".
  // It replaces an entry of that name.
  int StreamedSource = -1;
  std::string StreamedName;

  bool StorePaths() const { return storePaths_; }
  // Off also turns StoreVolumes and RelativePaths off.
  void SetStorePaths(bool on);
  bool RelativePaths() const { return relativePaths_; }
  // On also turns StorePaths and Recurse on.
  void SetRelativePaths(bool on);
  bool StoreVolumes() const { return storeVolumes_; }
  // On also turns StorePaths on.
  void SetStoreVolumes(bool on);

  TMultiZipInfo& MultiZipInfo() { return multi_; }
  void SetMultiZipInfo(const TMultiZipInfo& info) { multi_ = info; }
  bool CheckDiskLabels() const override { return multi_.CheckDiskLabels; }
  void SetCheckDiskLabels(bool check) override { multi_.CheckDiskLabels = check; }
  TMultiMode MultiMode() const override { return multi_.MultiMode; }
  void SetMultiMode(TMultiMode mode) override;

  // Saves pending comment edits of the current archive before naming another.
  void SetZipName(const std::string& name) override;

  // ---- Events
  std::function<void(TZipEngine& Sender, int NumFiles, int64_t TotalBytes,
                     TEndCentral& EndCentralRecord, bool& StopNow)>
      OnStartZipInfo;
  std::function<void(TZipEngine& Sender, const std::string& FName, TZipHeaderInfo& ZipHeader,
                     bool& Skip)>
      OnStartZip;
  std::function<void(TZipEngine& Sender, const std::string& FName, int64_t UncompressedSize,
                     int64_t CompressedSize, int64_t CurrentZipSize)>
      OnEndZip;
  std::function<void(TZipEngine& Sender, const std::string& FName, bool& Skip)> OnDisposeFile;
  std::function<void(TZipEngine& Sender, const std::string& FName, bool& Skip)> OnDeleteEntry;
  std::function<void(TZipEngine& Sender, const std::string& FName)> OnNoSuchFile;
  // A source (or, when repairing, an entry) that cannot be stored soundly: too large, not a
  // regular file, unreadable, the archive itself, data past the end of a damaged archive.
  std::function<void(TZipEngine& Sender, const std::string& FName, const std::string& Why)>
      OnFileRefused;
  // A source stored, but not as it stood when gathered: it changed size while being read.
  std::function<void(TZipEngine& Sender, const std::string& FName, const std::string& Why)>
      OnFileWarning;

  // ---- Operations
  // Compresses the files FilesList names into ZipName; returns how many were compressed.
  int CompressFiles();
  // Leaves out the entries FilesList names; returns 0.
  int RemoveEntries();
  // Writes edited comments, when there are any, and reads the archive again.
  void SavePendingChanges();
  // Writes every entry found in a damaged archive into a new archive, which then becomes the
  // current one; the damaged file is left as it was. Empty names ask the host.
  int RepairArchive(const std::string& InputName, const std::string& OutputName);

 private:
  class TZipRun;
  friend class TZipRun;

  bool storePaths_ = false, relativePaths_ = false, storeVolumes_ = false;
  TMultiZipInfo multi_;
  bool removing_ = false;
  std::string repairTarget_;
};

}  // namespace quelt
