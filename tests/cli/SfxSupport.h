// Shared by the self-extractor's end-to-end tests: building self-extractors with quelt-cli,
// running them without a terminal and on a pseudo-terminal.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/TestUtil.h"

namespace quelt::test {

inline std::string cliProgram() {
  return shq(binPath("quelt-cli"));
}

// Runs quelt-cli sfx on `archive` (replacing an earlier output); returns the program's path.
inline std::string makeSfx(const std::string& archive, const std::string& options = "") {
  RunResult r = run(cliProgram() + " sfx --force " + options + " " + shq(archive));
  EXPECT_EQ(r.status, 0) << options << "\n" << r.out << r.err;
  return archive.substr(0, archive.rfind('.')) + ".exe";
}

// Runs a self-extractor with standard input from a file: no terminal.
inline RunResult runSfx(const std::string& exe, const std::string& args,
                        const std::string& env = "") {
  return run(env + " " + shq(exe) + " " + args);
}

// Runs a self-extractor on a pseudo-terminal, answering each expected question in turn; the
// transcript is in `out`.
inline RunResult runOnTerminal(const std::string& exe, const std::string& args,
                               const std::vector<std::pair<std::string, std::string>>& answers,
                               const std::string& env = "") {
  std::string line = env + " python3 " + shq(sourcePath("tests/cli/pty_session.py"));
  for (const auto& [expect, send] : answers)
    line += " --expect " + shq(expect) + " --send " + shq(send);
  return run(line + " -- " + shq(exe) + " " + args);
}

// The folder a self-extractor reported extracting into.
inline std::string extractedInto(const std::string& out) {
  size_t at = out.find(" extracted into ");
  if (at == std::string::npos) return "";
  at += 16;
  return out.substr(at, out.find('\n', at) - at);
}

}  // namespace quelt::test
