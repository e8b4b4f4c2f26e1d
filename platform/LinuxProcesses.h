// Programs started with posix_spawn: no shell, the argument vector as given, a process group
// of their own (so stopping one stops what it started), standard input from /dev/null.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Processes.h"

namespace quelt {

class TLinuxProcessRunner : public IProcessRunner {
 public:
  TLinuxProcessRunner() = default;
  // Collects programs left running that have ended since; never waits for the others.
  ~TLinuxProcessRunner() override;
  TLinuxProcessRunner(const TLinuxProcessRunner&) = delete;
  TLinuxProcessRunner& operator=(const TLinuxProcessRunner&) = delete;

  TProcessResult Run(const std::vector<std::string>& argv, const TProcessOptions& options) override;
  std::optional<std::string> FindProgram(const std::string& name) override;

 private:
  void reapDetached();

  std::vector<pid_t> detached_;
};

// The absolute folders named in PATH, in order.
std::vector<std::string> PathFolders();
// An executable regular file named `name` in the first of `folders` that has one; `name`
// itself when it holds a "/".
std::optional<std::string> FindExecutable(const std::string& name,
                                          const std::vector<std::string>& folders);

}  // namespace quelt
