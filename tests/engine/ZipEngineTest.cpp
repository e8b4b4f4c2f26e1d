#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

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
  // Entries in archive order: names in memory ("\\"-separated), or as written.
  std::vector<std::string> names(bool asWritten = false) {
    TUnZipEngine reader;
    reader.SetZipName(zip());
    reader.LoadCatalogue();
    std::vector<std::string> n;
    for (int i = 0; i < reader.Count(); ++i)
      n.push_back(asWritten ? reader.Entry(i).StoredName() : reader.Entry(i).FullName());
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

TEST_F(Writer, NamesDifferingOnlyInCaseAreTwoEntries) {
  std::string upper = file("X.txt", "upper"), lower = file("x.txt", "lower");
  std::vector<int> skipped;
  engine.OnSkippingFile = [&](TUnZipEngine&, TSkipReason r, int) { skipped.push_back(r); };
  EXPECT_EQ(add({upper, lower}), 2);
  EXPECT_EQ(skipped, std::vector<int>{});
  // Rewriting an archive that holds both, by update, freshen, removal and repair.
  writeFile(lower, std::string("lower, newer"));
  setLocalMTime(lower, 2035, 1, 1, 0, 0, 0);
  EXPECT_EQ(add({upper, lower}), 1);
  engine.ZipAction = zaFreshen;
  EXPECT_EQ(add({dir / "*.txt"}), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"X.txt", "x.txt"}));
  engine.FilesList = {"x.txt"};
  engine.RemoveEntries();
  EXPECT_EQ(names(), (std::vector<std::string>{"X.txt"}));
  engine.ZipAction = zaUpdate;
  add({lower});
  engine.RepairArchive(zip(), dir / "fixed.zip");
  EXPECT_EQ(engine.Count(), 2);
}

TEST_F(Writer, StoredNamesNeverClimbOrStartAtTheRoot) {
  TempDir outside;
  writeFile(outside / "far/away.txt", std::string("far"));
  file("base/near.txt", "near");
  file("base/we\\ird.txt", "a backslash is part of a Linux name");
  engine.SetRelativePaths(true);
  engine.SetRootDir(dir / "base");
  const std::string parent = dir / "base/../base/near.txt";
  add({outside / "far/away.txt", parent, dir / "base/we\\ird.txt"});
  // Outside the root: the path without its leading "/"; a "\\" stays part of the name.
  EXPECT_EQ(names(true), (std::vector<std::string>{outside.path().substr(1) + "/far/away.txt",
                                                   "near.txt", "we\\ird.txt"}));
  // A path given relative to the current folder keeps no ".." parts either.
  file("other/o.txt", "o");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir((dir / "base").c_str()), 0);
  std::remove(zip().c_str());
  engine.SetRootDir("");
  int added = add({"../other/o.txt", "../base/near.txt", "near.txt"});
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(added, 2);  // near.txt named twice
  EXPECT_EQ(names(true), (std::vector<std::string>{"other/o.txt", "near.txt"}));
}

