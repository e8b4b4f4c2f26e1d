#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/Errors.h"
#include "engine/Placement.h"
#include "engine/UnZipEngine.h"
#include "engine/ZipEngine.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {

// Raw deflate data made by Python's zlib at test time.
std::vector<uint8_t> deflated(const std::vector<uint8_t>& data, int level = 6) {
  TempDir t;
  writeFile(t / "in", data);
  RunResult r = run("python3 -c 'import sys,zlib; c=zlib.compressobj(" + std::to_string(level) +
                    ", zlib.DEFLATED, -15); d=open(sys.argv[1],\"rb\").read(); "
                    "open(sys.argv[2],\"wb\").write(c.compress(d)+c.flush())' " +
                    shq(t / "in") + " " + shq(t / "out"));
  EXPECT_EQ(r.status, 0) << r.err;
  return readFile(t / "out");
}

// Records every event as one line, in order.
struct Recorder {
  std::vector<std::string> events;
  void attach(TUnZipEngine& e) {
    e.OnStartUnZipInfo = [this](TUnZipEngine&, int n, int64_t total, bool&) {
      events.push_back("info " + std::to_string(n) + " " + std::to_string(total));
    };
    e.OnStartUnZip = [this](TUnZipEngine&, int i, const std::string& f, bool&) {
      events.push_back("start " + std::to_string(i) + " " + f.substr(f.rfind('/') + 1));
    };
    e.OnEndUnZip = [this](TUnZipEngine&, int i, const std::string&) {
      events.push_back("end " + std::to_string(i));
    };
    e.OnSkippingFile = [this](TUnZipEngine&, TSkipReason r, int i) {
      events.push_back("skip " + std::to_string(int(r)) + " " + std::to_string(i));
    };
    e.OnBadCRC = [this](TUnZipEngine&, uint32_t, uint32_t, int i) {
      events.push_back("badcrc " + std::to_string(i));
    };
    e.OnUnsafePath = [this](TUnZipEngine&, int i, const std::string&, const std::string&) {
      events.push_back("unsafe " + std::to_string(i));
    };
  }
};

struct Extract : ::testing::Test {
  TempDir dir;
  TUnZipEngine engine;
  Recorder rec;
  std::string out() { return dir / "out"; }
  void open(const ZipSpec& spec, const std::string& name = "a.zip") {
    writeFile(dir / name, buildZip(spec));
    engine.SetZipName(dir / name);
    engine.SetDestDir(out());
    engine.RecreateDirs = true;
    engine.OverwriteMode = Always;
    engine.DoAll = true;
    rec.attach(engine);
  }
};

}  // namespace

TEST_F(Extract, StoredAndDeflatedEntriesWithEventsInOrder) {
  auto big = textBytes(50000, 1);
  ZipSpec spec;
  ZipEntrySpec d;
  d.name = "docs/big.txt";
  d.method = 8;
  d.data = deflated(big);
  d.crc = crc32Of(big);
  d.uncompressedSize = uint32_t(big.size());
  spec.entries = {stored("a.txt", "alpha"), d, stored("empty.txt", "")};
  open(spec);
  std::vector<int> filePercents;
  engine.OnFilePercentDone = [&](TUnZipEngine&, int p) { filePercents.push_back(p); };
  EXPECT_EQ(engine.ExtractEntries(), 3);
  EXPECT_EQ(readText(out() + "/a.txt"), "alpha");
  EXPECT_EQ(readFile(out() + "/docs/big.txt"), big);
  EXPECT_EQ(readFile(out() + "/empty.txt").size(), 0u);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"info 3 50005", "start 0 a.txt", "end 0",
                                                   "start 1 big.txt", "end 1", "start 2 empty.txt",
                                                   "end 2"}));
  // Progress comes per 16000-byte block and ends at 100.
  ASSERT_FALSE(filePercents.empty());
  EXPECT_EQ(filePercents.back(), 100);
  // The stored date is the file's modification time.
  struct stat st;
  ASSERT_EQ(::stat((out() + "/a.txt").c_str(), &st), 0);
  EXPECT_EQ(LocalDateTime(st.st_mtime), (TDateTime{2025, 1, 12, 12, 0, 0}));
}

