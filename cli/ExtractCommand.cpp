// quelt-cli extract and quelt-cli test: the extraction driver, writing files or only
// checking them.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "cli/Progress.h"
#include "cli/Select.h"
#include "engine/ZipLib.h"
#include "engine/codecs/Methods.h"
#include "platform/FileSystem.h"

namespace quelt::cli {

namespace {

const char* kExtractHelp =
    "Usage: quelt-cli extract [OPTIONS] ARCHIVE [PATTERN...]\n"
    "Extracts the entries matching the patterns (all without patterns). A pattern with a\n"
    "folder separator (\"/\" or \"\\\") is matched against folder and name, else the name alone.\n"
    "Letter case counts in names and patterns. A pattern that matches nothing is reported\n"
    "and makes the exit status 1. The ARCHIVE '-' reads the archive from standard input\n"
    "(copied to a temporary file first: the directory is at its end).\n\n"
    "  -d, --dest DIR           extract into DIR (default: the current folder)\n"
    "  -p, --pipe               write the entries' bytes to standard output, one after the\n"
    "                           other, and no files\n"
    "  -x, --exclude PATTERN    leave out the entries matching PATTERN (repeatable)\n"
    "  -j, --junk-paths         do not recreate the stored folders\n"
    "  -o                       replace existing files without asking (--overwrite always)\n"
    "  -n                       never replace existing files (--overwrite never)\n"
    "      --overwrite MODE     always, never or ask; the default asks when standard input\n"
    "                           is a terminal, else replaces\n"
    "  -P, --password PASSWORD  the password of encrypted entries\n"
    "      --no-attributes      do not apply the stored permissions and attributes\n"
    "      --root FOLDER        drop this leading folder from stored paths\n"
    "      --incomplete MODE    bad (default) or multi, for archives without an end record\n"
    "  -C, --ignore-case        wildcard patterns match A-Z without regard to case\n"
    "  -O, --name-encoding CHARSET\n"
    "                           the set of names stored without the UTF-8 flag (cp437,\n"
    "                           cp866, cp1251, sjis, gbk, big5, cp949, ...); found from the\n"
    "                           names when not given\n";

const char* kTestHelp =
    "Usage: quelt-cli test [OPTIONS] ARCHIVE [PATTERN...]\n"
    "Decompresses the entries matching the patterns (all without patterns) and checks their\n"
    "CRC-32, writing nothing. The ARCHIVE '-' reads the archive from standard input.\n\n"
    "  -x, --exclude PATTERN    leave out the entries matching PATTERN (repeatable)\n"
    "  -P, --password PASSWORD  the password of encrypted entries\n"
    "      --incomplete MODE    bad (default) or multi, for archives without an end record\n"
    "  -C, --ignore-case        wildcard patterns match A-Z without regard to case\n"
    "  -O, --name-encoding CHARSET\n"
    "                           the set of names stored without the UTF-8 flag (cp437,\n"
    "                           cp866, cp1251, sjis, gbk, big5, cp949, ...); found from the\n"
    "                           names when not given\n";

bool onTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

std::string askLine(const std::string& prompt) {
  ProgressLine::clearAll();
  std::cerr << prompt << std::flush;
  std::string line;
  if (!std::getline(std::cin, line)) return "";
  return line;
}

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

// A private folder for --pipe: each entry lands there, goes to standard output and is
// deleted; the folder goes at the end, also after an error or Ctrl-C.
struct PipeFolder {
  std::string path;
  PipeFolder() {
    std::string pattern = files::SystemTempFolder() + "/quelt-pipe-XXXXXX";
    if (char* made = mkdtemp(pattern.data())) path = made;
  }
  ~PipeFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

// Copies an extracted entry to standard output; a link gives its target, as it is stored.
bool pipeOut(const std::string& fname) {
  std::error_code ec;
  if (std::filesystem::is_symlink(fname, ec)) {
    std::string target = std::filesystem::read_symlink(fname, ec).string();
    std::fwrite(target.data(), 1, target.size(), stdout);
  } else {
    std::ifstream in(fname, std::ios::binary);
    if (!in) return false;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0)
      if (std::fwrite(buf, 1, size_t(in.gcount()), stdout) != size_t(in.gcount())) return false;
  }
  std::filesystem::remove(fname, ec);
  return std::fflush(stdout) == 0;
}

int runExtractOrTest(int argc, char** argv, bool testOnly) {
  const std::string command = testOnly ? "test" : "extract";
  enum { kOverwrite = 0x1200, kNoAttributes, kRoot, kIncomplete };
  const auto longOptions =
      withCommonOptions({{"dest", required_argument, nullptr, 'd'},
                         {"pipe", no_argument, nullptr, 'p'},
                         {"exclude", required_argument, nullptr, 'x'},
                         {"junk-paths", no_argument, nullptr, 'j'},
                         {"overwrite", required_argument, nullptr, kOverwrite},
                         {"password", required_argument, nullptr, 'P'},
                         {"no-attributes", no_argument, nullptr, kNoAttributes},
                         {"root", required_argument, nullptr, kRoot},
                         {"incomplete", required_argument, nullptr, kIncomplete},
                         {"ignore-case", no_argument, nullptr, 'C'},
                         {"name-encoding", required_argument, nullptr, 'O'},
                         {"help", no_argument, nullptr, 'h'}});
  std::string dest, password, root, overwrite = onTerminal() ? "ask" : "always", nameEncoding;
  bool junk = false, attributes = true, passwordGiven = false, ignoreCase = false, pipe = false;
  std::vector<std::string> excludes;
  TIncompleteZipMode incomplete = izAssumeBad;
  int c;
  const std::string shortOptions = withCommonShort(testOnly ? "x:P:ChO:" : "d:px:jonP:ChO:");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    bool extractOnly =
        c == 'd' || c == 'p' || c == 'j' || c == kOverwrite || c == kNoAttributes || c == kRoot;
    if (testOnly && extractOnly) return usageError(command, "test does not take that option");
    switch (c) {
      case 'd':
        dest = optarg;
        break;
      case 'p':
        pipe = true;
        break;
      case 'x':
        excludes.push_back(patternFromArg(optarg));
        break;
      case 'j':
        junk = true;
        break;
      case 'o':
        overwrite = "always";
        break;
      case 'n':
        overwrite = "never";
        break;
      case kOverwrite:
        overwrite = optarg;
        if (overwrite != "always" && overwrite != "never" && overwrite != "ask")
          return usageError(command, "--overwrite takes always, never or ask");
        break;
      case 'P':
        password = optarg;
        passwordGiven = true;
        break;
      case kNoAttributes:
        attributes = false;
        break;
      case 'C':
        ignoreCase = true;
        break;
      case kRoot:
        root = optarg;
        break;
      case 'O':
        if (!canonicalCharsetName(optarg))
          return usageError(command, "unknown name encoding '" + std::string(optarg) + "'");
        nameEncoding = optarg;
        break;
      case kIncomplete:
        if (!parseIncompleteMode(optarg, incomplete))
          return usageError(command, "--incomplete takes bad or multi");
        break;
      case 'h':
        std::cout << (testOnly ? kTestHelp : kExtractHelp) << kCommonHelp;
        return kOk;
      default:
        return usageError(command, "unknown option");
    }
  }
  if (optind >= argc) return usageError(command, command + " needs an archive");
  if (pipe && !dest.empty()) return usageError(command, "--pipe and --dest exclude each other");
  std::string archive = argv[optind++];
  std::vector<std::string> patterns;
  for (; optind < argc; ++optind) patterns.push_back(patternFromArg(argv[optind]));

