#include "platform/SimulatedVolumes.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quelt {

namespace {

std::string canonicalFolder(const std::string& folder) {
  fs::create_directories(folder);
  return fs::canonical(folder).string();
}

// Judges a path that may not exist by what exists above it, as the real volumes do.
std::string canonicalPath(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
  if (ec) return "/";
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal().string() : resolved.string();
}

bool folderHolds(const std::string& folder, const std::string& path) {
  if (folder == "/") return true;
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}

// Renames where it can; a store on another file system gets a copy instead.
void moveContents(const std::string& from, const std::string& to) {
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(from)) {
    fs::path target = fs::path(to) / entry.path().filename();
    std::error_code ec;
    fs::rename(entry.path(), target, ec);
    if (ec) {
      fs::copy(entry.path(), target, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
      fs::remove_all(entry.path());
    }
  }
}

}  // namespace

TSimulatedVolumes::TSimulatedVolumes(std::string storeFolder, IVolumes* outside)
    : storeFolder_(canonicalFolder(storeFolder)), outside_(outside) {}

std::string TSimulatedVolumes::addDrive(const std::string& folder, bool removable) {
  std::string root = canonicalFolder(folder);
  if (folderHolds(root, storeFolder_) || folderHolds(storeFolder_, root))
    throw std::invalid_argument("drive and disk store overlap: " + root);
  for (const auto& drive : drives_) {
    if (folderHolds(root, drive.folder) || folderHolds(drive.folder, root))
      throw std::invalid_argument("drives overlap: " + root);
  }
  drives_.push_back({root, removable, std::nullopt});
  return root;
}

void TSimulatedVolumes::AddRemovableDrive(const std::string& folder) {
  addDrive(folder, true);
}

TDiskId TSimulatedVolumes::AddFixedDrive(const std::string& folder, const std::string& label,
                                         std::optional<uint64_t> capacity) {
  addDrive(folder, false);
  TDiskId id = AddDisk(label, capacity);
  drives_.back().disk = id;
  return id;
}

TDiskId TSimulatedVolumes::AddDisk(const std::string& label, std::optional<uint64_t> capacity) {
  TDiskId id = TDiskId(disks_.size());
  std::string store = storeFolder_ + "/disk-" + std::to_string(id);
  fs::create_directories(store);
  disks_.push_back({label, capacity, false, store});
  return id;
}

void TSimulatedVolumes::InsertDisk(const std::string& drive, TDiskId id) {
  TDrive& target = driveAt(drive);
  if (!target.removable) throw std::logic_error("a fixed drive cannot take a disk: " + drive);
  disk(id);  // validates the id before anything moves
  if (target.disk == id) return;
  for (auto& other : drives_) {
    if (&other != &target && other.disk == id) EjectDisk(other.folder);
  }
  EjectDisk(target.folder);
  if (!fs::is_empty(target.folder))
    throw std::logic_error("files were written to a drive holding no disk: " + target.folder);
  moveContents(disk(id).store, target.folder);
  target.disk = id;
}

void TSimulatedVolumes::EjectDisk(const std::string& drive) {
  TDrive& target = driveAt(drive);
  if (!target.disk) return;
  if (!target.removable) throw std::logic_error("a fixed drive keeps its disk: " + drive);
  moveContents(target.folder, disk(*target.disk).store);
  target.disk.reset();
}

std::optional<TDiskId> TSimulatedVolumes::InsertedDisk(const std::string& drive) const {
  std::string root = canonicalPath(drive);
  for (const auto& d : drives_) {
    if (d.folder == root) return d.disk;
  }
  throw std::invalid_argument("not a simulated drive: " + drive);
}

std::string TSimulatedVolumes::DiskFolder(TDiskId id) const {
  for (const auto& d : drives_) {
    if (d.disk == id) return d.folder;
  }
  return disk(id).store;
}

