#include "platform/TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/XdgDirs.h"

namespace quelt {

namespace {

std::runtime_error failure(const std::string& path, const std::string& why) {
  return std::runtime_error("Cannot use the temporary folder \"" + path + "\": " + why);
}

void makeFolders(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw failure(path, "it is not a folder");
    return;
  }
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) makeFolders(path.substr(0, slash));
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw failure(path, std::strerror(errno));
}

}  // namespace

std::string DefaultTempFolder() {
  return xdg::CacheHome() + "/quelt";
}

void PrepareTempFolder(const std::string& path) {
  if (path.empty()) throw failure(path, "no folder is set");
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  makeFolders(folder);
  if (folder != DefaultTempFolder()) return;
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) throw failure(folder, std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) throw failure(folder, "it is not a folder of its own");
  if (st.st_uid != ::geteuid()) throw failure(folder, "it belongs to another user");
  if ((st.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
    throw failure(folder, std::strerror(errno));
}

}  // namespace quelt
