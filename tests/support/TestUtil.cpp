#include "support/TestUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quelt::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "quelt-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only files and folders; make them writable so removal succeeds.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path) {
  auto bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string& path, const std::string& data) {
  writeFile(path, std::vector<uint8_t>(data.begin(), data.end()));
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

void setLocalMTime(const std::string& path, int year, int month, int day, int hour, int minute,
                   int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  struct timespec times[2] = {{t, 0}, {t, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set time of " + path);
}

std::string shq(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'')
      r += "'\\''";
    else
      r += c;
  }
  return r + "'";
}

RunResult run(const std::string& command, const std::string& cwd, const std::string& input) {
  TempDir scratch;
  std::string outFile = scratch / "out", errFile = scratch / "err", inFile = scratch / "in";
  writeFile(inFile, input);
  std::string line;
  if (!cwd.empty()) line += "cd " + shq(cwd) + " && ";
  line += "( " + command + " ) <" + shq(inFile) + " >" + shq(outFile) + " 2>" + shq(errFile);
  int rc = std::system(line.c_str());
  RunResult r;
  r.status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
  r.out = readText(outFile);
  r.err = readText(errFile);
  return r;
}

bool haveTool(const std::string& name) {
  return std::system(("command -v " + shq(name) + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(gen());
  return v;
}

std::vector<uint8_t> textBytes(size_t n, uint32_t seed) {
  static const char* words[] = {"the",     "archive", "entry",  "folder", "deflate", "window",
                                "of",      "and",     "a",      "to",     "quelt",   "data",
                                "compress", "file",   "header", "is",     "in",      "with"};
  std::mt19937 gen(seed);
  std::vector<uint8_t> v;
  v.reserve(n + 16);
  while (v.size() < n) {
    const char* w = words[gen() % (sizeof words / sizeof *words)];
    while (*w) v.push_back(uint8_t(*w++));
    v.push_back(gen() % 13 == 0 ? '\n' : ' ');
  }
  v.resize(n);
  return v;
}

std::string binPath(const std::string& program) { return std::string(QUELT_BIN_DIR) + "/" + program; }

std::string testdataPath(const std::string& relative) {
  return std::string(QUELT_TESTDATA_DIR) + "/" + relative;
}

}  // namespace quelt::test

namespace quelt::test {
std::string sourcePath(const std::string& relative) {
  return std::string(QUELT_SOURCE_DIR) + "/" + relative;
}
}  // namespace quelt::test