TEST_F(Extract, SelectionByPattern) {
  ZipSpec spec;
  spec.entries = {stored("Readme.TXT", "r"), stored("docs/a.txt", "a"), stored("docs/b.bin", "b"),
                  stored("a.txt", "top")};
  open(spec);
  engine.DoAll = false;
  EXPECT_EQ(engine.ExtractEntries(), 0);  // nothing asked for
  EXPECT_EQ(rec.events, (std::vector<std::string>{"info 0 0"}));
  engine.FilesList = {"*.txt"};  // the name alone, in any folder
  EXPECT_EQ(engine.ExtractEntries(), 3);
  engine.FilesList = {"docs\\*.txt"};  // folder and name
  rec.events.clear();
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(rec.events[1], "start 1 a.txt");
}

TEST_F(Extract, FoldersRootDirAndJunkedPaths) {
  ZipSpec spec;
  spec.entries = {stored("data/", ""), stored("DATA/sub/x.txt", "x")};
  open(spec);
  engine.SetRootDir("data");
  EXPECT_EQ(engine.ExtractEntries(), 2);
  EXPECT_TRUE(fileExists(out() + "/sub/x.txt"));
  // Without folders the folder entry is not selected and the file lands in DestDir.
  engine.RecreateDirs = false;
  engine.SetRootDir("");
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_TRUE(fileExists(out() + "/x.txt"));
}

TEST_F(Extract, StoredNamesCannotLeaveTheDestination) {
  ZipSpec spec;
  spec.entries = {stored("../evil.txt", "1"), stored("/abs/root.txt", "2"),
                  stored("C:/data/drive.txt", "3"), stored("a/../../b/up.txt", "4"),
                  stored("..", "5"), stored("ok.txt", "6")};
  open(spec);
  int count = engine.ExtractEntries();
  EXPECT_EQ(count, 5);
  EXPECT_FALSE(fileExists(dir / "evil.txt"));
  EXPECT_EQ(readText(out() + "/evil.txt"), "1");
  EXPECT_EQ(readText(out() + "/abs/root.txt"), "2");
  EXPECT_EQ(readText(out() + "/data/drive.txt"), "3");
  EXPECT_EQ(readText(out() + "/a/b/up.txt"), "4");
  EXPECT_EQ(readText(out() + "/ok.txt"), "6");
  int unsafe = 0;
  for (const auto& e : rec.events) unsafe += e.rfind("unsafe", 0) == 0;
  EXPECT_EQ(unsafe, 5);
  EXPECT_NE(std::find(rec.events.begin(), rec.events.end(), "skip 2 4"), rec.events.end());
}

TEST_F(Extract, OverwriteModes) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "new")};
  open(spec);
  writeFile(out() + "/a.txt", std::string("old"));
  engine.OverwriteMode = Never;
  EXPECT_EQ(engine.ExtractEntries(), 0);
  EXPECT_EQ(readText(out() + "/a.txt"), "old");
  EXPECT_EQ(rec.events.back(), "skip 1 0");

  engine.OverwriteMode = Prompt;
  engine.OnPromptForOverwrite = [&](TUnZipEngine&, bool& ow, int, std::string& fname) {
    ow = true;
    fname = out() + "/renamed.txt";
  };
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(readText(out() + "/renamed.txt"), "new");
  EXPECT_EQ(readText(out() + "/a.txt"), "old");

  // Without a handler the host is asked.
  engine.OnPromptForOverwrite = nullptr;
  std::string asked;
  engine.Host.ShowMessage = [&](const std::string& text, const std::string& caption, TMsgButtons) {
    asked = caption + ": " + text;
    return TMsgResult::Yes;
  };
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(asked, "File Exists Alert: Replace existing file a.txt?");
  EXPECT_EQ(readText(out() + "/a.txt"), "new");
}

TEST_F(Extract, ABadEntryNeverDestroysTheFileItWouldReplace) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "damaged"), stored("b.txt", "fine")};
  spec.entries[0].crc = 0x12345678;
  open(spec);
  writeFile(out() + "/a.txt", std::string("precious"));
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(readText(out() + "/a.txt"), "precious");
  EXPECT_EQ(readText(out() + "/b.txt"), "fine");
  EXPECT_EQ(rec.events[2], "badcrc 0");
  // No temporary file is left behind.
  RunResult leftovers = run("ls -A " + shq(out()));
  EXPECT_EQ(leftovers.out, "a.txt\nb.txt\n");
}

