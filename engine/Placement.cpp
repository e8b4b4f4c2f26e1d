#include "engine/Placement.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "engine/Errors.h"
#include "engine/ExtractPath.h"
#include "engine/FileOps.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

constexpr const char* kTempPrefix = "QLZ";

std::vector<std::string> parts(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") out.push_back(part);
    start = end + 1;
  }
  return out;
}

std::string nameOf(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

files::TFolder openFolder(const std::string& path) {
  try {
    return files::TFolder(path);
  } catch (const std::system_error& e) {
    throw EInOutError(e.what());
  }
}

}  // namespace

bool LinkTargetStaysInside(const std::string& relative, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  size_t climb = 0;
  bool named = false;
  for (const std::string& part : parts(target)) {
    if (part == "..") {
      if (named) return false;
      ++climb;
    } else {
      named = true;
    }
  }
  return climb <= parts(relative).size();
}

// ---- TPlacedFile

TPlacedFile::TPlacedFile(TTarget target, int fd, std::string temp)
    : target_(std::move(target)),
      stream_(std::make_unique<TFileStream>(fd, target_.path)),
      temp_(std::move(temp)) {}

TPlacedFile::~TPlacedFile() {
  stream_.reset();
  if (!temp_.empty()) (void)target_.folder.Remove(temp_);
}

// ---- TPlacement

TPlacement::TPlacement(const std::string& destDir)
    : dest_([&] {
        if (!destDir.empty()) files::MakeFolders(destDir);
        return openFolder(destDir.empty() ? "." : destDir);
      }()) {}

TTarget TPlacement::Below(const TExtractPath& where, bool create) const {
  try {
    return TTarget{dest_.Open(where.relative, create), where.name, where.path};
  } catch (const std::runtime_error& e) {
    throw EInOutError(e.what());
  }
}

TTarget TPlacement::At(const std::string& path) {
  return TTarget{openFolder(FolderOf(path)), nameOf(path), path};
}

bool TPlacement::Exists(const TExtractPath& where) const {
  try {
    return dest_.Open(where.relative, false).KindOf(where.name) != files::TItemKind::None;
  } catch (const std::runtime_error&) {
    return false;  // its folder is not there (or cannot be): neither is the file
  }
}

std::unique_ptr<TPlacedFile> TPlacement::Begin(TTarget target) {
  std::string temp;
  int fd;
  try {
    fd = target.folder.CreateTemp(kTempPrefix, temp);
  } catch (const std::system_error& e) {
    throw EInOutError(e.what());
  }
  return std::make_unique<TPlacedFile>(std::move(target), fd, std::move(temp));
}

void TPlacement::Commit(TPlacedFile& file, std::optional<mode_t> mode,
                        std::optional<time_t> moment) {
  TFileStream& stream = *file.stream_;
  // Permissions and time go on by descriptor, before the name exists: nothing between can
  // swap the file for a link.
  if (mode) (void)files::SetDescriptorMode(stream.Handle(), *mode);
  if (moment) (void)files::SetDescriptorTime(stream.Handle(), *moment);
  stream.Close();
  const TTarget& t = file.target_;
  if (t.folder.KindOf(t.name) == files::TItemKind::Folder)
    throw EInOutError("\"" + t.path + "\" is in the way: it is a folder");
  if (!t.folder.Rename(file.temp_, t.name))
    throw EInOutError("Cannot put \"" + t.path + "\" in place: " + std::strerror(errno));
  file.temp_.clear();
  placed_.insert(t.path);
}

void TPlacement::MakeLink(const TExtractPath& where, const std::string& target,
                          std::optional<time_t> moment) {
  if (!LinkTargetStaysInside(where.relative, target))
    throw EInOutError("its link target \"" + target + "\" leads out of the destination");
  TTarget t = Below(where, true);
  if (t.folder.KindOf(t.name) == files::TItemKind::Folder)
    throw EInOutError("\"" + t.path + "\" is in the way: it is a folder");
  std::string temp;
  try {
    temp = t.folder.MakeTempLink(target, kTempPrefix);
  } catch (const std::system_error& e) {
    throw EInOutError(e.what());
  }
  if (moment) (void)t.folder.SetLinkTime(temp, *moment);
  if (!t.folder.Rename(temp, t.name)) {
    const int error = errno;
    (void)t.folder.Remove(temp);
    throw EInOutError("Cannot put \"" + t.path + "\" in place: " + std::strerror(error));
  }
  placed_.insert(t.path);
}

void TPlacement::MakeFolder(const std::string& relative, std::optional<mode_t> mode,
                            std::optional<time_t> moment) {
  try {
    (void)dest_.Open(relative, true);
  } catch (const std::runtime_error& e) {
    throw EInOutError(e.what());
  }
  // The destination itself keeps what the user gave it.
  if (!parts(relative).empty() && (mode || moment)) folders_.push_back({relative, mode, moment});
}

void TPlacement::Finish() {
  // Deepest first: a parent's time is set after everything inside it has been written.
  std::stable_sort(folders_.begin(), folders_.end(), [](const auto& a, const auto& b) {
    return parts(a.relative).size() > parts(b.relative).size();
  });
  for (const TFolderStamp& f : folders_) {
    try {
      files::TFolder folder = dest_.Open(f.relative, false);
      if (f.mode) (void)folder.SetMode(*f.mode);
      if (f.moment) (void)folder.SetTime(*f.moment);
    } catch (const std::runtime_error&) {
      // Removed or replaced meanwhile: nothing to stamp.
    }
  }
  folders_.clear();
}

}  // namespace quelt
