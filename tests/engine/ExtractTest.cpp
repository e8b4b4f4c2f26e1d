#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/Errors.h"
#include "engine/UnZipEngine.h"
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
  ZipEntrySpec unknown = stored("bz.bin", "xxxx");
  unknown.method = 12;
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
  EXPECT_EQ(message, "Zip Error: Unknown Compression Method");
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
