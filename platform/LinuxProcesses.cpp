#include "platform/LinuxProcesses.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

extern char** environ;

namespace quelt {

namespace {

using files::TFd;
using TClock = std::chrono::steady_clock;

constexpr size_t kMaxLine = 64 * 1024;
// Output read between two calls of keepRunning, and read after the program ended (a child it
// left behind may still be writing).
constexpr size_t kBatch = 64 * 1024;
constexpr size_t kLeftover = 4 * 1024 * 1024;
// How long a program asked to stop may tidy up before it is killed.
constexpr auto kStopGrace = std::chrono::seconds(2);

[[noreturn]] void cannotStart(const std::string& name, int error) {
  throw EPlatformError("Unable to start " + name + ": " + std::strerror(error));
}

// Cuts a byte stream into lines for the caller's callback.
class TLineSplitter {
 public:
  TLineSplitter(TOutputChannel channel, const TProcessOptions& options)
      : channel_(channel), options_(options) {}

  void feed(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      if (data[i] == '\n') {
        emit();
      } else {
        line_.push_back(data[i]);
        if (line_.size() >= kMaxLine) emit();
      }
    }
  }
  void finish() {
    if (!line_.empty()) emit();
  }

 private:
  void emit() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (options_.onLine) options_.onLine(channel_, line_);
    line_.clear();
  }

  TOutputChannel channel_;
  const TProcessOptions& options_;
  std::string line_;
};

class TSpawnSetup {
 public:
  TSpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attr_);
  }
  ~TSpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attr_);
  }
  TSpawnSetup(const TSpawnSetup&) = delete;
  TSpawnSetup& operator=(const TSpawnSetup&) = delete;

  // 0 or the error of the step that failed.
  int prepare(int out, int err, const std::string& workingDir) {
    int rc = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (!rc) rc = ::posix_spawn_file_actions_adddup2(&actions_, out, 1);
    if (!rc) rc = ::posix_spawn_file_actions_adddup2(&actions_, err, 2);
    // The window's own descriptors (its X connection, open archives) are none of its business.
    if (!rc) rc = ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    if (!rc && !workingDir.empty())
      rc = ::posix_spawn_file_actions_addchdir_np(&actions_, workingDir.c_str());
    // A group of its own, so that stopping it also stops what it started.
    if (!rc) rc = ::posix_spawnattr_setpgroup(&attr_, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGXFSZ})
      sigaddset(&defaults, s);
    if (!rc) rc = ::posix_spawnattr_setsigmask(&attr_, &none);
    if (!rc) rc = ::posix_spawnattr_setsigdefault(&attr_, &defaults);
    if (!rc)
      rc = ::posix_spawnattr_setflags(
          &attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return rc;
  }
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attr() { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

// Where a program's two output streams go: pipes read while it runs, or private files read
// once it has ended.
struct TOutputPorts {
  TFd readOut, readErr;    // our ends
  TFd writeOut, writeErr;  // the program's ends, closed here once it has them
};

int makePipes(TOutputPorts& ports) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return errno;
  ports.readOut.reset(out[0]);
  ports.writeOut.reset(out[1]);
  if (::pipe2(err, O_CLOEXEC) != 0) return errno;
  ports.readErr.reset(err[0]);
  ports.writeErr.reset(err[1]);
  // Reads never block: after the program ends, a child of it may still hold a pipe open.
  ::fcntl(ports.readOut.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(ports.readErr.get(), F_SETFL, O_NONBLOCK);
  return 0;
}

// An unnamed file for output nobody reads while the program runs.
int makeOutputFile(TFd& read, TFd& write) {
  std::string folder = files::SystemTempFolder();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string name = folder + "/quelt-out-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    ::unlink(name.c_str());
  }
  read.reset(fd);
  write.reset(::dup(fd));
  return write.valid() ? 0 : errno;
}

int makeFiles(TOutputPorts& ports) {
  int rc = makeOutputFile(ports.readOut, ports.writeOut);
  return rc ? rc : makeOutputFile(ports.readErr, ports.writeErr);
}

// Reads what is there now, at most `limit` bytes, so that a program that writes without pause
// cannot keep the caller from its keepRunning; false once the stream has ended (or failed).
bool drain(TFd& fd, TLineSplitter& lines, size_t limit) {
  char buf[16384];
  for (size_t got = 0; got < limit;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n > 0) {
      lines.feed(buf, size_t(n));
      got += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    fd.reset();
    return false;
  }
  return true;
}

void deliverFile(TFd& fd, TLineSplitter& lines) {
  if (!fd.valid() || ::lseek(fd.get(), 0, SEEK_SET) != 0) return;
  drain(fd, lines, SIZE_MAX);
  lines.finish();
}

void signalGroup(pid_t pid, int sig) {
  // The group may be gone while the program itself lingers as a zombie; that is fine.
  if (::kill(-pid, sig) != 0) ::kill(pid, sig);
}

void fillResult(int status, TProcessResult& result) {
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
}

