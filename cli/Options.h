// What every command of quelt-cli takes beside its own options: how much it says (-q, -v),
// the progress line (--progress) and --version.
#pragma once

#include <getopt.h>

#include <initializer_list>
#include <iosfwd>
#include <string>
#include <vector>

namespace quelt::cli {

struct CommonOptions {
  bool quiet = false;     // only errors and the results asked for (listings, piped data)
  bool verbose = false;   // more detail per entry
  bool progress = false;  // the progress line even when standard error is no terminal
};
const CommonOptions& commonOptions();

// getopt_long values of the long-only common options.
enum : int { kOptProgress = 0x1100, kOptVersion };

// A command's long options with the common ones added and the terminating row.
std::vector<option> withCommonOptions(std::initializer_list<option> own);
// A command's short options with the common ones ("qv") added.
std::string withCommonShort(const std::string& own);

// What nextOption returns once --version has been printed: the command has nothing to do.
constexpr int kVersionShown = -2;
// The next of a command's own options from getopt_long (-1 after the last), handling the
// common ones on the way.
int nextOption(int argc, char** argv, const std::string& shortOptions,
               const std::vector<option>& longOptions);

// The help lines of the common options, for each command's --help.
extern const char* const kCommonHelp;

// The exit statuses, for the help texts.
extern const char* const kExitStatusHelp;

// Where per-entry lines and summaries go: standard output, or nowhere with -q. Clears the
// progress line first so the two do not mix on a terminal.
std::ostream& say();
// Where a failure of one entry (skipped, failed, missing) is told: standard error, also
// with -q.
std::ostream& complain();
// Sends what say() and detail() print to standard error instead: standard output carries
// an archive.
void sayOnStandardError();
// Like say(), for lines only -v asks for.
std::ostream& detail();

// Program and engine version, and the methods read and written.
void printVersion(std::ostream& out);

}  // namespace quelt::cli
