// A scripted stand-in for starting programs: each Run takes the next queued script, records
// what was asked, hands the script's lines to the caller (asking keepRunning before each) and
// ends as the script says. A run with nothing queued, or a script left unused, fails the test.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Processes.h"

namespace quelt::test {

struct TScriptedRun {
  std::vector<std::pair<TOutputChannel, std::string>> lines;
  int exitCode = 0;
  int signal = 0;
  bool detached = false;
  std::optional<std::string> startError;  // Run throws EPlatformError with this text

  static TScriptedRun Exit(int code, std::vector<std::string> outLines = {}) {
    TScriptedRun run;
    run.exitCode = code;
    for (auto& line : outLines) run.lines.emplace_back(TOutputChannel::StdOut, std::move(line));
    return run;
  }
  // Ends with `code` after writing `errLine` to standard error.
  static TScriptedRun Fail(int code, std::string errLine) {
    TScriptedRun run = Exit(code);
    run.lines.emplace_back(TOutputChannel::StdErr, std::move(errLine));
    return run;
  }
  // Cannot be started at all.
  static TScriptedRun Unstartable(std::string message) {
    TScriptedRun run;
    run.startError = std::move(message);
    return run;
  }
};

struct TRecordedRun {
  std::vector<std::string> argv;
  std::string workingDir;
  std::optional<int> detachAfterMs;
};

class TFakeProcessRunner : public IProcessRunner {
 public:
  ~TFakeProcessRunner() override {
    EXPECT_TRUE(scripts_.empty()) << scripts_.size() << " scripted runs unused";
  }

  void Expect(TScriptedRun run) { scripts_.push_back(std::move(run)); }
  // Makes FindProgram answer `path` for `name`.
  void Install(const std::string& name, const std::string& path) { programs_[name] = path; }

  std::vector<TRecordedRun> runs;

  TProcessResult Run(const std::vector<std::string>& argv,
                     const TProcessOptions& options) override {
    runs.push_back({argv, options.workingDir, options.detachAfterMs});
    if (scripts_.empty()) {
      ADD_FAILURE() << "unexpected run of " << (argv.empty() ? "nothing" : argv[0]);
      throw EPlatformError("Unable to start: nothing scripted");
    }
    TScriptedRun script = std::move(scripts_.front());
    scripts_.pop_front();
    if (script.startError) throw EPlatformError(*script.startError);
    TProcessResult result;
    for (const auto& [channel, line] : script.lines) {
      if (options.keepRunning && !options.keepRunning()) {
        result.cancelled = true;
        result.signal = SIGTERM;
        return result;
      }
      if (options.onLine) options.onLine(channel, line);
    }
    result.exitCode = script.exitCode;
    result.signal = script.signal;
    result.detached = script.detached;
    return result;
  }

  std::optional<std::string> FindProgram(const std::string& name) override {
    auto it = programs_.find(name);
    if (it != programs_.end()) return it->second;
    for (const auto& [_, path] : programs_)
      if (path == name) return path;
    return std::nullopt;
  }

 private:
  std::deque<TScriptedRun> scripts_;
  std::map<std::string, std::string> programs_;
};

}  // namespace quelt::test
