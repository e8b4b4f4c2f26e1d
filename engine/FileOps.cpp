#include "engine/FileOps.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/BufferStream.h"
#include "engine/Errors.h"
#include "platform/FileSystem.h"

namespace quelt {

TScratchFile::~TScratchFile() {
  if (!path.empty()) ::unlink(path.c_str());
}

std::string MakeTempFile(const std::string& folder, const std::string& prefix) {
  std::string path = files::TempFileName(folder.empty() ? "." : folder, prefix);
  static const mode_t mask = [] {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  ::chmod(path.c_str(), 0666 & ~mask);
  return path;
}

std::string FolderOf(const std::string& path) {
  size_t cut = path.rfind('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

void RenameOver(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0)
    throw EInOutError("Cannot put \"" + to + "\" in place: " + std::strerror(errno));
}

void ReplaceFileAtomically(const std::string& built, const std::string& target) {
  const std::string folder = FolderOf(target);
  struct stat b, f, old;
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  const bool sameVolume = ::stat(built.c_str(), &b) == 0 && ::stat(folder.c_str(), &f) == 0 &&
                          b.st_dev == f.st_dev;
  std::string staged = built;
  if (!sameVolume) {
    staged = MakeTempFile(folder, "QLZ");
    try {
      TFileStream from(built, TOpenMode::Read), to(staged, TOpenMode::ReadWrite);
      std::vector<uint8_t> buf(65536);
      size_t got;
      while ((got = from.Read(buf.data(), buf.size())) > 0) to.Write(buf.data(), got);
      to.Sync();
      to.Close();
    } catch (...) {
      ::unlink(staged.c_str());
      throw;
    }
  }
  ::chmod(staged.c_str(), hadOld ? old.st_mode & 07777 : b.st_mode & 07777);
  if (::rename(staged.c_str(), target.c_str()) != 0) {
    int err = errno;
    if (!sameVolume) ::unlink(staged.c_str());
    throw EInOutError("Cannot put \"" + target + "\" in place: " + std::strerror(err));
  }
  (void)files::SyncFolder(folder);
  if (!sameVolume) ::unlink(built.c_str());
}

}  // namespace quelt
