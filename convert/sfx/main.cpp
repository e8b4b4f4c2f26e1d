// quelt-sfx: the program in front of a self-extracting archive. It reads the record behind its
// own image and extracts the archive that follows with Quelt's engine, asking on its terminal
// what the record says it may ask.
#include <getopt.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "convert/SFXRecord.h"
#include "convert/sfx/RunCommand.h"
#include "convert/sfx/Selection.h"
#include "convert/sfx/SelfImage.h"
#include "convert/sfx/Terminal.h"
#include "engine/Errors.h"
#include "engine/UnZipEngine.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

using namespace quelt;
using namespace quelt::sfx;

namespace {

// The exit status of quelt-cli extract.
enum ExitCode { kOk = 0, kSomeFailed = 1, kUsage = 2, kUnreadable = 3 };

const char* kSelf = "/proc/self/exe";

const char* kHelp =
    "Usage: %s [OPTIONS] [PATTERN...]\n"
    "Extracts the archive this program carries (the entries matching the patterns, or all),\n"
    "then runs the command it was made with. On a terminal it asks for the folder, the files,\n"
    "what to do with existing files, passwords and whether to run the command, as far as it\n"
    "was made to ask; without one it takes its defaults and never replaces a file it would\n"
    "have asked about.\n\n"
    "  -d DIR        extract into DIR\n"
    "  -l            list the entries and stop\n"
    "  -t            test the entries (decompress and check) and stop\n"
    "  -o            replace existing files without asking\n"
    "  -n            never replace existing files\n"
    "  -P PASSWORD   the password of encrypted entries\n"
    "  -y            ask nothing: take the defaults\n"
    "      --help    show this help\n"
    "      --version show the version\n\n"
    "Exit status: 0 success, 1 some entries failed (or the command failed), 2 usage error,\n"
    "3 the archive could not be read.\n";

struct TOptions {
  std::string dest, password;
  bool destGiven = false, passwordGiven = false, list = false, test = false, noQuestions = false;
  int overwrite = -1;  // OvrAlways or OvrNever when given
  std::vector<std::string> patterns;
};

std::string entryName(const TUnZipEngine& engine, int index) {
  return Slashed(engine.Entry(index).FullName());
}

std::string dosDate(uint32_t dos) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", (dos >> 25) + 1980, (dos >> 21) & 15,
                (dos >> 16) & 31, (dos >> 11) & 31, (dos >> 5) & 63);
  return buf;
}

int list(TUnZipEngine& engine) {
  int64_t total = 0;
  std::printf("%12s  %-16s  %s\n", "Size", "Date", "Name");
  for (int i = 0; i < engine.Count(); ++i) {
    const TZipHeaderInfo& e = engine.Entry(i);
    std::printf("%12lld  %-16s  %s%s\n", static_cast<long long>(e.UncompressedSize),
                dosDate(e.LastModFileDateTime).c_str(), entryName(engine, i).c_str(),
                e.Encrypted() ? " (encrypted)" : "");
    total += e.UncompressedSize;
  }
  std::printf("%12lld  %-16s  %d %s\n", static_cast<long long>(total), "", engine.Count(),
              engine.Count() == 1 ? "entry" : "entries");
  return kOk;
}

std::string absolute(const std::string& folder) {
  char* real = ::realpath(folder.c_str(), nullptr);
  if (!real) return folder;
  std::string path = real;
  std::free(real);
  return path;
}

// The self-extractor reads only its own file, never a set of volumes: it needs no view of the
// machine's mounts (and stays smaller without one).
class TOwnFileVolume : public IVolumes {
 public:
  std::string VolumeRoot(const std::string&) override { return "/"; }
  bool IsRemovable(const std::string&) override { return false; }
  std::optional<uint64_t> FreeSpace(const std::string&) override { return std::nullopt; }
  std::string GetLabel(const std::string&) override { return ""; }
  bool SetLabel(const std::string&, const std::string&) override { return false; }
};

// A new folder only this user can enter, for "><".
std::string privateFolder() {
  std::string pattern = files::SystemTempFolder() + "/quelt-sfx-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw EInOutError("Cannot create a temporary folder: " + pattern);
  return pattern;
}

// The folder to extract into: -d, else the record's default, which the user may change.
std::string chooseFolder(const TOptions& o, const TSFXRecord& record, TTerminal& term) {
  if (o.destGiven) return o.dest;
  std::string folder = record.DefaultDir;
  const bool fresh = folder.find(kSFXFolderSign) != std::string::npos;
  std::string shown = fresh            ? "a new temporary folder"
                      : folder.empty() ? "the current folder"
                                       : folder;
  if (std::optional<std::string> answer = term.Ask("Extract to [" + shown + "]: "))
    if (!answer->empty()) folder = *answer;
  if (folder.find(kSFXFolderSign) != std::string::npos)
    folder = ExpandSFXFolder(folder, privateFolder());
  return folder.empty() ? "." : folder;
}

