// quelt-cli: the archive engine on the command line.
#include <cstring>
#include <iostream>

#include "cli/Cli.h"
#include "cli/Options.h"

using namespace quelt::cli;

namespace {
void generalHelp(std::ostream& out) {
  out << "Usage: quelt-cli COMMAND [OPTIONS] ARCHIVE [ARGS...]\n"
         "Works on ZIP archives with Quelt's archive engine.\n\nCommands:\n";
  for (const auto& c : commands()) {
    out << "  " << c.name;
    for (size_t i = c.name.size(); i < 10; ++i) out << ' ';
    out << c.summary << "\n";
  }
  out << "\nRun 'quelt-cli COMMAND --help' for the options of a command. Every command takes\n"
         "-q (quiet), -v (verbose) and --progress; results go to standard output, errors and\n"
         "the progress line to standard error. '--' ends the options.\n"
         "  --version   show the version and the compression methods read and written\n"
         "  -h, --help  show this help\n"
         "\nExit status:\n"
      << kExitStatusHelp;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    generalHelp(std::cerr);
    return kUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    generalHelp(std::cout);
    return kOk;
  }
  if (name == "--version" || name == "-V") {
    printVersion(std::cout);
    return kOk;
  }
  for (const auto& c : commands())
    if (c.name == name) return c.run(argc - 1, argv + 1);
  error("unknown command '" + name + "'");
  std::cerr << "Try 'quelt-cli --help' for more information.\n";
  return kUsage;
}