  const std::string shown = shownArchive(archive);
  std::optional<PipeFolder> pipeFolder;
  if (pipe) {
    pipeFolder.emplace();
    if (pipeFolder->path.empty()) {
      error("cannot make a temporary folder in " + files::SystemTempFolder());
      return kUnreadable;
    }
    dest = pipeFolder->path;
    overwrite = "always";
    attributes = false;  // a mode without read permission would keep the bytes from us
  }

  TUnZipEngine engine;
  VolumeFinder finder(archive);
  finder.install(engine);
  engine.OnInCompleteZip = [incomplete](TUnZipEngine&, TIncompleteZipMode& mode) {
    mode = incomplete;
  };
  engine.TestOnly = testOnly;
  engine.RecreateDirs = !junk || pipe;
  engine.RetainAttributes = attributes;
  engine.OverwriteMode = overwrite == "always" ? Always : overwrite == "never" ? Never : Prompt;
  engine.Password = password;
  engine.PatternsIgnoreCase = ignoreCase;
  cancelOnSignals(engine);
  StdinArchive fromStdin;
  if (archive == "-" && !fromStdin.take(archive)) return afterSignals(kUnreadable);

  int selected = 0, failed = 0;
  bool replaceAll = false, replaceNone = false;
  std::set<int> askedPassword;
  ProgressLine progress;
  auto nameOf = [&engine](int index) { return Slashed(engine.Entry(index).FullName()); };
  engine.Host.ShowMessage = [](const std::string& text, const std::string& caption, TMsgButtons) {
    error(caption + ": " + text);
    return TMsgResult::OK;
  };
  engine.OnStartUnZipInfo = [&](TUnZipEngine&, int numFiles, int64_t total, bool&) {
    selected = numFiles;
    progress.start(total);
  };
  engine.OnFilePercentDone = [&](TUnZipEngine&, int percent) { progress.entryPercent(percent); };
  engine.Host.ProcessMessages = [&progress, cancel = engine.Host.ProcessMessages] {
    if (cancel) cancel();
    progress.tick();
  };
  engine.OnEndUnZip = [&](TUnZipEngine& sender, int index, const std::string& fname) {
    if (pipe) {
      if (!pipeOut(fname)) {
        ++failed;
        complain() << "failed   " << nameOf(index)
                   << ": it could not be written to standard output\n";
        sender.RequestCancel();
      }
      return;
    }
    std::string more;
    if (commonOptions().verbose) {
      const TZipHeaderInfo& e = engine.Entry(index);
      const std::string& extra = e.CentralExtra();
      more = " (" + std::to_string(e.UncompressedSize) + " bytes, " +
             EntryMethodName(e.CompressionMethod, reinterpret_cast<const uint8_t*>(extra.data()),
                             extra.size()) +
             ", CRC-32 " + hex8(e.CRC32) + ")";
    }
    if (testOnly)
      say() << "OK       " << nameOf(index) << more << "\n";
    else
      say() << "extracted " << fname << more << "\n";
  };
  engine.OnStartUnZip = [&](TUnZipEngine&, int index, const std::string& fname, bool&) {
    const TZipHeaderInfo& entry = engine.Entry(index);
    progress.entry(nameOf(index), entry.UncompressedSize);
    if (!entry.IsFolder() || pipe) return;
    if (testOnly)
      say() << "OK       " << nameOf(index) << "\n";
    else
      say() << "created  " << fname << "\n";
  };
  int kept = 0;
  engine.OnSkippingFile = [&](TUnZipEngine& sender, TSkipReason reason, int index) {
    // A file kept because the user (or -n) said so is no failure, as with unzip -n.
    if (reason == skNoOverwrite) {
      ++kept;
      say() << "kept     " << nameOf(index) << ": " << sender.LastError() << "\n";
      return;
    }
    ++failed;
    complain() << "skipped  " << nameOf(index) << ": " << sender.LastError() << "\n";
  };
  engine.OnBadCRC = [&](TUnZipEngine& sender, uint32_t calc, uint32_t stored, int index) {
    ++failed;
    std::string why = sender.LastError() == "CRC error"
                          ? "CRC error (computed " + hex8(calc) + ", stored " + hex8(stored) + ")"
                          : sender.LastError();
    complain() << "failed   " << nameOf(index) << ": " << why << "\n";
  };
  engine.OnBadPassword = [&](TUnZipEngine&, int index, std::string& newPassword) {
    // One question per entry; without a terminal the answer stays the same and the entry
    // is skipped.
    if (!onTerminal() || !askedPassword.insert(index).second) return;
    newPassword =
        askLine((passwordGiven || !newPassword.empty() ? "Wrong password for " : "Password for ") +
                nameOf(index) + ": ");
  };
  engine.OnPromptForOverwrite = [&](TUnZipEngine&, bool& overwriteIt, int, std::string& fname) {
    if (replaceAll || replaceNone || !onTerminal()) {
      overwriteIt = replaceAll;
      return;
    }
    std::string answer = askLine("Replace " + fname + "? [y]es, [n]o, [A]ll, [N]one: ");
    const char a = answer.empty() ? 'n' : answer[0];
    replaceAll = a == 'A';
    replaceNone = a == 'N';
    overwriteIt = a == 'y' || a == 'Y' || a == 'A';
  };
  engine.OnUnsafePath = [&](TUnZipEngine&, int, const std::string& stored,
                            const std::string& fname) {
    complain() << "warning  " << Slashed(stored)
               << ": unsafe parts of the stored path dropped; writing " << fname << "\n";
  };

