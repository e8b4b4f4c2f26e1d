// quelt-cli add, remove, comment and repair: the archive writer on the command line.
#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "cli/Progress.h"
#include "cli/Select.h"
#include "engine/ZipEngine.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt::cli {

namespace {

const char* kAddHelp =
    "Usage: quelt-cli add [OPTIONS] ARCHIVE FILE|FOLDER|WILDCARD...\n"
    "Compresses files into the archive, creating it when it does not exist. A folder stands\n"
    "for the files in it (and, with -r, in its subfolders); an empty folder is kept as one.\n"
    "A file outside the current (or --root) folder is stored without \"/\" and \"..\" parts.\n"
    "The ARCHIVE '-' writes a new archive to standard output as a stream: sizes follow each\n"
    "entry's data and nothing is sought back, so a large file that Deflate cannot shrink\n"
    "keeps Deflate's own stored blocks; messages then go to standard error. The FILE '-'\n"
    "adds one entry read from standard input, named by --stdin-name.\n\n"
    "  -0 ... -9              the level: -0 stores, -1 (fastest) to -9 (smallest) deflate;\n"
    "                         a file Deflate would make larger is stored at every level\n"
    "  -l, --level N          the same as -N; default 6\n"
    "  -r, --recurse          wildcards and folders also search subfolders\n"
    "  -x, --exclude PATTERN  leave out files whose stored path (with a \"/\") or name\n"
    "                         (without) matches PATTERN; repeatable\n"
    "  -j, --junk-paths       store names alone, without folders (--paths none)\n"
    "  -P, --password PASS    encrypt the new entries with traditional ZIP encryption\n"
    "      --aes              with -P: encrypt with AES-256 instead (traditional\n"
    "                         encryption is weak; AES needs a newer unzipping tool)\n"
    "      --update           replace entries whose file is newer (the default)\n"
    "      --replace          replace matching entries whatever their dates\n"
    "      --freshen          only replace entries already in the archive, when newer\n"
    "      --paths MODE       none (names only), full (the whole folder) or relative\n"
    "                         (below --root; the default)\n"
    "      --root DIR         the folder relative paths start from (default: current)\n"
    "      --volumes          keep the volume (mount point) in stored folders\n"
    "      --move             delete each source once the archive is written\n"
    "      --split BYTES      write a new archive as block files name.001, name.002, ...\n"
    "                         of BYTES each (k and m suffixes allowed)\n"
    "      --split-names STYLE  numbered (name.001, name.002, ...; the default) or z01\n"
    "                         (name.z01, name.z02, ..., name.zip, as zip -s writes them)\n"
    "      --first-split BYTES  a different size for the first block\n"
    "      --span             write a new archive over removable disks, asking for each\n"
    "                         next disk on the terminal\n"
    "  -y, --symlinks         store symbolic links as links; without it a link to a file\n"
    "                         is stored as the file, and a link to a folder is reported\n"
    "  -C, --ignore-case      wildcards match A-Z without regard to case\n"
    "      --stdin-name NAME  the stored name of the entry read from standard input (the\n"
    "                         FILE '-'); default \"stdin\"\n"
    "      --jobs N           compress up to N files at a time, on N threads; the archive\n"
    "                         is the same as with one (the default)\n";

const char* kRemoveHelp =
    "Usage: quelt-cli remove [OPTIONS] ARCHIVE PATTERN...\n"
    "Removes the entries matching the patterns. A pattern without wildcards names an entry\n"
    "by folder and name, letter case included; a wildcard pattern without a folder separator\n"
    "matches names alone. A pattern that matches nothing is reported and makes the exit\n"
    "status 1; '--' ends the options, for patterns that begin with '-'.\n\n"
    "  -C, --ignore-case      wildcards match A-Z without regard to case\n";

const char* kCommentHelp =
    "Usage: quelt-cli comment [OPTIONS] ARCHIVE\n"
    "Prints the archive comment, or an entry's, or replaces it. An entry the archive does\n"
    "not hold makes the exit status 1.\n\n"
    "      --entry NAME       the entry's comment instead of the archive's\n"
    "      --set TEXT         replace the comment with TEXT\n"
    "      --set-file FILE    replace the comment with the contents of FILE\n";

const char* kRepairHelp =
    "Usage: quelt-cli repair ARCHIVE OUTPUT\n"
    "Writes every entry that can be found in a damaged archive into a new archive OUTPUT.\n"
    "The damaged archive is left as it is.\n";

// The path made absolute and lexically clean ("a/./b/" -> "/cwd/a/b"), links left alone.
std::string absolute(const std::string& path) {
  std::string p = std::filesystem::absolute(path).lexically_normal().string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

bool isLink(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_symlink(path, error);
}

bool isEmptyFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_empty(path, error) && !error;
}

// "1457600", "64k", "10m".
int64_t parseBytes(const std::string& text) {
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return -1;
  std::string unit = end;
  if (unit == "k" || unit == "K")
    n *= 1024;
  else if (unit == "m" || unit == "M")
    n *= 1024 * 1024;
  else if (!unit.empty())
    return -1;
  return n;
}

// Names of the block files of a set just written: name.001, name.002, ... as far as they
// were written by this run (older blocks of a longer set may still lie beside them).
std::vector<std::string> blocksWritten(const std::string& archive,
                                       std::filesystem::file_time_type since) {
  VolumeFinder names(archive);
  std::vector<std::string> found;
  for (int n = 1;; ++n) {
    const std::string name = names.candidates(n, 0).front();
    std::error_code ec;
    auto when = std::filesystem::last_write_time(name, ec);
    if (ec || when < since) break;
    found.push_back(name);
  }
  return found;
}

// Renames a block set just written (name.001, ..., name.00N) to the names zip -s gives one:
// name.z01, ..., name.z(N-1), and the last block, which holds the directory, the archive's
// own name. Returns the new names; a failure is told and leaves the names it could not
// change.
std::vector<std::string> renameToZ01(const std::string& archive,
                                     const std::vector<std::string>& blocks) {
  VolumeFinder names(archive);
  std::vector<std::string> renamed;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const int n = int(i) + 1;
    const std::string to = i + 1 == blocks.size() ? archive : names.candidates(n, 0).back();
    std::error_code ec;
    std::filesystem::rename(blocks[i], to, ec);
    if (ec) {
      error("cannot rename " + blocks[i] + " to " + to + ": " + ec.message());
      renamed.push_back(blocks[i]);
    } else {
      renamed.push_back(to);
    }
  }
  return renamed;
}

