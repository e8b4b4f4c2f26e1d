// Depth-first search of a folder, and optionally its subfolders, for files fitting a mask.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quelt {

class TDirSearch {
 public:
  // Reads the start folder at once; EInOutError naming it when it cannot be read.
  TDirSearch(const std::string& folder, bool recurse, const std::string& mask);

  // The next fitting file's full path, or nothing when the search is done. Each folder's
  // items come in name order, a subfolder's files where the subfolder stands; folders whose
  // names begin with "." and symbolic links to folders are never entered. A name without an
  // extension is matched as if it ended in ".", so "*.*" fits it.
  std::optional<std::string> Next();
  // Subfolders that could not be read and were passed over.
  const std::vector<std::string>& Unreadable() const { return unreadable_; }

 private:
  struct TItem {
    std::string name;
    bool folder;
  };
  struct TLevel {
    std::string path;  // ends in "/"
    std::vector<TItem> items;
    size_t next = 0;
  };
  [[nodiscard]] bool push(const std::string& path);

  std::vector<TLevel> stack_;  // grows with the depth; no limit of its own
  std::vector<std::string> unreadable_;
  bool recurse_;
  std::string mask_;
};

}  // namespace quelt
