#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/Errors.h"
#include "engine/ZipEngine.h"
#include "engine/ZipFormat.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {

struct Writer : ::testing::Test {
  TempDir dir;
  TempDir temp;  // where archives are built, to check nothing is left there
  TZipEngine engine;
  std::string zip() { return dir / "a.zip"; }
  void SetUp() override { engine.TempPath = temp.path(); }
  std::string file(const std::string& name, const std::string& text) {
    writeFile(dir / name, text);
    return dir / name;
  }
  int add(std::vector<std::string> files) {
    engine.SetZipName(zip());
    engine.FilesList = std::move(files);
    return engine.CompressFiles();
  }
  std::vector<std::string> names() {
    TUnZipEngine reader;
    reader.SetZipName(zip());
    reader.LoadCatalogue();
    std::vector<std::string> n;
    for (int i = 0; i < reader.Count(); ++i) n.push_back(reader.Entry(i).FullName());
    return n;
  }
  bool tempIsEmpty() { return run("ls -A " + shq(temp.path())).out.empty(); }
};

}  // namespace

TEST_F(Writer, NewArchiveAndItsCatalogue) {
  auto text = textBytes(100000, 1);
  writeFile(dir / "big.txt", text);
  EXPECT_EQ(add({dir / "big.txt", file("small.bin", "0123456789")}), 2);
  EXPECT_EQ(names(), (std::vector<std::string>{"big.txt", "small.bin"}));
  // The engine's catalogue already describes the new archive.
  ASSERT_EQ(engine.Count(), 2);
  const TZipHeaderInfo& big = engine.Entry(0);
  EXPECT_EQ(big.CompressionMethod, 8);
  EXPECT_EQ(big.InternalAttributes, 1);  // text
  EXPECT_EQ(big.VersionMadeBy, kMadeByUnix);  // made on Unix, the mode beside the DOS bits
  struct stat st;
  ASSERT_EQ(::stat((dir / "big.txt").c_str(), &st), 0);
  EXPECT_EQ(big.ExternalAttributes, (uint32_t(st.st_mode) << 16) | kAttrArchive);
  EXPECT_EQ(big.CRC32, crc32Of(text));
  EXPECT_LT(big.CompressedSize, text.size() / 2);
  EXPECT_EQ(engine.Entry(1).CompressionMethod, 0);  // ten bytes without repeats are stored
  // It extracts to the same bytes.
  TUnZipEngine reader;
  reader.SetZipName(zip());
  reader.SetDestDir(dir / "out");
  reader.DoAll = true;
  EXPECT_EQ(reader.ExtractEntries(), 2);
  EXPECT_EQ(readFile(dir / "out/big.txt"), text);
}