int msUntil(TClock::time_point when) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - TClock::now()).count();
  return int(std::clamp<long long>(left, 0, 60000));
}

}  // namespace

std::vector<std::string> PathFolders() {
  std::vector<std::string> folders;
  const char* path = std::getenv("PATH");
  if (!path) return folders;
  std::istringstream in(path);
  std::string dir;
  // Relative entries would find programs in whatever folder is current: never.
  while (std::getline(in, dir, ':'))
    if (!dir.empty() && dir[0] == '/') folders.push_back(dir);
  return folders;
}

std::optional<std::string> FindExecutable(const std::string& name,
                                          const std::vector<std::string>& folders) {
  auto runnable = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
  };
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos)
    return runnable(name) ? std::optional<std::string>(name) : std::nullopt;
  for (const auto& dir : folders) {
    std::string candidate = dir + "/" + name;
    if (runnable(candidate)) return candidate;
  }
  return std::nullopt;
}

TLinuxProcessRunner::~TLinuxProcessRunner() {
  reapDetached();
}

void TLinuxProcessRunner::reapDetached() {
  std::erase_if(detached_, [](pid_t pid) {
    int status;
    pid_t rc = ::waitpid(pid, &status, WNOHANG);
    return rc == pid || (rc < 0 && errno == ECHILD);
  });
}

std::optional<std::string> TLinuxProcessRunner::FindProgram(const std::string& name) {
  return FindExecutable(name, PathFolders());
}

TProcessResult TLinuxProcessRunner::Run(const std::vector<std::string>& argv,
                                        const TProcessOptions& options) {
  reapDetached();
  if (argv.empty() || argv[0].empty()) throw EPlatformError("No program was named to start.");
  const std::string& name = argv[0];
  auto program = FindProgram(name);
  if (!program) throw EPlatformError("Unable to start " + name + ": program not found");

  if (!options.workingDir.empty() && !files::IsFolder(options.workingDir))
    throw EPlatformError("Unable to start " + name + ": there is no folder " + options.workingDir);
  const bool detachable = options.detachAfterMs.has_value();
  TOutputPorts ports;
  if (int rc = detachable ? makeFiles(ports) : makePipes(ports)) cannotStart(name, rc);
  TSpawnSetup setup;
  if (int rc = setup.prepare(ports.writeOut.get(), ports.writeErr.get(), options.workingDir))
    cannotStart(name, rc);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (int rc = ::posix_spawn(&pid, program->c_str(), setup.actions(), setup.attr(), args.data(),
                             environ))
    cannotStart(name, rc);
  ports.writeOut.reset();
  ports.writeErr.reset();

  TLineSplitter outLines(TOutputChannel::StdOut, options),
      errLines(TOutputChannel::StdErr, options);
  TProcessResult result;
  const int pollMs = std::max(1, options.pollMs);
  const auto start = TClock::now();
  auto killAt = TClock::time_point::max();  // when a program asked to stop gets SIGKILL
  bool exited = false;
  while (!exited) {
    pollfd fds[2];
    nfds_t count = 0;
    if (!detachable) {
      for (TFd* fd : {&ports.readOut, &ports.readErr})
        if (fd->valid()) fds[count++] = {fd->get(), POLLIN, 0};
    }
    int wait = pollMs;
    wait = std::min(wait, msUntil(killAt));
    if (::poll(count ? fds : nullptr, count, wait) < 0 && errno != EINTR) break;
    if (!detachable) {
      if (ports.readOut.valid()) drain(ports.readOut, outLines, kBatch);
      if (ports.readErr.valid()) drain(ports.readErr, errLines, kBatch);
    }

    int status;
    pid_t rc = ::waitpid(pid, &status, WNOHANG);
    if (rc == pid) {
      fillResult(status, result);
      exited = true;
      break;
    }
    if (rc < 0 && errno != EINTR) break;

    if (!result.cancelled && options.keepRunning && !options.keepRunning()) {
      result.cancelled = true;
      signalGroup(pid, SIGTERM);
      killAt = TClock::now() + kStopGrace;
    }
    if (TClock::now() >= killAt) {
      signalGroup(pid, SIGKILL);
      killAt = TClock::time_point::max();
    }
    if (detachable && !result.cancelled &&
        TClock::now() - start >= std::chrono::milliseconds(*options.detachAfterMs)) {
      detached_.push_back(pid);
      result.detached = true;
      return result;
    }
  }
  if (!exited) {
    // The wait itself failed; the program is collected later rather than left a zombie.
    detached_.push_back(pid);
  }
  if (detachable) {
    deliverFile(ports.readOut, outLines);
    deliverFile(ports.readErr, errLines);
  } else {
    // What the program wrote before it ended; a child it left behind may keep the pipes open,
    // so nothing more is waited for.
    if (ports.readOut.valid()) drain(ports.readOut, outLines, kLeftover);
    if (ports.readErr.valid()) drain(ports.readErr, errLines, kLeftover);
    outLines.finish();
    errLines.finish();
  }
  return result;
}

}  // namespace quelt