TUZOverwriteMode chooseOverwrite(const TOptions& o, const TSFXRecord& record, TTerminal& term) {
  OvrOpts mode = o.overwrite >= 0 ? OvrOpts(o.overwrite) : record.OverWriteMode;
  if (o.overwrite < 0 && !record.Options.Contains(SFXHideOverWriteBox)) {
    const char* names[] = {"ask", "always", "never"};
    if (std::optional<std::string> answer = term.Ask(
            std::string("Existing files: [a]sk, al[w]ays replace, [n]ever replace (default ") +
            names[mode] + "): ")) {
      if (!answer->empty()) {
        char c = (*answer)[0];
        mode = c == 'w' || c == 'W'   ? OvrAlways
               : c == 'n' || c == 'N' ? OvrNever
               : c == 'a' || c == 'A' ? OvrConfirm
                                      : mode;
      }
    }
  }
  return mode == OvrAlways ? Always : mode == OvrNever ? Never : Prompt;
}

// Lets the user pick the entries; nothing chosen stands for all.
std::vector<std::string> chooseFiles(TUnZipEngine& engine, TTerminal& term) {
  std::vector<std::string> names;
  for (int i = 0; i < engine.Count(); ++i) {
    names.push_back(engine.Entry(i).FullName());
    std::printf("%4d  %s\n", i + 1, entryName(engine, i).c_str());
  }
  std::optional<std::string> answer =
      term.Ask("Files to extract (numbers, ranges like 2-5, or patterns; Enter for all): ");
  if (!answer) return {};
  TSelection selection = ParseSelection(*answer, names);
  if (!selection.error.empty()) {
    std::fprintf(stderr, "%s\n", selection.error.c_str());
    return chooseFiles(engine, term);
  }
  return selection.patterns;
}

struct TRunCounts {
  int selected = 0, failed = 0, done = 0;
};

// Binds the engine's events to lines on standard output and questions on the terminal.
void bindEvents(TUnZipEngine& engine, TTerminal& term, const TOptions& o, TRunCounts& counts) {
  auto askedPassword = std::make_shared<std::set<int>>();
  engine.Host.ShowMessage = [](const std::string& text, const std::string& caption, TMsgButtons) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return TMsgResult::OK;
  };
  engine.OnStartUnZipInfo = [&counts](TUnZipEngine&, int n, int64_t, bool&) {
    counts.selected = n;
  };
  engine.OnStartUnZip = [&engine](TUnZipEngine&, int index, const std::string& fname, bool&) {
    if (engine.Entry(index).Filename().empty() && !engine.TestOnly)
      std::printf("created  %s\n", fname.c_str());
  };
  engine.OnEndUnZip = [&engine](TUnZipEngine&, int index, const std::string& fname) {
    if (engine.TestOnly)
      std::printf("OK       %s\n", entryName(engine, index).c_str());
    else
      std::printf("extracted %s\n", fname.c_str());
  };
  engine.OnSkippingFile = [&engine, &counts, &o](TUnZipEngine& sender, TSkipReason reason,
                                                 int index) {
    ++counts.failed;
    std::string why = reason == skNoOverwrite   ? "the file exists"
                      : reason != skBadPassword ? sender.LastError()
                      : o.passwordGiven || !sender.Password.empty()
                          ? "wrong password"
                          : "encrypted; give its password with -P";
    std::printf("skipped  %s: %s\n", entryName(engine, index).c_str(), why.c_str());
  };
  engine.OnBadCRC = [&engine, &counts](TUnZipEngine& sender, uint32_t, uint32_t, int index) {
    ++counts.failed;
    std::printf("failed   %s: %s\n", entryName(engine, index).c_str(), sender.LastError().c_str());
  };
  engine.OnBadPassword = [&engine, &term, askedPassword](TUnZipEngine&, int index,
                                                         std::string& password) {
    // One question per entry; the same answer again gives the entry up.
    if (!askedPassword->insert(index).second) return;
    std::string prompt = (password.empty() ? "Password for " : "Wrong password. Password for ") +
                         entryName(engine, index) + ": ";
    if (std::optional<std::string> answer = term.AskSecret(prompt)) password = *answer;
  };
  engine.OnPromptForOverwrite = [&term](TUnZipEngine&, bool& overwrite, int, std::string& fname) {
    overwrite = term.Confirm("Replace " + fname + "?", false);
  };
  engine.OnUnsafePath = [](TUnZipEngine&, int, const std::string& stored,
                           const std::string& fname) {
    std::printf("warning  %s: unsafe parts of the stored path dropped; writing %s\n",
                Slashed(stored).c_str(), fname.c_str());
  };
}

