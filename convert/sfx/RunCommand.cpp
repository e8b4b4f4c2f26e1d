#include "convert/sfx/RunCommand.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace quelt::sfx {

TCommandResult RunAndWait(const std::vector<std::string>& argv) {
  TCommandResult r;
  if (argv.empty()) {
    r.error = "the command line names no program";
    return r;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int err = ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (err != 0) {
    r.error = std::strerror(err);
    return r;
  }
  r.started = true;
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      r.error = std::strerror(errno);
      return r;
    }
  }
  if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
  return r;
}

std::string Quoted(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& a : argv) {
    if (!line.empty()) line += ' ';
    line += a.find_first_of(" \t\"") == std::string::npos && !a.empty() ? a : "\"" + a + "\"";
  }
  return line;
}

}  // namespace quelt::sfx
