// The machine's volumes as Linux describes them: the mount table, the block devices' flags in
// sysfs and the label links udev keeps. Every query reads them afresh, since disks come and go.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Volumes.h"

namespace quelt {

// One line of the mount table; text fields have their escapes decoded.
struct TMountEntry {
  unsigned major = 0;
  unsigned minor = 0;
  std::string mountPoint;
  std::string fsType;
  std::string source;
};

// Parses the text of /proc/<pid>/mountinfo; malformed lines are skipped.
// Later lines come later in the result, so an over-mount follows what it hides.
std::vector<TMountEntry> ParseMountInfo(const std::string& text);

// Decodes the kernel's octal escapes ("\040" for a space); anything else is kept as it is.
std::string DecodeOctalEscapes(const std::string& text);
// Decodes udev's hex escapes ("\x20" for a space); anything else is kept as it is.
std::string DecodeHexEscapes(const std::string& text);

// Where the implementation looks; tests point these at a fake tree.
struct TLinuxVolumesConfig {
  std::string mountInfo = "/proc/self/mountinfo";
  std::string sysRoot = "/sys";
  std::string labelDir = "/dev/disk/by-label";
  // Folders searched for the labelling tools; empty means PATH, then /usr/sbin and /sbin.
  std::vector<std::string> toolDirs;
};

class TLinuxVolumes : public IVolumes {
 public:
  explicit TLinuxVolumes(TLinuxVolumesConfig config = {});

  std::string VolumeRoot(const std::string& path) override;
  bool IsRemovable(const std::string& path) override;
  std::optional<uint64_t> FreeSpace(const std::string& path) override;
  std::string GetLabel(const std::string& path) override;
  // Runs the file system's own labelling tool (fatlabel, e2label, exfatlabel) on the device.
  [[nodiscard]] bool SetLabel(const std::string& path, const std::string& label) override;

  // The mount holding `path` (longest matching mount point); nullopt when the table is unreadable.
  std::optional<TMountEntry> MountOf(const std::string& path) const;

 private:
  std::optional<std::string> findTool(const std::string& name) const;

  TLinuxVolumesConfig config_;
};

// The nearest existing folder or file at or above `path`, with symlinks resolved; relative
// paths are taken from the current folder. "/" when nothing can be resolved.
std::string NearestExistingPath(const std::string& path);

}  // namespace quelt