TEST_F(Extract, CancelLeavesNoPartialFile) {
  auto big = randomBytes(100000, 3);
  ZipSpec spec;
  ZipEntrySpec e;
  e.name = "big.bin";
  e.data = big;
  spec.entries = {e};
  open(spec);
  writeFile(out() + "/big.bin", std::string("keep me"));
  engine.OnFilePercentDone = [&](TUnZipEngine& sender, int) { sender.RequestCancel(); };
  try {
    engine.ExtractEntries();
    FAIL();
  } catch (const EUserCanceled& ex) {
    EXPECT_STREQ(ex.what(), "User Aborted Operation");
  }
  EXPECT_EQ(readText(out() + "/big.bin"), "keep me");
  EXPECT_EQ(run("ls -A " + shq(out())).out, "big.bin\n");
}

TEST_F(Extract, DamageIsReportedPerEntry) {
  auto text = textBytes(40000, 4);
  ZipSpec spec;
  ZipEntrySpec unknown = stored("pp.bin", "xxxx");
  unknown.method = 98;
  ZipEntrySpec corrupt;
  corrupt.name = "corrupt.txt";
  corrupt.method = 8;
  corrupt.data = deflated(text);
  corrupt.data[corrupt.data.size() / 2] ^= 0xFF;
  corrupt.crc = crc32Of(text);
  corrupt.uncompressedSize = uint32_t(text.size());
  ZipEntrySpec liar = stored("liar.txt", "more than declared");
  liar.uncompressedSize = 4;
  spec.entries = {unknown, corrupt, liar, stored("good.txt", "good")};
  open(spec);
  std::string message;
  engine.Host.ShowMessage = [&](const std::string& text, const std::string& caption, TMsgButtons) {
    message = caption + ": " + text;
    return TMsgResult::OK;
  };
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(message, "Zip Error: Unknown Compression Method: PPMd");
  EXPECT_EQ(rec.events[1], "skip 3 0");  // before any output was made
  EXPECT_EQ(rec.events[3], "badcrc 1");
  EXPECT_EQ(rec.events[5], "badcrc 2");
  EXPECT_EQ(run("ls -A " + shq(out())).out, "good.txt\n");
}

TEST_F(Extract, ABadLocalHeaderSkipsTheEntry) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("b.txt", "beta")};
  spec.entries[1].centralOffset = 3;  // points into the middle of the first entry
  open(spec);
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(rec.events.back(), "skip 2 1");
  EXPECT_NE(engine.LastError().find("local header"), std::string::npos);
}

