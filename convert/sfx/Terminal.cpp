#include "convert/sfx/Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace quelt::sfx {

namespace {

std::optional<std::string> readLine() {
  char* buf = nullptr;
  size_t cap = 0;
  ssize_t n = ::getline(&buf, &cap, stdin);
  std::optional<std::string> line;
  if (n >= 0) {
    line.emplace(buf, size_t(n));
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
  }
  std::free(buf);
  return line;
}

}  // namespace

TTerminal::TTerminal(bool ask) : interactive_(ask && ::isatty(STDIN_FILENO)) {}

std::optional<std::string> TTerminal::Ask(const std::string& prompt) {
  if (!interactive_) return std::nullopt;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return readLine();
}

std::optional<std::string> TTerminal::AskSecret(const std::string& prompt) {
  if (!interactive_) return std::nullopt;
  termios saved;
  const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (quiet) {
    termios silent = saved;
    silent.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  std::optional<std::string> line = readLine();
  if (quiet) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);  // keeps what was typed ahead
    std::fputs("\n", stderr);
  }
  return line;
}

bool TTerminal::Confirm(const std::string& prompt, bool byDefault) {
  std::optional<std::string> answer = Ask(prompt + (byDefault ? " [Y/n] " : " [y/N] "));
  if (!answer || answer->empty()) return byDefault;
  return (*answer)[0] == 'y' || (*answer)[0] == 'Y';
}

}  // namespace quelt::sfx
