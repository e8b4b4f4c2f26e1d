#include "cli/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "cli/Options.h"
#include "cli/TextWidth.h"

namespace quelt::cli {

namespace {
// Smaller work ends before a line would be of use.
constexpr int64_t kLargeWork = 4 << 20;
constexpr auto kSlowWork = std::chrono::seconds(2);
constexpr auto kRedraw = std::chrono::milliseconds(200);

ProgressLine* gActive = nullptr;

size_t terminalColumns() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

std::string clockText(int64_t seconds) {
  char buf[32];
  if (seconds >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", (long long)(seconds / 3600),
                  (long long)(seconds / 60 % 60), (long long)(seconds % 60));
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld", (long long)(seconds / 60),
                  (long long)(seconds % 60));
  return buf;
}
}  // namespace

std::string HumanBytes(double bytes) {
  static const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024 && u < 4) {
    bytes /= 1024;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return buf;
}

ProgressLine::ProgressLine() {
  const CommonOptions& o = commonOptions();
  enabled_ = o.progress || (!o.quiet && isatty(STDERR_FILENO));
  gActive = this;
}

ProgressLine::~ProgressLine() {
  clear();
  if (gActive == this) gActive = nullptr;
}

void ProgressLine::clearAll() {
  if (gActive) gActive->clear();
}

void ProgressLine::start(int64_t totalBytes) {
  total_ = totalBytes;
  before_ = current_ = done_ = 0;
  started_ = lastDraw_ = Clock::now();
}

void ProgressLine::entry(const std::string& name, int64_t size) {
  before_ += current_;
  current_ = size;
  done_ = before_;
  name_ = name;
  tick();
}

void ProgressLine::entryPercent(int percent) {
  done_ = before_ + current_ * percent / 100;
  tick();
}

void ProgressLine::tick() {
  if (!enabled_) return;
  const auto now = Clock::now();
  if (now - lastDraw_ < kRedraw) return;
  if (!shown_ && total_ < kLargeWork && now - started_ < kSlowWork) return;
  lastDraw_ = now;
  draw();
}

void ProgressLine::draw() {
  const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  const double rate = seconds > 0 ? double(done_) / seconds : 0;
  const int percent = total_ > 0 ? int(done_ * 100 / total_) : 0;
  std::string line = HumanBytes(double(done_)) + " of " + HumanBytes(double(total_));
  char head[16];
  std::snprintf(head, sizeof head, "%3d%% ", percent);
  line = head + line + "  " + HumanBytes(rate) + "/s";
  if (rate > 0 && done_ < total_)
    line += "  " + clockText(int64_t(double(total_ - done_) / rate)) + " left";
  line += "  " + name_;
  // One column short of the width, so the terminal never wraps the line.
  line = FitWidth(EscapeName(line), terminalColumns() - 1);
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
  lastDraw_ = Clock::time_point{};  // drawn again at the next tick
}

}  // namespace quelt::cli