TEST_F(Writer, EmptyListsRewriteOrCreate) {
  EXPECT_EQ(add({}), 0);
  EXPECT_EQ(readFile(zip()).size(), 22u);  // only the end record
  add({file("a.txt", "alpha")});
  engine.SetArchiveComment("kept");
  engine.SavePendingChanges();
  EXPECT_EQ(add({}), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(engine.ArchiveComment(), "kept");
  EXPECT_TRUE(tempIsEmpty());
}

TEST_F(Writer, UpdateReplaceAndFreshen) {
  std::string a = file("a.txt", "old a"), b = file("b.txt", "old b");
  setLocalMTime(a, 2020, 1, 1, 10, 0, 0);
  setLocalMTime(b, 2020, 1, 1, 10, 0, 0);
  add({a, b});
  // Same date: the entry stays and the file is not counted.
  EXPECT_EQ(add({a}), 0);
  // Newer file: replaced. A missing file is reported and the rest goes on.
  writeFile(a, std::string("new a"));
  setLocalMTime(a, 2021, 1, 1, 10, 0, 0);
  std::vector<std::string> missing;
  engine.OnNoSuchFile = [&](TZipEngine&, const std::string& f) { missing.push_back(f); };
  EXPECT_EQ(add({a, dir / "gone.txt"}), 1);
  EXPECT_EQ(missing, (std::vector<std::string>{dir / "gone.txt"}));
  // Replace ignores dates.
  engine.ZipAction = zaReplace;
  EXPECT_EQ(add({b}), 1);
  // Freshen adds nothing new.
  engine.ZipAction = zaFreshen;
  std::string c = file("c.txt", "new file");
  EXPECT_EQ(add({c, a}), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(Writer, AFailedReplacementKeepsTheOldEntry) {
  std::string a = file("a.txt", "first");
  add({a});
  writeFile(a, std::string("second"));
  setLocalMTime(a, 2030, 1, 1, 0, 0, 0);
  engine.OnStartZip = [](TZipEngine&, const std::string&, TZipHeaderInfo&, bool& skip) { skip = true; };
  EXPECT_EQ(add({a}), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt"}));
}

TEST_F(Writer, DuplicatesAndStoredPaths) {
  std::string a = file("sub/a.txt", "a");
  std::vector<int> skipped;
  engine.OnSkippingFile = [&](TUnZipEngine&, TSkipReason r, int) { skipped.push_back(r); };
  EXPECT_EQ(add({a, a}), 1);
  EXPECT_EQ(skipped, (std::vector<int>{skNoOverwrite}));
  engine.SetRelativePaths(true);
  engine.SetRootDir(dir.path());
  EXPECT_EQ(add({a}), 1);
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "sub\\a.txt"}));
}

TEST_F(Writer, PasswordProtectsNewEntries) {
  std::string a = file("secret.txt", std::string(5000, 's'));
  engine.Password = "pw";
  add({a});
  const TZipHeaderInfo& e = engine.Entry(0);
  EXPECT_TRUE(e.Encrypted());
  EXPECT_FALSE(e.HasDataDescriptor());
  TUnZipEngine reader;
  reader.SetZipName(zip());
  reader.SetDestDir(dir / "out");
  reader.DoAll = true;
  EXPECT_EQ(reader.ExtractEntries(), 0);  // no password
  reader.Password = "pw";
  EXPECT_EQ(reader.ExtractEntries(), 1);
  EXPECT_EQ(readText(dir / "out/secret.txt"), std::string(5000, 's'));
}

TEST_F(Writer, FailuresLeaveTheArchiveByteIdentical) {
  add({file("a.txt", "alpha"), file("b.txt", "beta")});
  const auto before = readFile(zip());
  std::string c = file("c.txt", std::string(200000, 'c'));
  std::string d = file("d.txt", "delta");

  // An exception from a handler half-way through.
  engine.OnEndZip = [](TZipEngine&, const std::string& f, int64_t, int64_t, int64_t) {
    if (f.find("c.txt") != std::string::npos) throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(add({c, d}), std::runtime_error);
  EXPECT_EQ(readFile(zip()), before);
  EXPECT_TRUE(tempIsEmpty());
  engine.OnEndZip = nullptr;

  // A cancel request while compressing.
  engine.OnTotalPercentDone = [](TUnZipEngine& sender, int) { sender.RequestCancel(); };
  try {
    add({c});
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_EQ(readFile(zip()), before);
  engine.OnTotalPercentDone = nullptr;

  // StopNow before the first file.
  engine.OnStartZipInfo = [](TZipEngine&, int, int64_t, TEndCentral&, bool& stop) { stop = true; };
  try {
    add({c});
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Zip operation.");
  }
  EXPECT_EQ(readFile(zip()), before);
  EXPECT_TRUE(tempIsEmpty());
  // The catalogue still describes the old archive.
  EXPECT_EQ(engine.Count(), 2);
}

TEST_F(Writer, RemovingByNameAndWildcard) {
  add({file("docs/readme.txt", "r"), file("a.bak", "1"), file("old/b.bak", "2"), file("c.txt", "3")});
  engine.SetStorePaths(true);
  engine.SetRelativePaths(true);
  engine.SetRootDir(dir.path());
  add({dir / "docs/readme.txt", dir / "old/b.bak"});
  ASSERT_EQ(names().size(), 6u);
  std::vector<std::string> asked;
  engine.OnDeleteEntry = [&](TZipEngine&, const std::string& name, bool& skip) {
    asked.push_back(name);
    skip = name == "a.bak";
  };
  engine.FilesList = {"docs\\readme.txt", "*.bak", "nothing.txt", "C.TXT"};
  engine.RemoveEntries();
  // A name with its folder matches only that entry, and only in its own letter case; a
  // wildcard skipped once removes no more.
  EXPECT_EQ(names(), (std::vector<std::string>{"readme.txt", "a.bak", "b.bak", "c.txt", "old\\b.bak"}));
  EXPECT_EQ(asked, (std::vector<std::string>{"a.bak", "docs\\readme.txt"}));
  EXPECT_EQ(engine.FilesList, (std::vector<std::string>{"nothing.txt", "C.TXT"}));
}

TEST_F(Writer, CommentEditsAreSavedBeforeSwitching) {
  add({file("a.txt", "alpha")});
  engine.SetEntryComment(0, "entry note");
  engine.SetArchiveComment("archive note");
  engine.SetZipName(dir / "other.zip");  // saves first
  TUnZipEngine reader;
  reader.SetZipName(zip());
  reader.LoadCatalogue();
  EXPECT_EQ(reader.ArchiveComment(), "archive note");
  EXPECT_EQ(reader.EntryComment(0), "entry note");

  engine.SetZipName(zip());
  engine.LoadCatalogue();
  engine.SetArchiveComment(std::string(65507, 'x'));
  EXPECT_THROW(engine.SavePendingChanges(), EZipRefused);
}

TEST_F(Writer, RepairWritesWhatCanBeFound) {
  ZipSpec spec;
  for (const char* n : {"one.txt", "two.txt", "three.txt"}) {
    ZipEntrySpec e;
    e.name = n;
    e.data.assign(n, n + 7);
    spec.entries.push_back(e);
  }
  spec.centralDirectory = spec.endRecord = false;
  auto bytes = buildZip(spec);
  bytes.resize(bytes.size() - 3);  // the last entry is cut short
  writeFile(dir / "bad.zip", bytes);
  std::vector<std::string> refused;
  engine.OnFileRefused = [&](TZipEngine&, const std::string& name, const std::string&) {
    refused.push_back(name);
  };
  engine.RepairArchive(dir / "bad.zip", dir / "fixed.zip");
  EXPECT_EQ(refused, (std::vector<std::string>{"three.txt"}));
  EXPECT_EQ(engine.ZipName(), dir / "fixed.zip");
  EXPECT_EQ(readFile(dir / "bad.zip"), bytes);
  TUnZipEngine reader;
  reader.SetZipName(dir / "fixed.zip");
  reader.LoadCatalogue();
  EXPECT_FALSE(reader.Rebuilt());
  EXPECT_EQ(reader.Count(), 2);
}

TEST_F(Writer, TheArchiveIsNeverItsOwnSource) {
  file("a.txt", "alpha");
  add({dir / "a.txt"});
  EXPECT_EQ(add({dir / "*"}), 0);  // a.txt unchanged, a.zip passed over
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt"}));
}
