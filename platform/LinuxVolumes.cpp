#include "platform/LinuxVolumes.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/FileSystem.h"
#include "platform/LinuxProcesses.h"

namespace quelt {

namespace {

std::optional<std::string> resolvedPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

bool isOctal(char c) {
  return c >= '0' && c <= '7';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Component-wise: "/mnt/a" holds "/mnt/a/x" but not "/mnt/ab".
bool mountHolds(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return true;
  if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (in >> field) fields.push_back(field);
  return fields;
}

bool parseDeviceNumbers(const std::string& text, unsigned& major, unsigned& minor) {
  auto colon = text.find(':');
  if (colon == std::string::npos) return false;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  auto first = std::from_chars(begin, begin + colon, major);
  if (first.ec != std::errc() || first.ptr != begin + colon) return false;
  auto second = std::from_chars(begin + colon + 1, end, minor);
  return second.ec == std::errc() && second.ptr == end && colon > 0 && colon + 1 < text.size();
}

// The block device behind a mount: the source node's own number when the source is a device
// node (FUSE and btrfs report a virtual number in the table), else the table's number.
dev_t deviceOf(const TMountEntry& mount) {
  struct stat st;
  if (!mount.source.empty() && mount.source[0] == '/' && ::stat(mount.source.c_str(), &st) == 0 &&
      S_ISBLK(st.st_mode))
    return st.st_rdev;
  return makedev(mount.major, mount.minor);
}

// A label link names the mount's device when both resolve to the same node.
bool linkNamesDevice(const std::string& link, const TMountEntry& mount) {
  auto target = resolvedPath(link);
  if (!target) return false;
  if (!mount.source.empty() && mount.source[0] == '/') {
    auto source = resolvedPath(mount.source);
    if (source && *source == *target) return true;
  }
  struct stat st;
  return ::stat(target->c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == deviceOf(mount);
}

const char* labelToolFor(const std::string& fsType) {
  if (fsType == "vfat" || fsType == "msdos") return "fatlabel";
  if (fsType == "ext2" || fsType == "ext3" || fsType == "ext4") return "e2label";
  if (fsType == "exfat") return "exfatlabel";
  return nullptr;
}

// Runs a program with the given arguments (no shell), its output dropped; true when it
// exits with status 0.
bool runQuietly(const std::vector<std::string>& args) {
  try {
    return TLinuxProcessRunner().Run(args, {}).Succeeded();
  } catch (const EPlatformError&) {
    return false;
  }
}

}  // namespace

std::string DecodeOctalEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
        isOctal(text[i + 2]) && isOctal(text[i + 3])) {
      out.push_back(char((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string DecodeHexEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
      out.push_back(char(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3])));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<TMountEntry> ParseMountInfo(const std::string& text) {
  // id parent major:minor root mount-point options [optional fields...] - type source super
  std::vector<TMountEntry> mounts;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    auto fields = splitFields(line);
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 2 >= fields.size()) continue;
    TMountEntry mount;
    if (!parseDeviceNumbers(fields[2], mount.major, mount.minor)) continue;
    mount.mountPoint = DecodeOctalEscapes(fields[4]);
    if (mount.mountPoint.empty() || mount.mountPoint[0] != '/') continue;
    mount.fsType = DecodeOctalEscapes(fields[dash + 1]);
    mount.source = DecodeOctalEscapes(fields[dash + 2]);
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

std::string NearestExistingPath(const std::string& path) {
  std::string p = path.empty() ? "." : path;
  if (p[0] != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd) return "/";
    p = std::string(cwd.get()) + "/" + p;
  }
  while (true) {
    if (auto real = resolvedPath(p)) return *real;
    auto end = p.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    p.resize(end + 1);
    auto slash = p.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    p.resize(slash);
  }
}

TLinuxVolumes::TLinuxVolumes(TLinuxVolumesConfig config) : config_(std::move(config)) {
  if (config_.toolDirs.empty()) {
    config_.toolDirs = PathFolders();
    // Labelling tools live in sbin, which an ordinary user's PATH often leaves out.
    config_.toolDirs.push_back("/usr/sbin");
    config_.toolDirs.push_back("/sbin");
  }
}

std::optional<TMountEntry> TLinuxVolumes::MountOf(const std::string& path) const {
  auto text = files::ReadFileText(config_.mountInfo);
  if (!text) return std::nullopt;
  std::string where = NearestExistingPath(path);
  std::optional<TMountEntry> best;
  for (auto& mount : ParseMountInfo(*text)) {
    // Ties go to the later line: that mount hides the earlier one.
    if (mountHolds(mount.mountPoint, where) &&
        (!best || mount.mountPoint.size() >= best->mountPoint.size()))
      best = std::move(mount);
  }
  return best;
}

std::string TLinuxVolumes::VolumeRoot(const std::string& path) {
  auto mount = MountOf(path);
  return mount ? mount->mountPoint : std::string("/");
}

bool TLinuxVolumes::IsRemovable(const std::string& path) {
  auto mount = MountOf(path);
  if (!mount) return false;
  dev_t dev = deviceOf(*mount);
  std::string node = config_.sysRoot + "/dev/block/" + std::to_string(major(dev)) + ":" +
                     std::to_string(minor(dev));
  auto flag = files::ReadFileText(node + "/removable");
  if (!flag) {
    // A partition has no flag of its own; its disk, the folder above it, carries it.
    auto real = resolvedPath(node);
    if (!real) return false;
    flag = files::ReadFileText(real->substr(0, real->rfind('/')) + "/removable");
  }
  return flag && !flag->empty() && (*flag)[0] == '1';
}

std::optional<uint64_t> TLinuxVolumes::FreeSpace(const std::string& path) {
  struct statvfs vfs;
  if (::statvfs(NearestExistingPath(path).c_str(), &vfs) != 0) return std::nullopt;
  uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  uint64_t blocks = vfs.f_bavail;
  if (unit != 0 && blocks > UINT64_MAX / unit) return UINT64_MAX;
  return blocks * unit;
}

std::string TLinuxVolumes::GetLabel(const std::string& path) {
  auto mount = MountOf(path);
  if (!mount) return {};
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(config_.labelDir.c_str()), &::closedir);
  if (!dir) return {};
  while (dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (linkNamesDevice(config_.labelDir + "/" + name, *mount)) return DecodeHexEscapes(name);
  }
  return {};
}

bool TLinuxVolumes::SetLabel(const std::string& path, const std::string& label) {
  // A label starting with "-" would be read as an option by the tools.
  if ((!label.empty() && label[0] == '-') || label.find('\0') != std::string::npos) return false;
  auto mount = MountOf(path);
  if (!mount || mount->source.empty() || mount->source[0] != '/') return false;
  struct stat st;
  if (::stat(mount->source.c_str(), &st) != 0) return false;
  const char* toolName = labelToolFor(mount->fsType);
  if (!toolName) return false;
  auto tool = findTool(toolName);
  if (!tool) return false;
  return runQuietly({*tool, mount->source, label});
}

std::optional<std::string> TLinuxVolumes::findTool(const std::string& name) const {
  return FindExecutable(name, config_.toolDirs);
}

}  // namespace quelt
