#include "cli/Cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

#include "cli/Progress.h"
#include "engine/Errors.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt::cli {

namespace {
std::vector<Command>& registry() {
  static std::vector<Command> list;
  return list;
}

bool isFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

volatile sig_atomic_t gSignal = 0;

void onSignal(int sig) { gSignal = sig; }
}  // namespace

Registrar::Registrar(Command command) { registry().push_back(std::move(command)); }
const std::vector<Command>& commands() { return registry(); }

void error(const std::string& message) {
  ProgressLine::clearAll();  // an error starts its own line, not the end of the progress line
  std::cerr << "quelt-cli: " << message << "\n";
}

int usageError(const std::string& command, const std::string& message) {
  error(message);
  std::cerr << "Try 'quelt-cli " << command << " --help' for more information.\n";
  return kUsage;
}

bool parseSortMode(const std::string& word, TZipSortMode& mode) {
  // The same words and modes as the window's Sort menu.
  static const std::map<std::string, TZipSortMode> modes = {
      {"name", ByFileName},   {"path", ByName},          {"date", ByDate},
      {"size", ByUnCompressedSize}, {"packed", ByCompressedSize}, {"original", ByNone}};
  auto it = modes.find(word);
  if (it == modes.end()) return false;
  mode = it->second;
  return true;
}

bool parseIncompleteMode(const std::string& word, TIncompleteZipMode& mode) {
  if (word == "bad")
    mode = izAssumeBad;
  else if (word == "multi")
    mode = izAssumeMulti;
  else
    return false;
  return true;
}

std::vector<std::string> VolumeFinder::candidates(int n, int lastVolume) const {
  std::string base = archive_, ext;
  size_t slash = archive_.rfind('/');
  size_t dot = archive_.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    base = archive_.substr(0, dot);
    ext = archive_.substr(dot);
  }
  char num[32];
  std::vector<std::string> names;
  std::snprintf(num, sizeof num, ".%03d", n);
  names.push_back(base + num);
  if (n == lastVolume) names.push_back(archive_);
  std::snprintf(num, sizeof num, n < 100 ? ".z%02d" : ".z%d", n);
  names.push_back(base + num);
  return names;
}

bool askDisk(int n) {
  if (!isatty(STDIN_FILENO)) return false;
  std::cerr << "Please insert disk " << n << " of the multi-disk set. " << std::flush;
  std::string line;
  return std::getline(std::cin, line) && !line.empty();
}

void VolumeFinder::install(TUnZipEngine& engine) {
  engine.OnGetNextDisk = [this](TUnZipEngine& sender, int n, std::string& fname) {
    // Disks of a spanned set carry the same file name: the user swaps them in the drive.
    if (sender.MultiMode() == mmSpan && isatty(STDIN_FILENO)) {
      if (!askDisk(n)) fname.clear();
      return;
    }
    const int last = sender.EndRecord().NumberOfThisDisk + 1;
    std::vector<std::string> names = candidates(n, last);
    std::string found;
    for (const auto& name : names) {
      if (isFile(name)) {
        found = name;
        break;
      }
    }
    // The engine asks again when an answer does not do; the same answer twice means no.
    if (!found.empty() && !(n == lastAsked_ && found == lastAnswer_)) {
      lastAsked_ = n;
      lastAnswer_ = found;
      fname = found;
      return;
    }
    missing_ = "volume " + std::to_string(n) + " of the multi-volume set is needed: " +
               (found.empty() ? "no file " + names.front() + " (or " + names.back() + ")"
                              : found + " is not that volume");
    fname.clear();
  };
}

void loadArchive(TUnZipEngine& engine, const std::string& file, const std::string& shownAs) {
  const std::string& archive = shownAs.empty() ? file : shownAs;
  engine.SetZipName(file);
  engine.LoadCatalogue();
  if (engine.Rebuilt() && engine.Count() == 0) {
    if (!engine.CatalogueDamage().empty())
      throw std::runtime_error(archive + " is damaged or incomplete: " + engine.CatalogueDamage() +
                               "; no entry could be found");
    throw std::runtime_error(archive + ": not a ZIP archive (no entries found)");
  }
}

int guarded(const std::function<int()>& body, const VolumeFinder* finder) {
  try {
    return body();
  } catch (const EUserCanceled& e) {
    if (gSignal != 0)
      error(std::string("interrupted by ") + (gSignal == SIGINT ? "SIGINT" : "SIGTERM"));
    else
      error(finder && !finder->missing().empty() ? finder->missing() : e.what());
  } catch (const std::exception& e) {
    error(e.what());
  }
  return kUnreadable;
}

std::string patternFromArg(const std::string& arg) { return Backslashed(arg); }

void cancelOnSignals(TUnZipEngine& engine) {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the next signal has its usual effect
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // The engine lets its host run at every check; that is where the signal becomes a cancel.
  engine.DoProcessMessages = true;
  engine.Host.ProcessMessages = [&engine] {
    if (gSignal != 0) engine.RequestCancel();
  };
}

int afterSignals(int status) { return gSignal != 0 ? 128 + gSignal : status; }

StdinArchive::~StdinArchive() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool StdinArchive::take(std::string& archive) {
  if (isatty(STDIN_FILENO)) {
    error("the archive '-' is read from standard input, which is a terminal");
    return false;
  }
  std::string pattern = files::SystemTempFolder() + "/quelt-stdin-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    error("cannot make a temporary file in " + files::SystemTempFolder());
    return false;
  }
  path_ = pattern;
  char buf[65536];
  for (;;) {
    ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error(std::string("cannot read standard input: ") + std::strerror(errno));
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::write(fd, buf + done, size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        error("cannot copy standard input to " + path_ + ": " + std::strerror(errno));
        ::close(fd);
        return false;
      }
      done += put;
    }
    if (gSignal != 0) {
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  archive = path_;
  return true;
}

std::string shownArchive(const std::string& given) {
  return given == "-" ? "standard input" : given;
}

bool reportDamage(const TUnZipEngine& engine, const std::string& archive) {
  if (engine.CatalogueDamage().empty()) return false;
  error(archive + " is damaged or incomplete: " + engine.CatalogueDamage());
  return true;
}

}  // namespace quelt::cli