void reportRefusals(TZipEngine& engine, int& problems) {
  engine.OnFileRefused = [&problems](TZipEngine&, const std::string& name, const std::string& why) {
    ++problems;
    complain() << "skipped  " << Slashed(name) << ": " << why << "\n";
  };
}

int runAdd(int argc, char** argv) {
  enum { kVolumes = 0x1200, kAes, kSplitNames, kStdinName, kJobs };
  const auto longOptions = withCommonOptions({{"level", required_argument, nullptr, 'l'},
                                              {"recurse", no_argument, nullptr, 'r'},
                                              {"exclude", required_argument, nullptr, 'x'},
                                              {"junk-paths", no_argument, nullptr, 'j'},
                                              {"password", required_argument, nullptr, 'P'},
                                              {"aes", no_argument, nullptr, kAes},
                                              {"update", no_argument, nullptr, 'u'},
                                              {"replace", no_argument, nullptr, 'R'},
                                              {"freshen", no_argument, nullptr, 'f'},
                                              {"paths", required_argument, nullptr, 'p'},
                                              {"root", required_argument, nullptr, 'o'},
                                              {"volumes", no_argument, nullptr, kVolumes},
                                              {"move", no_argument, nullptr, 'm'},
                                              {"split", required_argument, nullptr, 's'},
                                              {"first-split", required_argument, nullptr, 'F'},
                                              {"span", no_argument, nullptr, 'S'},
                                              {"symlinks", no_argument, nullptr, 'y'},
                                              {"ignore-case", no_argument, nullptr, 'C'},
                                              {"split-names", required_argument, nullptr, kSplitNames},
                                              {"stdin-name", required_argument, nullptr, kStdinName},
                                              {"jobs", required_argument, nullptr, kJobs},
                                              {"help", no_argument, nullptr, 'h'}});
  int level = 6;
  int jobs = 1;
  bool z01 = false;
  std::string stdinName = "stdin";
  std::vector<std::string> excludes;
  bool recurse = false, volumes = false, move = false, links = false, ignoreCase = false;
  std::string password, paths = "relative", root;
  TZipAction action = zaUpdate;
  int64_t split = 0, firstSplit = 0;
  bool span = false, aes = false;
  int c;
  const std::string shortOptions = withCommonShort("0123456789l:rx:jP:yCh");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 'l':
        level = std::atoi(optarg);
        if (level < 0 || level > 9 ||
            std::string(optarg).find_first_not_of("0123456789") != std::string::npos)
          return usageError("add", "--level takes 0 to 9");
        break;
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        level = c - '0';
        break;
      case 'x':
        excludes.push_back(patternFromArg(optarg));
        break;
      case 'j':
        paths = "none";
        break;
      case 'r':
        recurse = true;
        break;
      case 'P':
        password = optarg;
        break;
      case kAes:
        aes = true;
        break;
      case 'u':
        action = zaUpdate;
        break;
      case 'R':
        action = zaReplace;
        break;
      case 'f':
        action = zaFreshen;
        break;
      case 'p':
        paths = optarg;
        if (paths != "none" && paths != "full" && paths != "relative")
          return usageError("add", "--paths takes none, full or relative");
        break;
      case 'o':
        root = optarg;
        break;
      case kVolumes:
        volumes = true;
        break;
      case 'm':
        move = true;
        break;
      case 's':
      case 'F': {
        int64_t bytes = parseBytes(optarg);
        if (bytes <= 0) return usageError("add", "a split size is a number of bytes");
        (c == 's' ? split : firstSplit) = bytes;
        break;
      }
      case 'S':
        span = true;
        break;
      case 'y':
        links = true;
        break;
      case 'C':
        ignoreCase = true;
        break;
      case kSplitNames:
        if (std::string(optarg) != "numbered" && std::string(optarg) != "z01")
          return usageError("add", "--split-names takes numbered or z01");
        z01 = std::string(optarg) == "z01";
        break;
      case kStdinName:
        stdinName = optarg;
        while (!stdinName.empty() && stdinName.front() == '/') stdinName.erase(0, 1);
        if (stdinName.empty() || stdinName.back() == '/')
          return usageError("add", "--stdin-name needs a file name");
        break;
      case kJobs: {
        constexpr int kMaxJobs = 256;
        const std::string n = optarg;
        const bool digits = !n.empty() && n.size() <= 3 &&
                            n.find_first_not_of("0123456789") == std::string::npos;
        jobs = digits ? std::stoi(n) : 0;
        if (jobs < 1 || jobs > kMaxJobs)
          return usageError(
              "add", "--jobs takes a number of threads from 1 to " + std::to_string(kMaxJobs));
        break;
      }
      case 'h':
        std::cout << kAddHelp << kCommonHelp;
        return kOk;
      default:
        return usageError("add", "unknown option");
    }
  }
  if (argc - optind < 2) return usageError("add", "add needs an archive and at least one file");
  std::string archive = argv[optind++];
  if (span && split) return usageError("add", "--span and --split exclude each other");
  if (firstSplit && !split) return usageError("add", "--first-split needs --split");
  if (aes && password.empty()) return usageError("add", "--aes needs a password (-P)");
  const bool toStdout = archive == "-";
  if (toStdout && (split || span))
    return usageError("add", "an archive written to standard output cannot be split or spanned");
  if (toStdout && isatty(STDOUT_FILENO)) {
    error("will not write an archive to a terminal; redirect standard output");
    return kUsage;
  }
  if (toStdout) sayOnStandardError();

  TZipEngine engine;
  if (split) {
    engine.MultiZipInfo().BlockSize = split;
    engine.MultiZipInfo().FirstBlockSize = firstSplit ? firstSplit : split;
    engine.SetMultiMode(mmBlocks);
  } else if (span) {
    engine.SetMultiMode(mmSpan);
  }
  engine.PackLevel = level;
  engine.Jobs = jobs;
  engine.Password = password;
  engine.AesEncryption = aes;
  engine.ZipAction = action;
  engine.Dispose = move;
  engine.SetStorePaths(paths != "none");
  engine.SetRelativePaths(paths == "relative");
  if (volumes) engine.SetStoreVolumes(true);
  engine.Recurse = recurse;
  engine.StoreLinks = links;
  engine.PatternsIgnoreCase = ignoreCase;
  // Without --root, relative paths start from the current folder.
  if (!root.empty()) engine.SetRootDir(absolute(root));
  if (toStdout) engine.StreamOutput = STDOUT_FILENO;
  for (; optind < argc; ++optind) {
    // Names stay as given, so the log shows them as typed.
    std::string arg = argv[optind];
    if (arg == "-") {
      if (engine.StreamedSource >= 0)
        return usageError("add", "standard input ('-') can be added once");
      engine.StreamedSource = STDIN_FILENO;
      engine.StreamedName = stdinName;
      continue;
    }
    while (arg.size() > 1 && arg.back() == '/') arg.pop_back();
    // A folder stands for its files; an empty one, or a link kept as a link, for itself.
    if (!HasWildcards(arg) && files::IsFolder(arg) && !isEmptyFolder(arg) &&
        !(links && isLink(arg)))
      arg += "/*";
    engine.FilesList.push_back(arg);
  }

  int problems = 0;
  reportRefusals(engine, problems);
  engine.OnFileWarning = [&problems](TZipEngine&, const std::string& name, const std::string& why) {
    ++problems;
    complain() << "warning  " << name << ": " << why << "\n";
  };
  engine.OnNoSuchFile = [&problems](TZipEngine&, const std::string& name) {
    ++problems;
    complain() << "missing  " << name << "\n";
  };
  engine.OnSkippingFile = [&problems](TUnZipEngine& sender, TSkipReason, int index) {
    ++problems;
    complain() << "skipped  " << Slashed(sender.Entry(index).FullName())
               << ": named twice; the first is kept\n";
  };
  ProgressLine progress;
  engine.OnStartZipInfo = [&progress](TZipEngine&, int, int64_t total, TEndCentral&, bool&) {
    progress.start(total);
  };
  engine.OnStartZip = [&](TZipEngine&, const std::string& name, TZipHeaderInfo& header,
                          bool& skip) {
    for (const std::string& x : excludes) {
      if (!matchesEntry(x, header, ignoreCase)) continue;
      detail() << "excluded " << name << "\n";
      skip = true;
      return;
    }
    std::error_code ec;
    const auto size =
        std::filesystem::is_regular_file(name, ec) ? std::filesystem::file_size(name, ec) : 0;
    progress.entry(name, ec ? 0 : int64_t(size));
  };
  engine.OnFilePercentDone = [&progress](TUnZipEngine&, int percent) {
    progress.entryPercent(percent);
  };
  engine.OnEndZip = [&stdinName](TZipEngine&, const std::string& name, int64_t usize,
                                  int64_t csize, int64_t) {
    int saved = usize > 0 ? int(100 - PercentOf(usize, csize)) : 0;
    say() << "added    " << (name == "-" ? "standard input as " + stdinName : name) << " ("
          << usize << " -> " << csize << " bytes, " << saved << "% saved)\n";
  };
  VolumeFinder finder(archive);
  finder.install(engine);
  if (span) {
    engine.OnGetNextDisk = [](TUnZipEngine&, int disk, std::string& name) {
      if (!askDisk(disk)) name.clear();
    };
  }
  cancelOnSignals(engine);
  engine.Host.ProcessMessages = [&progress, cancel = engine.Host.ProcessMessages] {
    if (cancel) cancel();
    progress.tick();
  };
  const auto started = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(2);
  return afterSignals(guarded(
      [&] {
        engine.SetZipName(archive);
        int n = engine.CompressFiles();
        progress.clear();
        std::string written = toStdout ? "standard output" : archive;
        if (split) {
          // The set is the block files; no file carries the archive's own name.
          std::vector<std::string> blocks = blocksWritten(archive, started);
          if (z01 && blocks.size() > 1) blocks = renameToZ01(archive, blocks);
          if (!blocks.empty())
            written = blocks.size() == 1 ? blocks.front()
                                         : blocks.front() + " ... " + blocks.back() + " (" +
                                               std::to_string(blocks.size()) + " blocks)";
        }
        say() << n << (n == 1 ? " file" : " files") << " compressed into " << written << "\n";
        return problems == 0 ? int(kOk) : int(kSomeFailed);
      },
      &finder));
}