TEST_F(Writer, ModesTimesEmptyFoldersAndLinks) {
  std::string script = file("tree/run.sh", "#!/bin/sh\n");
  ASSERT_EQ(::chmod(script.c_str(), 0750), 0);
  makeDirs(dir / "tree/empty");
  makeDirs(dir / "tree/full/deeper");
  file("tree/full/deeper/f.txt", "f");
  ASSERT_EQ(::symlink("run.sh", (dir / "tree/link.sh").c_str()), 0);
  ASSERT_EQ(::symlink("full", (dir / "tree/folder-link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "tree/dangling").c_str()), 0);
  struct stat st;
  ASSERT_EQ(::stat(script.c_str(), &st), 0);
  std::vector<std::string> refused;
  engine.OnFileRefused = [&](TZipEngine&, const std::string& name, const std::string& why) {
    refused.push_back(name.substr(dir.path().size() + 1) + ": " + why);
  };
  engine.Recurse = true;
  engine.SetRelativePaths(true);
  engine.SetRootDir(dir / "tree");
  add({dir / "tree/*"});
  EXPECT_EQ(names(),
            (std::vector<std::string>{"empty\\", "full\\deeper\\f.txt", "link.sh", "run.sh"}));
  EXPECT_EQ(refused, (std::vector<std::string>{
                         "tree/folder-link: it is a link to a folder; links to folders are not "
                         "followed",
                         "tree/dangling: it is a symbolic link to nothing"}));
  const TZipHeaderInfo& run = engine.Entry(3);
  EXPECT_EQ(run.UnixMode(), uint32_t(S_IFREG | 0750));
  EXPECT_EQ(run.ModTimeUtc, int64_t(st.st_mtime));
  EXPECT_EQ(run.CentralExtra().size(), 9u);  // the extended timestamp, in both headers
  EXPECT_EQ(run.ExtraFieldLength, 9);
  EXPECT_TRUE(engine.Entry(0).IsFolder());
  EXPECT_EQ(engine.Entry(0).UnixMode().value_or(0) & S_IFMT, uint32_t(S_IFDIR));
  EXPECT_EQ(engine.Entry(2).UncompressedSize, 10u);  // the link followed to its file

  // Kept as links, the folder link and the dangling one are entries too.
  std::remove(zip().c_str());
  refused.clear();
  engine.StoreLinks = true;
  add({dir / "tree/*"});
  EXPECT_EQ(refused, std::vector<std::string>{});
  ASSERT_EQ(engine.Count(), 6);
  for (int i : {0, 2, 4}) EXPECT_TRUE(engine.Entry(i).IsSymlink()) << engine.Entry(i).FullName();
  EXPECT_EQ(engine.Entry(4).FullName(), "link.sh");
  EXPECT_EQ(engine.Entry(4).UncompressedSize, 6u);  // "run.sh"
}

TEST_F(Writer, ASourceThatChangesIsStoredAsRead) {
  std::string grows = file("grows.txt", std::string(300000, 'g'));
  std::vector<std::string> warnings;
  engine.OnFileWarning = [&](TZipEngine&, const std::string&, const std::string& why) {
    warnings.push_back(why);
  };
  bool appended = false;
  engine.OnFilePercentDone = [&](TUnZipEngine&, int) {
    if (appended) return;
    appended = true;
    std::ofstream(grows, std::ios::app) << std::string(1000, '+');
  };
  EXPECT_EQ(add({grows}), 1);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("300000 bytes when gathered, 301000 read and stored"),
            std::string::npos);
  EXPECT_EQ(engine.Entry(0).UncompressedSize, 301000u);
  TUnZipEngine reader;
  reader.SetZipName(zip());
  reader.TestOnly = reader.DoAll = true;
  EXPECT_EQ(reader.ExtractEntries(), 1);

  // Encrypted, the header's check byte needs the CRC first: a change between the two reads
  // makes it read again; one that never stops is given up.
  std::remove(zip().c_str());
  engine.Password = "pw";
  appended = false;
  EXPECT_EQ(add({grows}), 1);
  reader.Password = "pw";
  EXPECT_EQ(reader.ExtractEntries(), 1);
  std::vector<std::string> refused;
  engine.OnFileRefused = [&](TZipEngine&, const std::string&, const std::string& why) {
    refused.push_back(why);
  };
  int last = 1000;
  engine.OnFilePercentDone = [&](TUnZipEngine&, int percent) {
    if (percent < last) std::ofstream(grows, std::ios::app) << "+";  // once each reading
    last = percent;
  };
  engine.ZipAction = zaReplace;
  file("other.txt", "other");
  EXPECT_EQ(add({grows, dir / "other.txt"}), 1);
  EXPECT_EQ(refused, std::vector<std::string>{"it kept changing while it was being encrypted"});
  EXPECT_EQ(names(), (std::vector<std::string>{"grows.txt", "other.txt"}));  // the old one kept
  EXPECT_EQ(reader.ExtractEntries(), 2);
}

TEST_F(Writer, ANewArchiveAppearsOnlyWholeAndALinkToAnArchiveStays) {
  std::string a = file("a.txt", "alpha");
  std::vector<std::string> seen;
  engine.OnEndZip = [&](TZipEngine&, const std::string&, int64_t, int64_t, int64_t) {
    seen.push_back(run("ls -A " + shq(dir.path())).out);
    throw std::runtime_error("stop");
  };
  EXPECT_THROW(add({a}), std::runtime_error);
  ASSERT_EQ(seen.size(), 1u);
  // Built beside, under another name.
  EXPECT_NE(seen[0].find("QLZ"), std::string::npos) << seen[0];
  EXPECT_EQ(seen[0].find("a.zip"), std::string::npos) << seen[0];
  EXPECT_EQ(run("ls -A " + shq(dir.path())).out, "a.txt\n");  // and gone with the failure
  engine.OnEndZip = nullptr;

  TempDir real;
  ASSERT_EQ(::symlink((real / "real.zip").c_str(), zip().c_str()), 0);
  EXPECT_EQ(add({a}), 1);
  EXPECT_EQ(add({file("b.txt", "beta")}), 1);
  struct stat st;
  ASSERT_EQ(::lstat(zip().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(run("ls -A " + shq(real.path())).out, "real.zip\n");
  // a.txt, written by this engine and then copied by it, still reads back.
  TUnZipEngine reader;
  reader.SetZipName(zip());
  reader.TestOnly = reader.DoAll = true;
  EXPECT_EQ(reader.ExtractEntries(), 2);
}
