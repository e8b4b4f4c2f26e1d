#include "engine/ExtractPath.h"

#include <vector>

#include "engine/ZipLib.h"

namespace quelt {

namespace {
bool isDrive(const std::string& c) {
  return c.size() == 2 && c[1] == ':' &&
         ((c[0] >= 'a' && c[0] <= 'z') || (c[0] >= 'A' && c[0] <= 'Z'));
}

// A NUL would end the path early in every system call; it cannot be part of a name.
std::string withoutNul(std::string s) {
  for (char& c : s)
    if (c == '\0') c = '_';
  return s;
}
}  // namespace

TExtractPath BuildExtractPath(const std::string& destDir, const std::string& rootDir,
                              bool recreateDirs, const std::string& dir, const std::string& name) {
  TExtractPath r;
  std::string dest = destDir.empty() ? "." : destDir;
  if (dest.back() != '/') dest += '/';
  r.folder = dest;
  if (recreateDirs && !dir.empty()) {
    std::string d = dir;
    if (!rootDir.empty()) {
      std::string root = rootDir;
      ToBackslashes(root);
      if (SameTextAZ(LeftStr(d, root.size()), root)) d.erase(0, root.size());
    }
    if (!d.empty() && d[0] == '\\') r.unsafe = true;
    size_t start = 0;
    bool first = true;
    while (start <= d.size()) {
      size_t end = d.find('\\', start);
      if (end == std::string::npos) end = d.size();
      std::string part = d.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      if (part == ".." || (first && isDrive(part))) {
        r.unsafe = true;
        first = false;
        continue;
      }
      first = false;
      r.folder += withoutNul(part) + "/";
      r.relative += (r.relative.empty() ? "" : "/") + withoutNul(part);
    }
  }
  if (name == "." || name == "..") {
    r.badName = r.unsafe = true;
    r.path = r.folder;
    return r;
  }
  r.name = withoutNul(name);
  r.path = r.folder + r.name;
  return r;
}

}  // namespace quelt
