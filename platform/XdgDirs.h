// Where the freedesktop base-directory rules put a user's data and configuration. Each call
// reads the environment afresh, so a test (or the user) may point them elsewhere.
#pragma once

#include <string>
#include <vector>

namespace quelt::xdg {

// $HOME, else the account's home folder, else "/tmp".
std::string HomeFolder();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::string DataHome();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string ConfigHome();
// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
std::string CacheHome();
// The absolute entries of $XDG_DATA_DIRS, else /usr/local/share and /usr/share.
std::vector<std::string> DataDirs();

}  // namespace quelt::xdg
