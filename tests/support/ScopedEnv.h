// Sets environment variables for the length of a test and restores them afterwards, so that
// the layers that read XDG folders or PATH can be pointed at a scratch folder.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelt::test {

class TScopedEnv {
 public:
  TScopedEnv() = default;
  ~TScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

  // A value of nullopt removes the variable.
  TScopedEnv& Set(const std::string& name, std::optional<std::string> value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
    return *this;
  }
  // Points the XDG data and configuration folders into `scratch` (system folders at
  // `scratch`/system) and hides the desktop session, so the xdg-utils scripts work on files
  // of the test's own and take their generic paths.
  TScopedEnv& ScratchDesktop(const std::string& scratch) {
    return Set("XDG_DATA_HOME", scratch + "/data")
        .Set("XDG_CONFIG_HOME", scratch + "/config")
        .Set("XDG_DATA_DIRS", scratch + "/system")
        .Set("XDG_CONFIG_DIRS", scratch + "/system")
        .Set("XDG_CURRENT_DESKTOP", std::nullopt)
        .Set("KDE_FULL_SESSION", std::nullopt)
        .Set("GNOME_DESKTOP_SESSION_ID", std::nullopt)
        .Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
  }
  // Puts `folder` first on PATH.
  TScopedEnv& PrependPath(const std::string& folder) {
    const char* path = std::getenv("PATH");
    return Set("PATH", folder + ":" + (path ? path : "/usr/bin:/bin"));
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace quelt::test