TEST_F(Extract, AttributesAndTestOnly) {
  ZipSpec spec;
  spec.entries = {stored("ro.txt", "read only")};
  spec.entries[0].externalAttributes = 0x21;
  open(spec);
  EXPECT_EQ(engine.ExtractEntries(), 1);
  struct stat st;
  ASSERT_EQ(::stat((out() + "/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(LocalDateTime(st.st_mtime), (TDateTime{2025, 1, 12, 12, 0, 0}));

  TUnZipEngine tester;
  tester.SetZipName(dir / "a.zip");
  tester.SetDestDir(dir / "never");
  tester.DoAll = true;
  tester.TestOnly = true;
  EXPECT_EQ(tester.ExtractEntries(), 1);
  EXPECT_FALSE(fileExists(dir / "never"));
}

namespace {

// The extended-timestamp extra field with a modification time.
std::string timestamp(uint32_t utc) {
  std::string f = "UT";
  f += char(5);
  f += char(0);
  f += char(1);
  for (int i = 0; i < 4; ++i) f += char(utc >> (8 * i));
  return f;
}

// An entry made on a Unix host with the given mode.
ZipEntrySpec unixEntry(const std::string& name, const std::string& data, uint32_t mode) {
  ZipEntrySpec e = stored(name, data);
  e.versionMadeBy = 0x0314;
  e.externalAttributes = mode << 16;
  return e;
}

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

time_t timeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

}  // namespace

TEST_F(Extract, UnixModesFoldersAndTimes) {
  const uint32_t t1 = 1000000000, t2 = 1200000000;  // 2001 and 2008, in UTC
  ZipSpec spec;
  ZipEntrySpec folder = unixEntry("locked/", "", S_IFDIR | 0700);
  folder.extra = timestamp(t1);
  ZipEntrySpec stamped = stored("stamped.txt", "s");
  stamped.extra = timestamp(t2);  // the DOS date-time says 2025, in local time
  ZipEntrySpec dosFolder = stored("dosdir", "");
  dosFolder.externalAttributes = 0x10;  // a folder without a trailing slash
  spec.entries = {folder,
                  unixEntry("locked/inner.txt", "i", S_IFREG | 0640),
                  unixEntry("run.sh", "#!/bin/sh\n", S_IFREG | 04755),  // set-user never
                  unixEntry("private.txt", "p", S_IFREG | 0600),
                  stamped,
                  dosFolder};
  open(spec);
  EXPECT_EQ(engine.ExtractEntries(), 6);
  EXPECT_EQ(modeOf(out() + "/run.sh") & 07777, 0755u);
  EXPECT_EQ(modeOf(out() + "/private.txt") & 07777, 0600u);
  EXPECT_EQ(modeOf(out() + "/locked/inner.txt") & 07777, 0640u);
  // The folder's own mode and time, applied after what went into it.
  EXPECT_EQ(modeOf(out() + "/locked") & 07777, 0700u);
  EXPECT_EQ(timeOf(out() + "/locked"), time_t(t1));
  EXPECT_EQ(timeOf(out() + "/stamped.txt"), time_t(t2));
  EXPECT_TRUE(S_ISDIR(modeOf(out() + "/dosdir")));

  // Without attributes, files get what any new file gets.
  TempDir other;
  engine.SetDestDir(other.path());
  engine.RetainAttributes = false;
  EXPECT_EQ(engine.ExtractEntries(), 6);
  EXPECT_EQ(modeOf(other / "run.sh") & 0111, 0u);
}

TEST_F(Extract, LinksAreMadeOnlyWhereTheyStayInside) {
  TempDir outside;
  ZipSpec spec;
  spec.entries = {
      stored("target.txt", "t"),
      unixEntry("sub/ok", "../target.txt", S_IFLNK | 0777),
      unixEntry("dirlink", "sub", S_IFLNK | 0777),
      unixEntry("up", "../" + outside.path().substr(outside.path().rfind('/') + 1), S_IFLNK | 0777),
      unixEntry("abs", outside.path(), S_IFLNK | 0777),
      unixEntry("twisty", "sub/../../x", S_IFLNK | 0777),
      unixEntry("dirlink/through.txt", "never written through a link", S_IFREG | 0644),
      unixEntry("pre/through.txt", "nor through the user's link", S_IFREG | 0644)};
  open(spec);
  makeDirs(out());
  ASSERT_EQ(::symlink(outside.path().c_str(), (out() + "/pre").c_str()), 0);
  std::vector<std::string> errors;
  engine.OnSkippingFile = [&](TUnZipEngine& e, TSkipReason r, int i) {
    errors.push_back(std::to_string(i) + " " + std::to_string(r) + " " + e.LastError());
  };
  EXPECT_EQ(engine.ExtractEntries(), 3);
  char target[256] = {};
  ASSERT_GT(::readlink((out() + "/sub/ok").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "../target.txt");
  EXPECT_EQ(readText(out() + "/sub/ok"), "t");
  EXPECT_TRUE(S_ISLNK(modeOf(out() + "/dirlink")));
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_NE(errors[0].find("3 4 its link target"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("4 4 its link target"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("5 4 its link target \"sub/../../x\" leads out"), std::string::npos);
  EXPECT_NE(errors[3].find("6 4 \"" + out() + "/dirlink\" is a symbolic link"), std::string::npos)
      << errors[3];
  EXPECT_NE(errors[4].find("7 4 \"" + out() + "/pre\" is a symbolic link"), std::string::npos);
  EXPECT_FALSE(fileExists(out() + "/sub/through.txt"));
  EXPECT_EQ(run("ls -A " + shq(outside.path())).out, "");
  EXPECT_EQ(run("ls -A " + shq(out())).out, "dirlink\npre\nsub\ntarget.txt\n");
}

TEST_F(Extract, EntriesThatCannotBePutInPlaceFailAlone) {
  ZipSpec spec;
  spec.entries = {stored("folder-in-the-way", "1"),   stored("file-in-the-way/x.txt", "2"),
                  stored("twice.txt", "first"),       stored("twice.txt", "second"),
                  stored(std::string(300, 'n'), "3"), stored("good.txt", "good")};
  open(spec);
  makeDirs(out() + "/folder-in-the-way");
  writeFile(out() + "/file-in-the-way", std::string("a file"));
  std::vector<std::string> errors;
  engine.OnSkippingFile = [&](TUnZipEngine& e, TSkipReason r, int i) {
    EXPECT_EQ(r, skNotWritten);
    errors.push_back(std::to_string(i) + ": " + e.LastError());
  };
  EXPECT_EQ(engine.ExtractEntries(), 2);
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(errors[0], "0: \"" + out() + "/folder-in-the-way\" is in the way: it is a folder");
  EXPECT_EQ(errors[1],
            "1: \"" + out() + "/file-in-the-way\" is in the way: it is a file, not a folder");
  EXPECT_EQ(errors[2],
            "3: another entry of the archive was already extracted to " + out() + "/twice.txt");
  EXPECT_NE(errors[3].find("File name too long"), std::string::npos) << errors[3];
  EXPECT_EQ(readText(out() + "/twice.txt"), "first");
  EXPECT_EQ(readText(out() + "/good.txt"), "good");
  EXPECT_EQ(run("ls -A " + shq(out())).out,
            "file-in-the-way\nfolder-in-the-way\ngood.txt\ntwice.txt\n");
}

TEST_F(Extract, DataPastTheEndIsDamageAndMissingPasswordsAreNamed) {
  ZipSpec spec;
  spec.entries = {stored("whole.txt", "whole"), stored("cut.txt", "")};
  open(spec);
  // The directory says cut.txt holds 100000 bytes, and its folder bit and size 0 must not
  // pass it off as a folder.
  auto bytes = readFile(dir / "a.zip");
  std::string text(bytes.begin(), bytes.end());
  size_t central = text.find("PK\x01\x02", text.find("PK\x01\x02") + 4);
  ASSERT_NE(central, std::string::npos);
  bytes[central + 22] = 0x01;  // compressed size 0x00010000 + what it was
  bytes[central + 38] = 0x10;
  writeFile(dir / "a.zip", bytes);
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(engine.LastError(), "its data runs past the end of the archive");
  EXPECT_FALSE(fileExists(out() + "/cut.txt"));

  // Encrypted by our own writer; read with no password, then a wrong one.
  TZipEngine writer;
  writeFile(dir / "secret.txt", std::string("secret"));
  writer.Password = "right";
  writer.SetZipName(dir / "enc.zip");
  writer.FilesList = {dir / "secret.txt"};
  ASSERT_EQ(writer.CompressFiles(), 1);
  engine.SetZipName(dir / "enc.zip");
  EXPECT_EQ(engine.ExtractEntries(), 0);
  EXPECT_EQ(engine.LastError(), "no password given");
  engine.Password = "wrong";
  EXPECT_EQ(engine.ExtractEntries(), 0);
  EXPECT_EQ(engine.LastError(), "wrong password");
}

TEST(LinkTargets, StayInsideOnlyByLeadingClimbsNoDeeperThanTheLink) {
  struct TCase {
    const char* folder;
    const char* target;
    bool inside;
  } cases[] = {
      {"", "file", true},
      {"", "./a/b", true},
      {"", "../x", false},
      {"a/b", "../../x", true},
      {"a/b", "../../../x", false},
      {"a", "b/../x", false},
      {"a", "/etc/passwd", false},
      {"", "", false},
      {"a", "..", true},
      {"a", "../..", false},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(LinkTargetStaysInside(c.folder, c.target), c.inside) << c.folder << " " << c.target;
}
