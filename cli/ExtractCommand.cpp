// quelt-cli extract and quelt-cli test: the extraction driver, writing files or only
// checking them.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <set>

#include "cli/Cli.h"
#include "engine/ZipLib.h"

namespace quelt::cli {

namespace {

const char* kExtractHelp =
    "Usage: quelt-cli extract [OPTIONS] ARCHIVE [PATTERN...]\n"
    "Extracts the entries matching the patterns (all without patterns). A pattern with a\n"
    "folder separator (\"/\" or \"\\\") is matched against folder and name, else the name alone.\n"
    "Letter case counts in names and patterns.\n\n"
    "  -d, --dest DIR           extract into DIR (default: the current folder)\n"
    "  -j, --junk-paths         do not recreate the stored folders\n"
    "      --overwrite MODE     always, never or ask (default always)\n"
    "  -P, --password PASSWORD  the password of encrypted entries\n"
    "      --no-attributes      do not apply the stored permissions and attributes\n"
    "      --root FOLDER        drop this leading folder from stored paths\n"
    "      --incomplete MODE    bad (default) or multi, for archives without an end record\n"
    "  -C, --ignore-case        wildcard patterns match A-Z without regard to case\n"
    "  -O, --name-encoding CHARSET\n"
    "                           the set of names stored without the UTF-8 flag (cp437,\n"
    "                           cp866, cp1251, sjis, gbk, big5, cp949, ...); found from the\n"
    "                           names when not given\n"
    "  -h, --help               show this help\n";

const char* kTestHelp =
    "Usage: quelt-cli test [OPTIONS] ARCHIVE [PATTERN...]\n"
    "Decompresses the entries matching the patterns (all without patterns) and checks their\n"
    "CRC-32, writing nothing.\n\n"
    "  -P, --password PASSWORD  the password of encrypted entries\n"
    "      --incomplete MODE    bad (default) or multi, for archives without an end record\n"
    "  -C, --ignore-case        wildcard patterns match A-Z without regard to case\n"
    "  -O, --name-encoding CHARSET\n"
    "                           the set of names stored without the UTF-8 flag (cp437,\n"
    "                           cp866, cp1251, sjis, gbk, big5, cp949, ...); found from the\n"
    "                           names when not given\n"
    "  -h, --help               show this help\n";

bool onTerminal() { return isatty(STDIN_FILENO) != 0; }

std::string askLine(const std::string& prompt) {
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

int runExtractOrTest(int argc, char** argv, bool testOnly) {
  const std::string command = testOnly ? "test" : "extract";
  static const option longOptions[] = {{"dest", required_argument, nullptr, 'd'},
                                       {"junk-paths", no_argument, nullptr, 'j'},
                                       {"overwrite", required_argument, nullptr, 'o'},
                                       {"password", required_argument, nullptr, 'P'},
                                       {"no-attributes", no_argument, nullptr, 'a'},
                                       {"root", required_argument, nullptr, 'r'},
                                       {"incomplete", required_argument, nullptr, 'i'},
                                       {"ignore-case", no_argument, nullptr, 'C'},
                                       {"name-encoding", required_argument, nullptr, 'O'},
                                       {"help", no_argument, nullptr, 'h'},
                                       {nullptr, 0, nullptr, 0}};
  std::string dest, password, root, overwrite = "always", nameEncoding;
  bool junk = false, attributes = true, passwordGiven = false, ignoreCase = false;
  TIncompleteZipMode incomplete = izAssumeBad;
  int c;
  while ((c = getopt_long(argc, argv, testOnly ? "P:ChO:" : "d:jP:ChO:", longOptions, nullptr)) != -1) {
    bool extractOnly = c == 'd' || c == 'j' || c == 'o' || c == 'a' || c == 'r';
    if (testOnly && extractOnly) return usageError(command, "test does not take that option");
    switch (c) {
      case 'd': dest = optarg; break;
      case 'j': junk = true; break;
      case 'o':
        overwrite = optarg;
        if (overwrite != "always" && overwrite != "never" && overwrite != "ask")
          return usageError(command, "--overwrite takes always, never or ask");
        break;
      case 'P': password = optarg; passwordGiven = true; break;
      case 'a': attributes = false; break;
      case 'C': ignoreCase = true; break;
      case 'r': root = optarg; break;
      case 'O':
        if (!canonicalCharsetName(optarg))
          return usageError(command, "unknown name encoding '" + std::string(optarg) + "'");
        nameEncoding = optarg;
        break;
      case 'i':
        if (!parseIncompleteMode(optarg, incomplete))
          return usageError(command, "--incomplete takes bad or multi");
        break;
      case 'h':
        std::cout << (testOnly ? kTestHelp : kExtractHelp);
        return kOk;
      default:
        return usageError(command, "unknown option");
    }
  }
  if (optind >= argc) return usageError(command, command + " needs an archive");
  std::string archive = argv[optind++];
  std::vector<std::string> patterns;
  for (; optind < argc; ++optind) patterns.push_back(patternFromArg(argv[optind]));

  TUnZipEngine engine;
  VolumeFinder finder(archive);
  finder.install(engine);
  engine.OnInCompleteZip = [incomplete](TUnZipEngine&, TIncompleteZipMode& mode) { mode = incomplete; };
  engine.TestOnly = testOnly;
  engine.RecreateDirs = !junk;
  engine.RetainAttributes = attributes;
  engine.OverwriteMode = overwrite == "always" ? Always : overwrite == "never" ? Never : Prompt;
  engine.Password = password;
  engine.DoAll = patterns.empty();
  engine.FilesList = patterns;
  engine.PatternsIgnoreCase = ignoreCase;
  cancelOnSignals(engine);

  int selected = 0, failed = 0;
  std::set<int> askedPassword;
  auto nameOf = [&engine](int index) { return Slashed(engine.Entry(index).FullName()); };
  engine.Host.ShowMessage = [](const std::string& text, const std::string& caption, TMsgButtons) {
    error(caption + ": " + text);
    return TMsgResult::OK;
  };
  engine.OnStartUnZipInfo = [&](TUnZipEngine&, int numFiles, int64_t, bool&) { selected = numFiles; };
  engine.OnEndUnZip = [&](TUnZipEngine&, int index, const std::string& fname) {
    if (testOnly)
      std::cout << "OK       " << nameOf(index) << "\n";
    else
      std::cout << "extracted " << fname << "\n";
  };
  engine.OnStartUnZip = [&](TUnZipEngine&, int index, const std::string& fname, bool&) {
    if (!engine.Entry(index).IsFolder()) return;
    if (testOnly)
      std::cout << "OK       " << nameOf(index) << "\n";
    else
      std::cout << "created  " << fname << "\n";
  };
  engine.OnSkippingFile = [&](TUnZipEngine& sender, TSkipReason, int index) {
    ++failed;
    std::cout << "skipped  " << nameOf(index) << ": " << sender.LastError() << "\n";
  };
  engine.OnBadCRC = [&](TUnZipEngine& sender, uint32_t calc, uint32_t stored, int index) {
    ++failed;
    std::string why = sender.LastError() == "CRC error"
                          ? "CRC error (computed " + hex8(calc) + ", stored " + hex8(stored) + ")"
                          : sender.LastError();
    std::cout << "failed   " << nameOf(index) << ": " << why << "\n";
  };
  engine.OnBadPassword = [&](TUnZipEngine&, int index, std::string& newPassword) {
    // One question per entry; without a terminal the answer stays the same and the entry
    // is skipped.
    if (!onTerminal() || !askedPassword.insert(index).second) return;
    newPassword = askLine((passwordGiven || !newPassword.empty() ? "Wrong password for " : "Password for ") +
                          nameOf(index) + ": ");
  };
  engine.OnPromptForOverwrite = [&](TUnZipEngine&, bool& overwriteIt, int, std::string& fname) {
    if (!onTerminal()) return;
    std::string answer = askLine("Replace " + fname + "? [y/N] ");
    overwriteIt = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  };
  engine.OnUnsafePath = [&](TUnZipEngine&, int, const std::string& stored, const std::string& fname) {
    std::cout << "warning  " << Slashed(stored) << ": unsafe parts of the stored path dropped; writing "
              << fname << "\n";
  };

  return afterSignals(guarded(
      [&] {
        engine.SetNameEncoding(nameEncoding);
        loadArchive(engine, archive);
        engine.SetDestDir(dest);
        engine.SetRootDir(root);
        int done = engine.ExtractEntries();
        std::cout << done << " of " << selected << (selected == 1 ? " entry " : " entries ")
                  << (testOnly ? "tested OK" : "extracted")
                  << (engine.Count() == 0 ? " (the archive is empty)" : "") << "\n";
        const bool damaged = reportDamage(engine, archive);
        return done == selected && failed == 0 && !damaged ? int(kOk) : int(kSomeFailed);
      },
      &finder));
}

int runExtract(int argc, char** argv) { return runExtractOrTest(argc, argv, false); }
int runTest(int argc, char** argv) { return runExtractOrTest(argc, argv, true); }

Registrar extractCommand{{"extract", "extract entries into a folder", runExtract}};
Registrar testCommand{{"test", "check entries without writing them", runTest}};

}  // namespace
}  // namespace quelt::cli
