// The progress line of long commands: one self-updating line on standard error with the
// bytes done, percent, rate, time left and the current entry. It shows on a terminal once
// the work is large (a few megabytes, or a couple of seconds), never when standard error
// is not a terminal unless --progress asked for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quelt::cli {

class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void start(int64_t totalBytes);
  // An entry of `size` bytes begins; what came before it counts as done.
  void entry(const std::string& name, int64_t size);
  // The current entry is `percent` done.
  void entryPercent(int percent);
  // Redraws when enough time has passed since the last drawing.
  void tick();
  // Removes the line from the terminal (before other output, and at the end).
  void clear();
  // Clears the line of the command running, if any.
  static void clearAll();

 private:
  void draw();

  using Clock = std::chrono::steady_clock;
  bool enabled_ = false, shown_ = false;
  int64_t total_ = 0, before_ = 0, current_ = 0, done_ = 0;
  std::string name_;
  Clock::time_point started_, lastDraw_;
};

// "12.3 MiB": bytes for people.
std::string HumanBytes(double bytes);

}  // namespace quelt::cli