// Runs the record's command when everything was extracted; the exit code it adds.
int runCommand(const TSFXRecord& record, const std::string& folder, TTerminal& term,
               bool complete) {
  std::vector<std::string> argv = SplitSFXCommand(record.CommandLine, folder);
  if (argv.empty()) return kOk;
  const std::string shown = Quoted(argv);
  if (!complete) {
    std::printf("Not running %s: not every file was extracted.\n", shown.c_str());
    return kSomeFailed;
  }
  if (record.Options.Contains(SFXAskCmdLine) && !term.Confirm("Run " + shown + "?", true))
    return kOk;
  std::printf("Running %s\n", shown.c_str());
  std::fflush(stdout);
  TCommandResult r = RunAndWait(argv);
  if (!r.started) {
    std::fprintf(stderr, "Cannot run %s: %s\n", shown.c_str(), r.error.c_str());
    return kSomeFailed;
  }
  if (r.signal != 0 || r.status != 0) {
    std::fprintf(stderr, "%s ended with %s %d\n", shown.c_str(), r.signal ? "signal" : "status",
                 r.signal ? r.signal : r.status);
    return kSomeFailed;
  }
  return kOk;
}

int parseOptions(int argc, char** argv, TOptions& o) {
  static const option longOptions[] = {{"help", no_argument, nullptr, 'h'},
                                       {"version", no_argument, nullptr, 'V'},
                                       {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "d:ltonP:y", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'd':
        o.dest = optarg;
        o.destGiven = true;
        break;
      case 'l':
        o.list = true;
        break;
      case 't':
        o.test = true;
        break;
      case 'o':
        o.overwrite = OvrAlways;
        break;
      case 'n':
        o.overwrite = OvrNever;
        break;
      case 'P':
        o.password = optarg;
        o.passwordGiven = true;
        break;
      case 'y':
        o.noQuestions = true;
        break;
      case 'h':
        std::printf(kHelp, argv[0]);
        return kOk;
      case 'V':
        std::printf("quelt-sfx (Quelt) %s\n", QUELT_VERSION);
        return kOk;
      default:
        std::fprintf(stderr, "Try '%s --help' for more information.\n", argv[0]);
        return kUsage;
    }
  }
  for (int i = optind; i < argc; ++i) o.patterns.push_back(Backslashed(argv[i]));
  return -1;
}

int run(const TOptions& o) {
  std::optional<TSelfImage> self = ReadSelfImage(kSelf);
  if (!self) {
    std::fprintf(stderr, "quelt-sfx: this program carries no archive\n");
    return kUnreadable;
  }
  const TSFXRecord& record = self->record;
  if (!record.Caption.empty()) std::printf("%s\n\n", record.Caption.c_str());

  TTerminal term(!o.noQuestions);
  TOwnFileVolume volume;
  TUnZipEngine engine(volume);
  engine.SetZipName(kSelf);
  engine.LoadCatalogue();
  if (engine.Count() == 0)
    throw EFatalUnzipError("the archive behind this program holds no entries");
  if (o.list) return list(engine);

  TRunCounts counts;
  bindEvents(engine, term, o, counts);
  engine.Password = o.password;
  engine.RecreateDirs = true;
  engine.FilesList = o.patterns;
  engine.DoAll = o.patterns.empty();
  if (o.test) {
    engine.TestOnly = true;
    int done = engine.ExtractEntries();
    std::printf("%d of %d %s tested OK\n", done, counts.selected,
                counts.selected == 1 ? "entry" : "entries");
    return done == counts.selected && counts.failed == 0 ? kOk : kSomeFailed;
  }

  const std::string folder = chooseFolder(o, record, term);
  if (o.patterns.empty() && record.Options.Contains(SFXAskFiles) && term.Interactive()) {
    std::vector<std::string> chosen = chooseFiles(engine, term);
    engine.FilesList = chosen;
    engine.DoAll = chosen.empty();
  }
  engine.OverwriteMode = chooseOverwrite(o, record, term);
  engine.SetDestDir(folder);
  int done = engine.ExtractEntries();
  std::printf("%d of %d %s extracted into %s\n", done, counts.selected,
              counts.selected == 1 ? "entry" : "entries", folder.c_str());
  const bool complete = done == counts.selected && counts.failed == 0;
  int code = complete ? kOk : kSomeFailed;
  if (!record.CommandLine.empty())
    code = std::max(code, runCommand(record, absolute(folder), term, complete));
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  if (int code = parseOptions(argc, argv, o); code >= 0) return code;
  try {
    return run(o);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "quelt-sfx: %s\n", e.what());
    return kUnreadable;
  }
}
