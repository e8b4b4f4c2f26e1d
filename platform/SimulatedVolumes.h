// Volumes for tests: ordinary folders act as drives, and disks with a label and a capacity
// are inserted into removable drives and swapped, so multi-disk work runs without hardware.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Volumes.h"

namespace quelt {

using TDiskId = int;

// Test mistakes (an unknown drive or disk, overlapping drives) throw std::invalid_argument.
class TSimulatedVolumes : public IVolumes {
 public:
  // Ejected disks keep their files in folders under `storeFolder` (created when missing).
  // Paths outside every drive go to `outside`, or count as one fixed volume at "/" without it.
  explicit TSimulatedVolumes(std::string storeFolder, IVolumes* outside = nullptr);

  // Makes `folder` (created when missing) an empty removable drive.
  void AddRemovableDrive(const std::string& folder);
  // Makes `folder` a fixed drive holding a disk for good; returns that disk.
  TDiskId AddFixedDrive(const std::string& folder, const std::string& label,
                        std::optional<uint64_t> capacity);

  // A new blank disk, in no drive. A capacity of nullopt makes its free space unknown.
  TDiskId AddDisk(const std::string& label, std::optional<uint64_t> capacity);
  // Inserts a disk, first ejecting the drive's disk and taking this one out of any other drive.
  // Throws std::logic_error when files were left in the drive while it held no disk.
  void InsertDisk(const std::string& drive, TDiskId disk);
  // Takes the disk out; its files go with it. Nothing happens when the drive is empty.
  void EjectDisk(const std::string& drive);
  std::optional<TDiskId> InsertedDisk(const std::string& drive) const;

  // Where the disk's files are now: the drive folder while inserted, else its own store.
  std::string DiskFolder(TDiskId disk) const;
  // Bytes of the regular files on the disk.
  uint64_t UsedBytes(TDiskId disk) const;
  std::string DiskLabel(TDiskId disk) const;
  // A refusing disk answers SetLabel with false and keeps its label.
  void SetRefusesLabel(TDiskId disk, bool refuses);

  // The test's stand-in for the user at the drive: given the 1-based number of the disk asked
  // for, it swaps disks as it likes; false means the user cancelled.
  using TDiskRequestScript = std::function<bool(int diskNumber)>;
  void SetDiskRequestScript(TDiskRequestScript script);
  // A script that inserts disks[N - 1] into `drive` when disk N is asked for; a number past
  // the list cancels.
  void ScriptDiskOrder(const std::string& drive, std::vector<TDiskId> disks);
  // Answers a disk request as a host's disk handler would: `fileName` unchanged when the
  // script went along, empty when it cancelled or there is no script. Every request is logged.
  std::string AnswerDiskRequest(int diskNumber, const std::string& fileName);
  const std::vector<int>& DiskRequests() const { return requests_; }

  std::string VolumeRoot(const std::string& path) override;
  bool IsRemovable(const std::string& path) override;
  std::optional<uint64_t> FreeSpace(const std::string& path) override;
  std::string GetLabel(const std::string& path) override;
  [[nodiscard]] bool SetLabel(const std::string& path, const std::string& label) override;

 private:
  struct TDrive {
    std::string folder;
    bool removable = true;
    std::optional<TDiskId> disk;
  };
  struct TDisk {
    std::string label;
    std::optional<uint64_t> capacity;
    bool refusesLabel = false;
    std::string store;
  };

  TDrive& driveAt(const std::string& folder);
  const TDrive* driveOf(const std::string& path) const;
  TDisk& disk(TDiskId id);
  const TDisk& disk(TDiskId id) const;
  std::string addDrive(const std::string& folder, bool removable);

  std::string storeFolder_;
  IVolumes* outside_;
  std::vector<TDrive> drives_;
  std::vector<TDisk> disks_;
  TDiskRequestScript script_;
  std::vector<int> requests_;
};

}  // namespace quelt