int runRemove(int argc, char** argv) {
  const auto longOptions = withCommonOptions(
      {{"ignore-case", no_argument, nullptr, 'C'}, {"help", no_argument, nullptr, 'h'}});
  TZipEngine engine;
  engine.PatternsIgnoreCase = false;
  int c;
  const std::string shortOptions = withCommonShort("Ch");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 'C':
        engine.PatternsIgnoreCase = true;
        break;
      case 'h':
        std::cout << kRemoveHelp << kCommonHelp;
        return kOk;
      default:
        return usageError("remove", "unknown option");
    }
  }
  if (argc - optind < 2)
    return usageError("remove", "remove needs an archive and at least one pattern");
  std::string archive = argv[optind++];
  for (; optind < argc; ++optind) engine.FilesList.push_back(patternFromArg(argv[optind]));
  int removed = 0;
  engine.OnDeleteEntry = [&removed](TZipEngine&, const std::string& name, bool&) {
    ++removed;
    say() << "removed  " << Slashed(name) << "\n";
  };
  cancelOnSignals(engine);
  return afterSignals(guarded([&] {
    loadArchive(engine, archive);
    // A wildcard stays in the engine's list whatever it matched: look for its matches first.
    std::vector<std::string> emptyWildcards;
    for (const std::string& pattern : engine.FilesList) {
      if (!HasWildcards(pattern)) continue;
      bool any = false;
      for (int i = 0; i < engine.Count() && !any; ++i)
        any = matchesEntry(pattern, engine.Entry(i), engine.PatternsIgnoreCase);
      if (!any) emptyWildcards.push_back(pattern);
    }
    engine.RemoveEntries();
    int unmatched = 0;
    for (const std::string& left : engine.FilesList) {
      if (HasWildcards(left)) continue;
      ++unmatched;
      error("no entry matches " + Slashed(left));
    }
    for (const std::string& pattern : emptyWildcards) {
      ++unmatched;
      error("no entry matches " + Slashed(pattern));
    }
    say() << removed << (removed == 1 ? " entry" : " entries") << " removed\n";
    return unmatched == 0 ? int(kOk) : int(kSomeFailed);
  }));
}

