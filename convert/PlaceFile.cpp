#include "convert/PlaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quelt {

bool PlaceFile(const std::string& built, const std::string& target, bool replace) {
  if (replace) return ::rename(built.c_str(), target.c_str()) == 0;
  if (::renameat2(AT_FDCWD, built.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that rename: a hard link refuses an existing name just as well.
  if (::link(built.c_str(), target.c_str()) != 0) return false;
  ::unlink(built.c_str());
  return true;
}

}  // namespace quelt
