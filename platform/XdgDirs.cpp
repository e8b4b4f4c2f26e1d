#include "platform/XdgDirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace quelt::xdg {

namespace {

// The rules ignore a relative value: it would mean a different folder in every current folder.
std::string absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string DataHome() {
  std::string dir = absoluteEnv("XDG_DATA_HOME");
  return dir.empty() ? HomeFolder() + "/.local/share" : dir;
}

std::string ConfigHome() {
  std::string dir = absoluteEnv("XDG_CONFIG_HOME");
  return dir.empty() ? HomeFolder() + "/.config" : dir;
}

std::string CacheHome() {
  std::string dir = absoluteEnv("XDG_CACHE_HOME");
  return dir.empty() ? HomeFolder() + "/.cache" : dir;
}

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs;
  if (const char* value = std::getenv("XDG_DATA_DIRS")) {
    std::istringstream in(value);
    std::string dir;
    while (std::getline(in, dir, ':'))
      if (!dir.empty() && dir[0] == '/') dirs.push_back(dir);
  }
  if (dirs.empty()) dirs = {"/usr/local/share", "/usr/share"};
  return dirs;
}

}  // namespace quelt::xdg