int runComment(int argc, char** argv) {
  const auto longOptions = withCommonOptions({{"entry", required_argument, nullptr, 'e'},
                                              {"set", required_argument, nullptr, 's'},
                                              {"set-file", required_argument, nullptr, 'f'},
                                              {"help", no_argument, nullptr, 'h'}});
  std::string entryName;
  std::optional<std::string> text;
  bool haveEntry = false;
  int c;
  const std::string shortOptions = withCommonShort("h");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 'e':
        entryName = patternFromArg(optarg);
        haveEntry = true;
        break;
      case 's':
        text = optarg;
        break;
      case 'f': {
        std::ifstream in(optarg, std::ios::binary);
        if (!in) {
          error(std::string("cannot read ") + optarg);
          return kUsage;
        }
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        break;
      }
      case 'h':
        std::cout << kCommentHelp << kCommonHelp;
        return kOk;
      default:
        return usageError("comment", "unknown option");
    }
  }
  if (optind + 1 != argc) return usageError("comment", "comment takes exactly one archive");
  std::string archive = argv[optind];
  TZipEngine engine;
  return guarded([&] {
    loadArchive(engine, archive);
    int index = -1;
    if (haveEntry) {
      for (int i = 0; i < engine.Count(); ++i)
        if (engine.Entry(i).FullName() == entryName) index = i;
      if (index < 0) {
        error(archive + " holds no entry " + Slashed(entryName));
        return int(kSomeFailed);
      }
    }
    if (!text) {
      // A comment is text: it ends its line, whether or not the stored one did.
      std::string shown = haveEntry ? engine.EntryComment(index) : engine.ArchiveComment();
      if (!shown.empty() && shown.back() != '\n') shown += '\n';
      std::cout << shown;
      return int(kOk);
    }
    if (haveEntry)
      engine.SetEntryComment(index, *text);
    else
      engine.SetArchiveComment(*text);
    engine.SavePendingChanges();
    return int(kOk);
  });
}

