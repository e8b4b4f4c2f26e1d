#include "engine/DirSearch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/Errors.h"
#include "engine/WildMatch.h"

namespace quelt {

TDirSearch::TDirSearch(const std::string& folder, bool recurse, const std::string& mask)
    : recurse_(recurse), mask_(mask) {
  std::string start = folder.empty() ? "./" : folder;
  if (start.back() != '/') start += '/';
  if (!push(start))
    throw EInOutError("Cannot read the folder \"" + start + "\": " + std::strerror(errno));
}

bool TDirSearch::push(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  TLevel level;
  level.path = path;
  while (dirent* d = ::readdir(dir)) {
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    // A link to a folder is not followed, so a loop of links cannot trap the search.
    if (::lstat((path + name).c_str(), &st) != 0) continue;
    level.items.push_back({name, S_ISDIR(st.st_mode)});
    if (S_ISLNK(st.st_mode) && ::stat((path + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      level.items.pop_back();
  }
  ::closedir(dir);
  std::sort(level.items.begin(), level.items.end(),
            [](const TItem& a, const TItem& b) { return a.name < b.name; });
  stack_.push_back(std::move(level));
  return true;
}

std::optional<std::string> TDirSearch::Next() {
  while (!stack_.empty()) {
    TLevel& top = stack_.back();
    if (top.next >= top.items.size()) {
      stack_.pop_back();
      continue;
    }
    const TItem item = top.items[top.next++];
    if (item.folder) {
      if (recurse_ && item.name[0] != '.') {
        std::string sub = top.path + item.name + "/";
        if (!push(sub)) unreadable_.push_back(sub);
      }
      continue;
    }
    std::string probe = item.name.find('.') == std::string::npos ? item.name + "." : item.name;
    if (WildcardMatch(mask_, probe)) return top.path + item.name;
  }
  return std::nullopt;
}

}  // namespace quelt
