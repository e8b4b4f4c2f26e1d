// Where an entry goes on extraction. Stored folders are rebuilt below the destination, and
// nothing a stored name says can lead outside it.
#pragma once

#include <string>

namespace quelt {

struct TExtractPath {
  std::string folder;  // ends in "/"
  std::string path;    // folder + file name
  std::string relative;  // the folder below the destination, "/"-separated; "" for itself
  std::string name;      // the file name as it will be written
  bool unsafe = false;  // an absolute path, a drive or ".." was dropped
  bool badName = false;  // the file name itself was "." or "..": nothing can be written
};

// destDir: the destination ("" means the current folder); rootDir: a leading part of stored
// folders to drop ("/"-form, ends in "/" when not empty); dir and name: the entry's stored
// folder ("\"-separated, ends in "\" when not empty) and file name.
TExtractPath BuildExtractPath(const std::string& destDir, const std::string& rootDir,
                              bool recreateDirs, const std::string& dir, const std::string& name);

}  // namespace quelt