int runRepair(int argc, char** argv) {
  const auto longOptions = withCommonOptions({{"help", no_argument, nullptr, 'h'}});
  int c;
  const std::string shortOptions = withCommonShort("h");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    if (c == 'h') {
      std::cout << kRepairHelp << "\n" << kCommonHelp;
      return kOk;
    }
    return usageError("repair", "unknown option");
  }
  if (argc - optind != 2)
    return usageError("repair", "repair takes a damaged archive and a new name");
  std::string archive = argv[optind], output = argv[optind + 1];
  TZipEngine engine;
  int problems = 0;
  reportRefusals(engine, problems);
  cancelOnSignals(engine);
  return afterSignals(guarded([&] {
    engine.RepairArchive(archive, output);
    say() << engine.Count() << (engine.Count() == 1 ? " entry" : " entries") << " written to "
          << output << "\n";
    return problems == 0 ? int(kOk) : int(kSomeFailed);
  }));
}

Registrar addCommand{{"add", "compress files into an archive", runAdd}};
Registrar removeCommand{{"remove", "remove entries from an archive", runRemove}};
Registrar commentCommand{
    {"comment", "show or change the archive's or an entry's comment", runComment}};
Registrar repairCommand{{"repair", "write what a damaged archive holds into a new one", runRepair}};

}  // namespace
}  // namespace quelt::cli
