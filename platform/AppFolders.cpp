#include "platform/AppFolders.h"

#include <unistd.h>

#include <climits>

// The install layout's folders below the prefix, as the build configured them.
#ifndef QUELT_INSTALL_BINDIR
#define QUELT_INSTALL_BINDIR "bin"
#endif
#ifndef QUELT_INSTALL_LIBDIR
#define QUELT_INSTALL_LIBDIR "lib"
#endif
#ifndef QUELT_INSTALL_DATADIR
#define QUELT_INSTALL_DATADIR "share"
#endif

namespace quelt {

namespace {

// The install prefix seen from the program's folder: one "../" for each part of the bin
// folder, so an installed tree can be moved as a whole.
std::string prefixFrom(const std::string& programFolder) {
  std::string prefix = programFolder;
  std::string bin = QUELT_INSTALL_BINDIR;
  for (size_t at = 0; at != std::string::npos; at = bin.find('/', at + 1)) prefix += "/..";
  return prefix;
}

class TLinuxAppFolders : public IAppFolders {
 public:
  std::string CurrentFolder() override {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
  }
  std::string ProgramFolder() override {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    std::string path(buf, size_t(n));
    size_t cut = path.rfind('/');
    if (cut == std::string::npos) return "";
    return cut == 0 ? "/" : path.substr(0, cut);
  }
  std::string LibraryFolder() override { return installed(QUELT_INSTALL_LIBDIR); }
  std::string DataFolder() override { return installed(QUELT_INSTALL_DATADIR); }

 private:
  std::string installed(const std::string& below) {
    if (!below.empty() && below[0] == '/') return below + "/quelt";
    std::string program = ProgramFolder();
    if (program.empty()) return "";
    return prefixFrom(program) + "/" + below + "/quelt";
  }
};

}  // namespace

IAppFolders& systemAppFolders() {
  static TLinuxAppFolders folders;
  return folders;
}

}  // namespace quelt
