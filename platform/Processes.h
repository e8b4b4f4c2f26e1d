// Starting other programs: a program and its arguments as separate strings (never one command
// line, never a shell), its output delivered line by line while it runs, its end reported.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformError.h"

namespace quelt {

enum class TOutputChannel { StdOut, StdErr };

struct TProcessOptions {
  // The program's current folder; empty keeps the caller's.
  std::string workingDir;
  // Each line of output as it arrives, without its line end. A line longer than 64 KiB is
  // delivered in pieces; the last line counts even without a line end.
  std::function<void(TOutputChannel, const std::string& line)> onLine;
  // Called between batches of output and at least every `pollMs` while the program runs: the
  // window handles its events here.
  // Returning false stops the program (and what it started): SIGTERM, SIGKILL after a grace.
  std::function<bool()> keepRunning;
  int pollMs = 50;
  // When set, a program still running after this many milliseconds is left to run on its own
  // and Run returns with `detached`. Its output then goes to a private file rather than a pipe
  // (a pipe nobody reads would block it), so lines arrive only once it has ended.
  std::optional<int> detachAfterMs;
};

struct TProcessResult {
  int exitCode = -1;       // the exit status when the program exited
  int signal = 0;          // the signal that ended it; 0 when it exited
  bool cancelled = false;  // ended because keepRunning said so
  bool detached = false;   // still running, left alone
  bool Exited() const { return !detached && signal == 0; }
  bool Succeeded() const { return Exited() && exitCode == 0; }
};

class IProcessRunner {
 public:
  virtual ~IProcessRunner() = default;

  // Runs argv[0] (a path, or a name found on PATH) with argv[1...] as its arguments and its
  // standard input empty, and waits for it as `options` say. Throws EPlatformError naming the
  // program when it cannot be started.
  virtual TProcessResult Run(const std::vector<std::string>& argv,
                             const TProcessOptions& options) = 0;
  // The full path of an executable file: `name` itself when it holds a "/", else the first
  // match in the absolute folders of PATH.
  virtual std::optional<std::string> FindProgram(const std::string& name) = 0;
};

// Runs as runner.Run does, and keeps the last line the program wrote to standard error, which
// is where tools say why they failed. `options.onLine` still gets every line.
TProcessResult RunKeepingLastError(IProcessRunner& runner, const std::vector<std::string>& argv,
                                   TProcessOptions options, std::string& lastError);

// Splits a parameter text into arguments as a shell would split words, without expanding
// anything: blanks separate, 'single' and "double" quotes group, a backslash takes the next
// character as it is (inside double quotes only before " \ $ `). Throws EPlatformError for an
// unclosed quote.
std::vector<std::string> SplitArguments(const std::string& text);

}  // namespace quelt
