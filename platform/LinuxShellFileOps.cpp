#include "platform/LinuxShellFileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

using files::TFd;

constexpr size_t kChunk = 1 << 20;

struct TOperation {
  const char* verb;
  const std::string& source;
  const std::string& target;

  [[noreturn]] void fail(const std::string& why) const {
    throw EPlatformError(std::string("Unable to ") + verb + " \"" + source + "\" to \"" + target +
                         "\": " + why);
  }
  [[noreturn]] void failErrno(int error) const { fail(std::strerror(error)); }
};

// Removes a half-made temporary file unless it was put in place.
struct TTempGuard {
  std::string path;
  ~TTempGuard() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Refuses targets that cannot be replaced by a file and asks before replacing an existing one;
// false when the user keeps it.
bool settleTarget(const TOperation& op, const struct stat& source, const TConfirmReplace& confirm) {
  struct stat st;
  if (::stat(op.target.c_str(), &st) == 0) {
    if (sameFile(st, source)) op.fail("source and target are the same file");
    if (S_ISDIR(st.st_mode)) op.fail("the target is a folder");
  }
  if (::lstat(op.target.c_str(), &st) != 0) {
    if (errno != ENOENT) op.failErrno(errno);
    std::string folder = files::FolderOf(op.target);
    if (!files::IsFolder(folder)) op.fail("there is no folder " + folder);
    return true;
  }
  // Without anyone to ask, an existing file is never replaced.
  return confirm && confirm(op.target);
}

int copyBytes(int from, int to) {
  std::vector<char> buf(kChunk);
  while (true) {
    ssize_t n = ::read(from, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    if (int rc = files::WriteAll(to, buf.data(), size_t(n))) return rc;
  }
}

int readFully(int fd, char* buf, size_t size, off_t offset, size_t& got) {
  got = 0;
  while (got < size) {
    ssize_t n = ::pread(fd, buf + got, size - got, offset + off_t(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    got += size_t(n);
  }
  return 0;
}

// Compares the two files' bytes as the disk gives them back.
bool sameBytes(const TOperation& op, int a, int b) {
  std::vector<char> bufA(kChunk), bufB(kChunk);
  for (off_t offset = 0;; offset += off_t(kChunk)) {
    size_t gotA, gotB;
    if (int rc = readFully(a, bufA.data(), kChunk, offset, gotA)) op.failErrno(rc);
    if (int rc = readFully(b, bufB.data(), kChunk, offset, gotB)) op.failErrno(rc);
    if (gotA != gotB || std::memcmp(bufA.data(), bufB.data(), gotA) != 0) return false;
    if (gotA < kChunk) return true;
  }
}

// Copies the open source into a hidden file beside the target, with the source's permissions
// and times, flushed to the disk (and compared with the source when `verify`), then renames it
// over the target.
void copyIntoPlace(const TOperation& op, int source, const struct stat& st, bool verify) {
  std::string folder = files::FolderOf(op.target);
  TTempGuard temp{folder + "/.quelt-copy-XXXXXX"};
  TFd out(::mkostemp(temp.path.data(), O_CLOEXEC));
  if (!out.valid()) {
    int error = errno;
    temp.path.clear();
    op.fail("cannot write in the folder " + folder + ": " + std::strerror(error));
  }
  if (int rc = copyBytes(source, out.get())) op.failErrno(rc);
  if (::fchmod(out.get(), st.st_mode & 0777) != 0) op.failErrno(errno);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out.get(), times) != 0) op.failErrno(errno);
  if (::fsync(out.get()) != 0) op.failErrno(errno);
  if (verify && !sameBytes(op, source, out.get())) op.fail("the copy does not match the original");
  if (int rc = out.close()) op.failErrno(rc);
  if (::rename(temp.path.c_str(), op.target.c_str()) != 0) op.failErrno(errno);
  temp.path.clear();
  (void)files::SyncFolder(folder);
}

TFd openSource(const TOperation& op, struct stat& st) {
  TFd fd(::open(op.source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) op.failErrno(errno);
  if (::fstat(fd.get(), &st) != 0) op.failErrno(errno);
  if (!S_ISREG(st.st_mode)) op.fail("the source is not a file");
  return fd;
}

}  // namespace

TFileOpOutcome TLinuxShellFileOps::CopyFile(const std::string& source, const std::string& target,
                                            const TConfirmReplace& confirm) {
  TOperation op{"copy", source, target};
  struct stat st;
  TFd in = openSource(op, st);
  if (!settleTarget(op, st, confirm)) return TFileOpOutcome::Declined;
  copyIntoPlace(op, in.get(), st, false);
  return TFileOpOutcome::Done;
}

TFileOpOutcome TLinuxShellFileOps::MoveFile(const std::string& source, const std::string& target,
                                            const TConfirmReplace& confirm) {
  TOperation op{"move", source, target};
  struct stat link;
  if (::lstat(source.c_str(), &link) != 0) op.failErrno(errno);
  struct stat st;
  TFd in = openSource(op, st);
  if (!settleTarget(op, st, confirm)) return TFileOpOutcome::Declined;

  const std::string sourceFolder = files::FolderOf(source);
  const std::string targetFolder = files::FolderOf(target);
  // A symbolic link is moved as what it shows: its file's bytes go to the target and the link
  // goes away, never the file it points to. Anything else on one file system is a rename.
  if (!S_ISLNK(link.st_mode)) {
    if (::rename(source.c_str(), target.c_str()) == 0) {
      (void)files::SyncFolder(targetFolder);
      (void)files::SyncFolder(sourceFolder);
      return TFileOpOutcome::Done;
    }
    if (errno != EXDEV) op.failErrno(errno);
  }
  // Only copy when the original can go afterwards, or the user ends up with two archives.
  if (::access(sourceFolder.c_str(), W_OK) != 0) {
    int error = errno;
    op.fail("the original cannot be removed from " + sourceFolder + ": " + std::strerror(error));
  }
  copyIntoPlace(op, in.get(), st, true);
  if (::unlink(source.c_str()) != 0) {
    int error = errno;
    throw EPlatformError("\"" + source + "\" was copied to \"" + target +
                         "\", but the original could not be removed: " + std::strerror(error));
  }
  (void)files::SyncFolder(sourceFolder);
  return TFileOpOutcome::Done;
}

}  // namespace quelt
