#include "platform/Volumes.h"

#include <sys/statvfs.h>

namespace quelt {

namespace {
// A first, plain view of the machine's volumes: one fixed volume with the room statvfs reports.
class TPlainVolumes : public IVolumes {
 public:
  std::string VolumeRoot(const std::string&) override { return "/"; }
  bool IsRemovable(const std::string&) override { return false; }
  std::optional<uint64_t> FreeSpace(const std::string& path) override {
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0) return std::nullopt;
    return uint64_t(vfs.f_bavail) * vfs.f_frsize;
  }
  std::string GetLabel(const std::string&) override { return ""; }
  bool SetLabel(const std::string&, const std::string&) override { return false; }
};
}  // namespace

IVolumes& systemVolumes() {
  static TPlainVolumes volumes;
  return volumes;
}

}  // namespace quelt
