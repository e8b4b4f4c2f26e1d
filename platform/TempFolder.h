// The folder where the window puts temporary copies of entries (to open, edit or view them)
// and builds new archives. By default it is the user's own, so that no other account can
// read a copy or slip a link into its place.
#pragma once

#include <string>

namespace quelt {

// $XDG_CACHE_HOME/quelt (else ~/.cache/quelt); not made by this call.
std::string DefaultTempFolder();

// Makes sure `path` is a folder, making missing folders (mode 0700) on the way. The default
// folder must moreover be a real folder (no link) of this user; it is set to mode 0700.
// Throws std::runtime_error with a message for the user.
void PrepareTempFolder(const std::string& path);

}  // namespace quelt