uint64_t TSimulatedVolumes::UsedBytes(TDiskId id) const {
  uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(DiskFolder(id))) {
    if (entry.is_regular_file() && !entry.is_symlink()) total += entry.file_size();
  }
  return total;
}

std::string TSimulatedVolumes::DiskLabel(TDiskId id) const {
  return disk(id).label;
}

void TSimulatedVolumes::SetRefusesLabel(TDiskId id, bool refuses) {
  disk(id).refusesLabel = refuses;
}

void TSimulatedVolumes::SetDiskRequestScript(TDiskRequestScript script) {
  script_ = std::move(script);
}

void TSimulatedVolumes::ScriptDiskOrder(const std::string& drive, std::vector<TDiskId> disks) {
  driveAt(drive);
  script_ = [this, drive, disks = std::move(disks)](int number) {
    if (number < 1 || size_t(number) > disks.size()) return false;
    InsertDisk(drive, disks[size_t(number) - 1]);
    return true;
  };
}

std::string TSimulatedVolumes::AnswerDiskRequest(int diskNumber, const std::string& fileName) {
  requests_.push_back(diskNumber);
  if (!script_ || !script_(diskNumber)) return {};
  return fileName;
}

std::string TSimulatedVolumes::VolumeRoot(const std::string& path) {
  if (const TDrive* d = driveOf(path)) return d->folder;
  return outside_ ? outside_->VolumeRoot(path) : std::string("/");
}

bool TSimulatedVolumes::IsRemovable(const std::string& path) {
  if (const TDrive* d = driveOf(path)) return d->removable;
  return outside_ ? outside_->IsRemovable(path) : false;
}

std::optional<uint64_t> TSimulatedVolumes::FreeSpace(const std::string& path) {
  const TDrive* d = driveOf(path);
  if (!d) return outside_ ? outside_->FreeSpace(path) : std::nullopt;
  if (!d->disk) return std::nullopt;
  auto capacity = disk(*d->disk).capacity;
  if (!capacity) return std::nullopt;
  uint64_t used = UsedBytes(*d->disk);
  return used >= *capacity ? 0 : *capacity - used;
}

std::string TSimulatedVolumes::GetLabel(const std::string& path) {
  const TDrive* d = driveOf(path);
  if (!d) return outside_ ? outside_->GetLabel(path) : std::string();
  return d->disk ? disk(*d->disk).label : std::string();
}

bool TSimulatedVolumes::SetLabel(const std::string& path, const std::string& label) {
  const TDrive* d = driveOf(path);
  if (!d) return outside_ ? outside_->SetLabel(path, label) : false;
  if (!d->disk || disk(*d->disk).refusesLabel) return false;
  disk(*d->disk).label = label;
  return true;
}

TSimulatedVolumes::TDrive& TSimulatedVolumes::driveAt(const std::string& folder) {
  std::string root = canonicalPath(folder);
  for (auto& d : drives_) {
    if (d.folder == root) return d;
  }
  throw std::invalid_argument("not a simulated drive: " + folder);
}

const TSimulatedVolumes::TDrive* TSimulatedVolumes::driveOf(const std::string& path) const {
  std::string where = canonicalPath(path);
  for (const auto& d : drives_) {
    if (folderHolds(d.folder, where)) return &d;  // drives never nest, so one at most holds it
  }
  return nullptr;
}

TSimulatedVolumes::TDisk& TSimulatedVolumes::disk(TDiskId id) {
  if (id < 0 || size_t(id) >= disks_.size())
    throw std::invalid_argument("no such disk: " + std::to_string(id));
  return disks_[size_t(id)];
}

const TSimulatedVolumes::TDisk& TSimulatedVolumes::disk(TDiskId id) const {
  if (id < 0 || size_t(id) >= disks_.size())
    throw std::invalid_argument("no such disk: " + std::to_string(id));
  return disks_[size_t(id)];
}

}  // namespace quelt
