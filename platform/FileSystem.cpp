#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/FileDescriptor.h"

namespace quelt::files {

namespace {

bool statPath(const std::string& path, bool followSymlink, struct stat& st) {
  return (followSymlink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
}

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

uint32_t packDosDateTime(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = uint32_t(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = uint32_t((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

std::string withoutTrailingSlashes(const std::string& path) {
  auto end = path.find_last_not_of('/');
  return end == std::string::npos ? std::string("/") : path.substr(0, end + 1);
}

}  // namespace

uint8_t DosAttributesFromMode(mode_t mode) {
  uint8_t attributes = 0;
  if ((mode & S_IWUSR) == 0) attributes |= kDosReadOnly;
  if (S_ISDIR(mode)) attributes |= kDosFolder;
  if (S_ISREG(mode)) attributes |= kDosArchive;
  return attributes;
}

std::optional<uint8_t> DosAttributesOf(const std::string& path) {
  struct stat st;
  if (!statPath(path, true, st)) return std::nullopt;
  return DosAttributesFromMode(st.st_mode);
}

bool ApplyDosAttributes(const std::string& path, uint8_t attributes) {
  struct stat st;
  if (!statPath(path, false, st)) return false;
  // A read-only folder would refuse the entries extracted into it after it; and chmod
  // would act on a symlink's target, which extraction must never touch.
  if (!S_ISREG(st.st_mode) || (attributes & kDosReadOnly) == 0) return true;
  return ::chmod(path.c_str(), st.st_mode & 07555) == 0;
}

std::optional<uint32_t> DosDateTimeFromTime(time_t moment) {
  std::tm tm{};
  if (!::localtime_r(&moment, &tm)) return std::nullopt;
  int year = tm.tm_year + 1900;
  if (year < 1980) return packDosDateTime(1980, 1, 1, 0, 0, 0);
  if (year > 2107) return packDosDateTime(2107, 12, 31, 23, 59, 58);
  // A leap second (tm_sec 60) would overflow the 5-bit field.
  int second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  return packDosDateTime(year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, second);
}

std::optional<time_t> TimeFromDosDateTime(uint32_t dosDateTime) {
  int year = int((dosDateTime >> 25) & 0x7F) + 1980;
  int month = int((dosDateTime >> 21) & 0x0F);
  int day = int((dosDateTime >> 16) & 0x1F);
  int hour = int((dosDateTime >> 11) & 0x1F);
  int minute = int((dosDateTime >> 5) & 0x3F);
  int second = int(dosDateTime & 0x1F) * 2;
  // mktime would quietly roll 31 April into May; such a value names no moment.
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  time_t moment = ::mktime(&tm);
  if (moment == time_t(-1)) return std::nullopt;
  return moment;
}

std::optional<uint32_t> FileDosDateTime(const std::string& path) {
  struct stat st;
  if (!statPath(path, true, st)) return std::nullopt;
  return DosDateTimeFromTime(st.st_mtim.tv_sec);
}

bool SetFileDosDateTime(const std::string& path, uint32_t dosDateTime) {
  auto moment = TimeFromDosDateTime(dosDateTime);
  if (!moment) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = *moment;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string TempFileName(const std::string& folder, const std::string& prefix) {
  if (folder.empty())
    throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                            "Unable to create a temporary file: no folder given");
  if (prefix.find('/') != std::string::npos)
    throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                            "Unable to create a temporary file: bad prefix " + prefix);
  std::string base = withoutTrailingSlashes(folder);
  std::string name = (base == "/" ? "" : base) + "/" + prefix + "XXXXXX";
  // mkostemp creates the file and its name in one step, so no other process can claim it.
  TFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0)
    throw std::system_error(errno, std::generic_category(),
                            "Unable to create a temporary file in " + folder);
  return name;
}

std::string SystemTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && *tmp && IsFolder(tmp)) return withoutTrailingSlashes(tmp);
  return "/tmp";
}

void MakeFolders(const std::string& path, mode_t mode) {
  if (path.empty())
    throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                            "Unable to create directory");
  std::string target = withoutTrailingSlashes(path);
  if (IsFolder(target)) return;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = target.find('/', pos + 1);
    std::string part = target.substr(0, pos);
    if (::mkdir(part.c_str(), mode) == 0) continue;
    int error = errno;
    // Another process may make the same folder meanwhile; that counts as success.
    if (IsFolder(part)) continue;
    if (error == EEXIST) error = ENOTDIR;
    throw std::system_error(error, std::generic_category(), "Unable to create directory " + path);
  }
}

bool PathExists(const std::string& path, bool followSymlink) {
  struct stat st;
  return statPath(path, followSymlink, st);
}

bool IsFolder(const std::string& path, bool followSymlink) {
  struct stat st;
  return statPath(path, followSymlink, st) && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path, bool followSymlink) {
  struct stat st;
  return statPath(path, followSymlink, st) && S_ISREG(st.st_mode);
}

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat st;
  if (!statPath(path, true, st) || st.st_size < 0) return std::nullopt;
  return uint64_t(st.st_size);
}

std::string ResolveLinks(const std::string& path) {
  std::string p = path;
  for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit on a chain of links
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    std::string target(size_t(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
    ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
    if (n <= 0) return p;
    target.resize(size_t(n));
    size_t cut = p.rfind('/');
    p = target[0] == '/' || cut == std::string::npos ? target : p.substr(0, cut + 1) + target;
  }
  return p;
}

bool DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool SyncFile(const std::string& path) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

bool SyncFolder(const std::string& path) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

std::optional<std::string> ReadFileText(const std::string& path) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string text;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) return text;
    text.append(buf, size_t(n));
  }
}

int WriteAll(int fd, const void* data, size_t size) {
  auto p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    size -= size_t(n);
  }
  return 0;
}

void WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode) {
  std::string temp = path + ".XXXXXX";
  TFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.valid()) throw std::system_error(errno, std::generic_category(), "Cannot write " + path);
  int error = WriteAll(fd.get(), text.data(), text.size());
  if (!error && ::fchmod(fd.get(), mode) != 0) error = errno;
  if (!error && ::fsync(fd.get()) != 0) error = errno;
  if (int closed = fd.close(); !error) error = closed;
  if (!error && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temp.c_str());
    throw std::system_error(error, std::generic_category(), "Cannot write " + path);
  }
  // The rename itself is durable only once the folder is flushed.
  (void)SyncFolder(FolderOf(path));
}

std::string FolderOf(const std::string& path) {
  size_t cut = path.rfind('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ShortPathName(const std::string& path) {
  return path;
}

}  // namespace quelt::files
