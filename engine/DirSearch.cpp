#include "engine/DirSearch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/Errors.h"
#include "engine/WildMatch.h"

namespace quelt {

TDirSearch::TDirSearch(const std::string& folder, bool recurse, const std::string& mask,
                       bool ignoreCase, bool keepLinks)
    : recurse_(recurse), ignoreCase_(ignoreCase), keepLinks_(keepLinks), mask_(mask) {
  std::string start = folder.empty() ? "./" : folder;
  if (start.back() != '/') start += '/';
  // Files of the current folder come back by their names alone, as the user would type them.
  if (start == "./") start.clear();
  if (!push(start))
    throw EInOutError("Cannot read the folder \"" + (start.empty() ? "./" : start) +
                      "\": " + std::strerror(errno));
}

bool TDirSearch::push(const std::string& path) {
  DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
  if (!dir) return false;
  TLevel level;
  level.path = path;
  while (dirent* d = ::readdir(dir)) {
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    level.empty = false;
    struct stat st;
    // A link to a folder is not followed, so a loop of links cannot trap the search.
    if (::lstat((path + name).c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode) && ::stat((path + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (!keepLinks_) {
        if (recurse_) linkedFolders_.push_back(path + name);  // what recursion would miss
        continue;
      }
      st.st_mode = S_IFLNK;  // kept as the link it is
    }
    level.items.push_back({name, S_ISDIR(st.st_mode)});
  }
  ::closedir(dir);
  std::sort(level.items.begin(), level.items.end(),
            [](const TItem& a, const TItem& b) { return a.name < b.name; });
  stack_.push_back(std::move(level));
  return true;
}

bool TDirSearch::fits(const std::string& name) const {
  std::string probe = name.find('.') == std::string::npos ? name + "." : name;
  return WildcardMatch(mask_, probe, ignoreCase_);
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
      if (!recurse_) continue;
      // Folders whose names begin with "." hold files like any other on Linux.
      std::string sub = top.path + item.name;
      if (!push(sub + "/")) {
        unreadable_.push_back(sub + "/");
      } else if (stack_.back().empty && fits(item.name)) {
        stack_.pop_back();
        return sub;
      }
      continue;
    }
    if (fits(item.name)) return top.path + item.name;
  }
  return std::nullopt;
}

}  // namespace quelt
