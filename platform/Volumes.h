// Volumes (mount points) stand in for drive letters: whether the volume holding a path is
// removable, how much room it has, and its label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quelt {

class IVolumes {
 public:
  virtual ~IVolumes() = default;

  // Mount point of the volume that holds `path`; a path that does not exist yet is
  // judged by its nearest existing parent folder. Every method below judges paths so.
  virtual std::string VolumeRoot(const std::string& path) = 0;
  // True when the volume sits on a medium the user can take out and swap.
  virtual bool IsRemovable(const std::string& path) = 0;
  // Bytes the caller may still write on the volume; nullopt when it cannot be told.
  virtual std::optional<uint64_t> FreeSpace(const std::string& path) = 0;
  // The volume's label, empty when it has none or it cannot be read.
  virtual std::string GetLabel(const std::string& path) = 0;
  // Sets the label; false when the file system or the caller's rights refuse it.
  [[nodiscard]] virtual bool SetLabel(const std::string& path, const std::string& label) = 0;
};

// The machine's real volumes.
IVolumes& systemVolumes();

}  // namespace quelt
