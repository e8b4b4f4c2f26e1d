// Starting the command a self-extractor runs after extracting: no shell in between.
#pragma once

#include <string>
#include <vector>

namespace quelt::sfx {

struct TCommandResult {
  bool started = false;
  int status = 0;     // exit status when it exited normally
  int signal = 0;     // the signal that ended it, else 0
  std::string error;  // why it could not be started
};

// Runs argv[0] (looked for on PATH when it has no "/") with the arguments, and waits for it.
TCommandResult RunAndWait(const std::vector<std::string>& argv);

// The command as a person would type it, for messages.
std::string Quoted(const std::vector<std::string>& argv);

}  // namespace quelt::sfx
