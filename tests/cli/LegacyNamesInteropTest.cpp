// Names in legacy code pages from the command line: archives Info-ZIP's zip made of files whose
// names are such bytes on disk, and the -O choice of list, extract and test.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/Charsets.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt::test;

namespace {

class LegacyNames : public ::testing::Test {
 protected:
  RunResult quelt(const std::string& args) {
    return run("TMPDIR=" + shq(tmp_.path()) + " " + shq(binPath("quelt-cli")) + " " + args);
  }
  // The first column of list --tsv, sorted.
  std::vector<std::string> listed(const std::string& options, const std::string& archive) {
    RunResult r = quelt("list --tsv " + options + " " + shq(archive));
    EXPECT_EQ(r.status, 0) << r.err;
    return column(r.out);
  }
  std::vector<std::string> onDisk(const std::string& folder) {
    return column(run("cd " + shq(folder) +
                      " && find . -mindepth 1 \\( -type d -printf '%P/\\n' "
                      "\\) -o -printf '%P\\n'")
                      .out);
  }
  static std::vector<std::string> column(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      lines.push_back(
          text.substr(at, text.find('\t', at) < end ? text.find('\t', at) - at : end - at));
      at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  TempDir dir, tmp_;
};

struct TOnDisk {
  const char* charset;
  const char* option;              // as a user would spell it
  std::vector<std::string> names;  // folders end in "/", before what they hold
};

const TOnDisk kOnDisk[] = {
    {"CP866",
     "cp866",
     {"Документы/", "Документы/Договор аренды.pdf", "Привет мир.txt", "Отчёт за март.doc",
      "Список покупок.txt", "Письмо директору.doc"}},
    {"CP932",
     "SJIS",
     {"新しいフォルダ/", "新しいフォルダ/見積書.xls", "会議資料.txt", "ソフトウェア仕様書.txt",
      "表計算.xls", "お知らせ.txt"}},
};

TEST_F(LegacyNames, InfoZipArchivesOfLegacyFileNamesReadBackRight) {
  if (!haveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  for (const TOnDisk& set : kOnDisk) {
    SCOPED_TRACE(set.charset);
    // The files as a legacy system leaves them: names in its code page, byte for byte.
    const std::string src = dir / set.charset;
    for (const std::string& name : set.names) {
      if (name.back() == '/')
        makeDirs(src + "/" + bytesIn(set.charset, name));
      else
        writeFile(src + "/" + bytesIn(set.charset, name), name);
    }
    const std::string archive = dir / (std::string(set.charset) + ".zip");
    RunResult zip = run("cd " + shq(src) + " && LC_ALL=C zip -qr " + shq(archive) + " .");
    ASSERT_EQ(zip.status, 0) << zip.err;

    std::vector<std::string> expected = set.names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed("", archive), expected);
    EXPECT_EQ(listed("-O " + std::string(set.option), archive), expected);

    const std::string out = dir / (std::string(set.charset) + "-out");
    RunResult extract = quelt("extract -d " + shq(out) + " " + shq(archive));
    EXPECT_EQ(extract.status, 0) << extract.out << extract.err;
    EXPECT_EQ(onDisk(out), expected);
    EXPECT_EQ(readText(out + "/" + set.names[1]), set.names[1]);

    RunResult test = quelt("test --name-encoding=" + std::string(set.option) + " " + shq(archive));
    EXPECT_EQ(test.status, 0) << test.out << test.err;
    EXPECT_NE(test.out.find("OK       " + set.names[2] + "\n"), std::string::npos) << test.out;
  }
}

TEST_F(LegacyNames, ChosenSetWinsAndUnknownSetsAreRefused) {
  ZipSpec spec;
  const std::vector<std::string> names = {"Привет мир.txt", "Отчёт за март.doc",
                                          "Список покупок.txt"};
  for (const std::string& name : names) {
    spec.entries.push_back(stored(bytesIn("CP866", name), name));
    spec.entries.back().versionMadeBy = 0x0014;  // DOS
  }
  writeFile(dir / "ru.zip", buildZip(spec));
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(listed("", dir / "ru.zip"), sorted);
  // The user's choice is taken even where it reads the bytes as other letters.
  std::vector<std::string> asCp1251;
  for (const std::string& name : names)
    asCp1251.push_back(textIn("CP1251", bytesIn("CP866", name)));
  std::sort(asCp1251.begin(), asCp1251.end());
  EXPECT_EQ(listed("-O windows-1251", dir / "ru.zip"), asCp1251);

  const std::string out = dir / "out";
  RunResult extract = quelt("extract -O cp1251 -d " + shq(out) + " " + shq(dir / "ru.zip"));
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(onDisk(out), asCp1251);

  for (const char* command : {"list", "extract", "test"}) {
    RunResult bad = quelt(std::string(command) + " -O klingon " + shq(dir / "ru.zip"));
    EXPECT_EQ(bad.status, 2) << command;
    EXPECT_NE(bad.err.find("unknown name encoding 'klingon'"), std::string::npos) << bad.err;
  }
}

}  // namespace
