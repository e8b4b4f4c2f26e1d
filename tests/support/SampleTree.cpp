#include "support/SampleTree.h"

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "support/TestUtil.h"

namespace fs = std::filesystem;

namespace quelt::test {

void writeSampleTree(const std::string& t) {
  writeFile(t + "/hello.txt", std::string("hello, world\n"));
  writeFile(t + "/empty.txt", std::string());
  writeFile(t + "/one.bin", std::string("x"));
  writeFile(t + "/big.txt", textBytes(1200000, 5));
  writeFile(t + "/random.bin", randomBytes(300000, 6));
  writeFile(t + "/caf\xc3\xa9/na\xc3\xafve.txt", std::string("utf-8 folder\n"));
  writeFile(t + "/\xe6\x97\xa5\xe6\x9c\xac.txt", std::string("no cp437 form\n"));
  writeFile(t + "/semi;colon name.txt", std::string("a ; in the name\n"));
  makeDirs(t + "/empty-folder");
  setLocalMTime(t + "/hello.txt", 2019, 7, 4, 13, 37, 42);
  setLocalMTime(t + "/big.txt", 2001, 2, 3, 4, 5, 6);
  setLocalMTime(t + "/one.bin", 2010, 10, 10, 10, 10, 11);  // odd seconds round in DOS time
}

TempDir* SampleTreeTest::tree_ = nullptr;

void SampleTreeTest::SetUpTestSuite() {
  tree_ = new TempDir();
  writeSampleTree(*tree_ / "src");
}

void SampleTreeTest::TearDownTestSuite() {
  delete tree_;
  tree_ = nullptr;
}

std::string SampleTreeTest::src() { return *tree_ / "src"; }

std::vector<std::string> compareTrees(const std::string& expected, const std::string& actual,
                                      bool times) {
  auto listing = [](const std::string& root) {
    std::set<std::string> names;
    for (auto& p : fs::recursive_directory_iterator(root))
      if (p.is_regular_file()) names.insert(fs::relative(p.path(), root).string());
    return names;
  };
  std::vector<std::string> diffs;
  std::set<std::string> a = listing(expected), b = listing(actual);
  for (const auto& n : a)
    if (!b.count(n)) diffs.push_back("missing " + n);
  for (const auto& n : b)
    if (!a.count(n)) diffs.push_back("unexpected " + n);
  for (const auto& n : a) {
    if (!b.count(n)) continue;
    if (readFile(expected + "/" + n) != readFile(actual + "/" + n)) diffs.push_back("bytes of " + n);
    if (times) {
      struct stat x, y;
      ::stat((expected + "/" + n).c_str(), &x);
      ::stat((actual + "/" + n).c_str(), &y);
      if (std::abs(double(x.st_mtime - y.st_mtime)) > 2) diffs.push_back("time of " + n);
    }
  }
  return diffs;
}

}  // namespace quelt::test
