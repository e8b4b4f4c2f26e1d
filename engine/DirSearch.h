// Depth-first search of a folder, and optionally its subfolders, for files fitting a mask.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quelt {

class TDirSearch {
 public:
  // Reads the start folder at once; EInOutError naming it when it cannot be read.
  // `ignoreCase` compares the mask's A to Z without case; `keepLinks` returns links to
  // folders as items of their own instead of passing them over.
  TDirSearch(const std::string& folder, bool recurse, const std::string& mask,
             bool ignoreCase = true, bool keepLinks = false);

  // The next fitting file's full path, or nothing when the search is done. Each folder's
  // items come in name order, a subfolder's files where the subfolder stands; links to
  // folders are never entered. With recursion an empty subfolder whose name fits is returned
  // too, so that it can be kept. A name without an extension is matched as if it ended in
  // ".", so "*.*" fits it.
  std::optional<std::string> Next();
  // Subfolders that could not be read and were passed over.
  const std::vector<std::string>& Unreadable() const { return unreadable_; }
  // Links to folders that recursion passed over (all of them, fitting the mask or not).
  const std::vector<std::string>& LinkedFolders() const { return linkedFolders_; }

 private:
  struct TItem {
    std::string name;
    bool folder;
  };
  struct TLevel {
    std::string path;  // ends in "/"; empty for the current folder
    std::vector<TItem> items;
    size_t next = 0;
    bool empty = true;  // nothing at all in it, passed-over links included
  };
  [[nodiscard]] bool push(const std::string& path);
  bool fits(const std::string& name) const;

  std::vector<TLevel> stack_;  // grows with the depth; no limit of its own
  std::vector<std::string> unreadable_, linkedFolders_;
  bool recurse_, ignoreCase_, keepLinks_;
  std::string mask_;
};

}  // namespace quelt
