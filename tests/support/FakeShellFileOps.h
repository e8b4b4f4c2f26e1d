// A stand-in for the whole-file copy and move: every call is recorded; an existing target is
// put to the caller's question as the real layer does; then the call fails with a queued
// message, or does the plain job on disk so a test can look at the files afterwards.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ShellFileOps.h"

namespace quelt::test {

struct TFileOpCall {
  std::string op;  // "copy" or "move"
  std::string source, target;
  bool asked = false;  // the target existed and the caller was asked
};

class TFakeShellFileOps : public IShellFileOps {
 public:
  // The next call throws EPlatformError with this text (after asking, as a late failure would).
  void FailNext(std::string message) { failures_.push_back(std::move(message)); }

  std::vector<TFileOpCall> calls;

  TFileOpOutcome CopyFile(const std::string& source, const std::string& target,
                          const TConfirmReplace& confirm) override {
    return run("copy", source, target, confirm);
  }
  TFileOpOutcome MoveFile(const std::string& source, const std::string& target,
                          const TConfirmReplace& confirm) override {
    return run("move", source, target, confirm);
  }

 private:
  TFileOpOutcome run(const char* op, const std::string& source, const std::string& target,
                     const TConfirmReplace& confirm) {
    namespace fs = std::filesystem;
    TFileOpCall call{op, source, target};
    call.asked = fs::exists(fs::symlink_status(target));
    calls.push_back(call);
    if (call.asked && !(confirm && confirm(target))) return TFileOpOutcome::Declined;
    if (!failures_.empty()) {
      std::string message = std::move(failures_.front());
      failures_.pop_front();
      throw EPlatformError(message);
    }
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    if (call.op == "move") fs::remove(source);
    return TFileOpOutcome::Done;
  }

  std::deque<std::string> failures_;
};

}  // namespace quelt::test
