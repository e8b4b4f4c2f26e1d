// Shared pieces of quelt-cli: the command registry, option parsing, messages and the
// handlers that answer the engine on a terminal.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/UnZipEngine.h"

namespace quelt::cli {

enum ExitCode { kOk = 0, kSomeFailed = 1, kUsage = 2, kUnreadable = 3 };

struct Command {
  std::string name;
  std::string summary;  // one line for the general help
  std::function<int(int argc, char** argv)> run;  // argv[0] is the command's name
};

// Adds a command at start-up: `static Registrar r{{"list", "...", runList}};`
struct Registrar {
  explicit Registrar(Command command);
};
const std::vector<Command>& commands();

// "quelt-cli: MESSAGE" on standard error.
void error(const std::string& message);
// Prints the usage error and the hint to --help; returns kUsage.
int usageError(const std::string& command, const std::string& message);

// Maps --sort's words to sort modes; false for an unknown word.
bool parseSortMode(const std::string& word, TZipSortMode& mode);
// Maps --incomplete's words ("bad", "multi").
bool parseIncompleteMode(const std::string& word, TIncompleteZipMode& mode);

// Answers the engine's requests for the volumes of a multi-volume set by looking beside
// `archive`: block files ("name.001", ...) and split sets ("name.z01", ..., "name.zip").
// A volume that cannot be found cancels with a message naming the file it needs.
class VolumeFinder {
 public:
  explicit VolumeFinder(const std::string& archive) : archive_(archive) {}
  void install(TUnZipEngine& engine);
  // The message for the last volume that could not be found, empty when none.
  const std::string& missing() const { return missing_; }
  // Candidate file names for volume n (1-based) of the set the archive ends.
  std::vector<std::string> candidates(int n, int lastVolume) const;

 private:
  std::string archive_;
  std::string missing_;
  int lastAsked_ = 0;
  std::string lastAnswer_;
};

// Names the archive and reads its catalogue; a file in which neither an end record nor any
// entry was found is refused as not being an archive.
// `shownAs` names the archive in messages when its file is not what the user named.
void loadArchive(TUnZipEngine& engine, const std::string& archive,
                 const std::string& shownAs = "");

// Asks on the terminal for disk n of a spanned set: true when the user went on, false when
// the answer was empty or there is no terminal.
bool askDisk(int n);

// Runs an engine operation, turning the engine's exceptions into messages. Returns the
// operation's exit code, or kUnreadable after printing the error.
int guarded(const std::function<int()>& body, const VolumeFinder* finder = nullptr);

// "/" may stand for the folder separator "\" in patterns given on the command line.
std::string patternFromArg(const std::string& arg);

// Turns SIGINT and SIGTERM into a cancel request that the engine answers at its next check,
// so an interrupted command leaves no temporary file; a second signal ends the program at
// once.
void cancelOnSignals(TUnZipEngine& engine);
// 128 plus the signal's number once a signal came, else `status`.
int afterSignals(int status);

// The archive "-": standard input copied to a temporary file, removed again when this goes.
// An archive is read from its end, where its directory is, so a pipe is not enough; a copy
// also lets a damaged archive be walked like a file.
class StdinArchive {
 public:
  StdinArchive() = default;
  StdinArchive(const StdinArchive&) = delete;
  StdinArchive& operator=(const StdinArchive&) = delete;
  ~StdinArchive();
  // Copies standard input; false, with the reason told, when it is a terminal or the copy
  // fails. `archive` becomes the copy's name.
  bool take(std::string& archive);

 private:
  std::string path_;
};

// Says on standard error that the catalogue is not the whole archive; true when it is not.
bool reportDamage(const TUnZipEngine& engine, const std::string& archive);

// How messages name the archive the user gave: "-" is standard input.
std::string shownArchive(const std::string& given);

}  // namespace quelt::cli