  return afterSignals(guarded(
      [&] {
        engine.SetNameEncoding(nameEncoding);
        loadArchive(engine, archive, shown);
        engine.SetDestDir(dest);
        engine.SetRootDir(root);
        bool unmatched = false;
        if (patterns.empty() && excludes.empty()) {
          engine.DoAll = true;
        } else {
          // The names are chosen here, so a pattern that matches nothing can be told.
          Selection chosen = selectEntries(engine, patterns, excludes, ignoreCase);
          unmatched = reportUnmatched(chosen.unmatched);
          engine.DoAll = false;
          engine.FilesList.clear();
          engine.SelectedNames.clear();
          for (int i : chosen.indices) engine.SelectedNames.push_back(engine.Entry(i).FullName());
          // An empty list would select by FilesList, which is empty: nothing.
        }
        int done = engine.ExtractEntries();
        progress.clear();
        if (!pipe)
          say() << done << " of " << selected << (selected == 1 ? " entry " : " entries ")
                << (testOnly ? "tested OK" : "extracted")
                << (engine.Count() == 0 ? " (the archive is empty)" : "") << "\n";
        const bool damaged = reportDamage(engine, shown);
        return done + kept == selected && failed == 0 && !damaged && !unmatched ? int(kOk)
                                                                                : int(kSomeFailed);
      },
      &finder));
}

int runExtract(int argc, char** argv) {
  return runExtractOrTest(argc, argv, false);
}
int runTest(int argc, char** argv) {
  return runExtractOrTest(argc, argv, true);
}

Registrar extractCommand{{"extract", "extract entries into a folder", runExtract}};
Registrar testCommand{{"test", "check entries without writing them", runTest}};

}  // namespace
}  // namespace quelt::cli
