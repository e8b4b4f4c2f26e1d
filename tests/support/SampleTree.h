// A folder of files of every kind the interoperability tests archive with other tools.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestUtil.h"

namespace quelt::test {

// Writes the sample files below `root` (text, binary, empty, one byte, over 1 MiB, UTF-8
// names, a ";" in a name, an empty folder, fixed modification times on some).
void writeSampleTree(const std::string& root);

// Differences between two trees' regular files: missing on either side, differing bytes, and, when
// asked, modification times that differ by more than DOS's two-second step.
std::vector<std::string> compareTrees(const std::string& expected, const std::string& actual,
                                      bool times);

// A fixture whose suite shares one sample tree (made once) and whose tests each get a
// scratch folder.
class SampleTreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  static std::string src();
  std::string path(const std::string& name) const { return dir_ / name; }

  TempDir dir_;

 private:
  static TempDir* tree_;
};

}  // namespace quelt::test
