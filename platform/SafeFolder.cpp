#include "platform/SafeFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <stdexcept>
#include <system_error>

namespace quelt::files {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

std::string joined(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  return a.back() == '/' ? a + b : a + "/" + b;
}

std::string randomName(const std::string& prefix) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random(std::random_device{}() ^ unsigned(::getpid()));
  std::string name = prefix;
  for (int i = 0; i < 6; ++i) name += kChars[random() % 62];
  return name;
}

bool setTime(int dirFd, const char* name, time_t moment, int flags) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = moment;
  times[1].tv_nsec = 0;
  return name ? ::utimensat(dirFd, name, times, flags) == 0 : ::futimens(dirFd, times) == 0;
}

}  // namespace

TFolder::TFolder(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) fail(errno, "Cannot open the folder \"" + path + "\"");
}

TFolder::TFolder(TFolder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

TFolder& TFolder::operator=(TFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

TFolder::~TFolder() {
  if (fd_ >= 0) ::close(fd_);
}

TFolder TFolder::Open(const std::string& relative, bool create) const {
  int current = ::dup(fd_);
  if (current < 0) fail(errno, "Cannot open the folder \"" + path_ + "\"");
  TFolder folder(current, path_);
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    const std::string shown = joined(folder.path_, part);
    if (part == "..") throw std::runtime_error("\"" + shown + "\" leads out of the destination");
    int next = ::openat(folder.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && create) {
      // Another process making the same folder meanwhile is no failure.
      if (::mkdirat(folder.fd_, part.c_str(), 0777) != 0 && errno != EEXIST)
        fail(errno, "Cannot make the folder \"" + shown + "\"");
      next = ::openat(folder.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      const int error = errno;
      switch (folder.KindOf(part)) {
        case TItemKind::Link:
          throw std::runtime_error("\"" + shown +
                                   "\" is a symbolic link; nothing is written through it");
        case TItemKind::File:
        case TItemKind::Other:
          throw std::runtime_error("\"" + shown + "\" is in the way: it is a file, not a folder");
        default:
          fail(error, "Cannot open the folder \"" + shown + "\"");
      }
    }
    folder = TFolder(next, shown);
  }
  return folder;
}

TItemKind TFolder::KindOf(const std::string& name) const {
  struct stat st;
  if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return TItemKind::None;
  if (S_ISLNK(st.st_mode)) return TItemKind::Link;
  if (S_ISDIR(st.st_mode)) return TItemKind::Folder;
  if (S_ISREG(st.st_mode)) return TItemKind::File;
  return TItemKind::Other;
}

int TFolder::CreateTemp(const std::string& prefix, std::string& name) const {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = randomName(prefix);
    int fd =
        ::openat(fd_, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      name = candidate;
      return fd;
    }
    if (errno != EEXIST) fail(errno, "Unable to create a temporary file in " + path_);
  }
  fail(EEXIST, "Unable to create a temporary file in " + path_);
}

bool TFolder::Rename(const std::string& from, const std::string& to) const {
  return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0;
}

bool TFolder::Remove(const std::string& name) const {
  return ::unlinkat(fd_, name.c_str(), 0) == 0;
}

std::string TFolder::MakeTempLink(const std::string& target, const std::string& prefix) const {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = randomName(prefix);
    if (::symlinkat(target.c_str(), fd_, candidate.c_str()) == 0) return candidate;
    if (errno != EEXIST) fail(errno, "Unable to make a link in " + path_);
  }
  fail(EEXIST, "Unable to make a link in " + path_);
}

bool TFolder::SetLinkTime(const std::string& name, time_t moment) const {
  return setTime(fd_, name.c_str(), moment, AT_SYMLINK_NOFOLLOW);
}

bool TFolder::SetMode(mode_t mode) const {
  return SetDescriptorMode(fd_, mode);
}

bool TFolder::SetTime(time_t moment) const {
  return SetDescriptorTime(fd_, moment);
}

bool SetDescriptorMode(int fd, mode_t mode) {
  return ::fchmod(fd, mode) == 0;
}

bool SetDescriptorTime(int fd, time_t moment) {
  return setTime(fd, nullptr, moment, 0);
}

}  // namespace quelt::files
