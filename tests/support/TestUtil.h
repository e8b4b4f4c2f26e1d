// Shared test helpers: scratch folders, whole-file I/O, running other programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> readFile(const std::string& path);
std::string readText(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& data);
void writeFile(const std::string& path, const std::string& data);
bool fileExists(const std::string& path);
void makeDirs(const std::string& path);
// Sets a file's modification time from local calendar fields.
void setLocalMTime(const std::string& path, int year, int month, int day, int hour, int minute,
                   int second);

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};
// Runs a shell command line in `cwd` (when given), feeding `input` to its standard input.
RunResult run(const std::string& command, const std::string& cwd = "",
              const std::string& input = "");
// Quotes a string for the shell.
std::string shq(const std::string& s);
// True when a program of that name is on PATH.
bool haveTool(const std::string& name);

// Deterministic pseudo-random bytes and a few kinds of realistic data.
std::vector<uint8_t> randomBytes(size_t n, uint32_t seed);
std::vector<uint8_t> textBytes(size_t n, uint32_t seed);

// Path of one of our programs in the build's bin folder.
std::string binPath(const std::string& program);
std::string testdataPath(const std::string& relative);
std::string sourcePath(const std::string& relative);

}  // namespace quelt::test
