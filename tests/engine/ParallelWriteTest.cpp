// Jobs above 1: files compressed ahead on worker threads must give the archive, and the
// events, a single thread gives; a file that changes after a worker read it is compressed
// again; cancel leaves no archive and no thread behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "engine/Crc32.h"
#include "engine/Errors.h"
#include "engine/ParallelDeflate.h"
#include "engine/ZipEngine.h"
#include "support/SampleTree.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;
namespace fs = std::filesystem;

namespace {

// Text, data Deflate cannot shrink (stored instead), empty and one-byte files, a file in a
// subfolder, an empty folder, and enough small files to keep the workers ahead.
void writeTree(const std::string& root) {
  makeDirs(root + "/sub/deeper");
  makeDirs(root + "/empty");
  writeFile(root + "/big.txt", textBytes(700000, 1));
  writeFile(root + "/random.bin", randomBytes(150000, 2));
  writeFile(root + "/empty.txt", std::string());
  writeFile(root + "/one.txt", std::string("1"));
  writeFile(root + "/sub/deeper/mixed.bin", textBytes(90000, 3));
  for (int i = 0; i < 24; ++i)
    writeFile(root + "/sub/small" + std::to_string(i) + ".txt",
              textBytes(size_t(500 + i * 997), uint32_t(10 + i)));
}

// Every file in `folder` by name, with its bytes: an archive, or a set of block files.
std::map<std::string, std::vector<uint8_t>> filesIn(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> out;
  for (const auto& e : fs::directory_iterator(folder))
    out[e.path().filename()] = e.is_regular_file() ? readFile(e.path()) : std::vector<uint8_t>{};
  return out;
}

int threadCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

struct TRun {
  int jobs = 1;
  int level = 6;
  std::string password;
  int64_t blocks = 0;    // block size when writing a set
  bool replace = false;  // replace entries of the same name whatever their dates
  bool aes = false;
};

// Adds the tree below `root` into `zip` with the run's settings; returns the events seen.
std::vector<std::string> addTree(const std::string& root, const std::string& zip, const TRun& r,
                                 std::vector<std::string> files = {}) {
  TZipEngine engine;
  engine.Jobs = r.jobs;
  engine.PackLevel = r.level;
  engine.Password = r.password;
  engine.AesEncryption = r.aes;
  engine.Recurse = true;
  engine.SetRelativePaths(true);
  engine.SetRootDir(root);
  if (r.replace) engine.ZipAction = zaReplace;
  if (r.blocks) {
    engine.MultiZipInfo().FirstBlockSize = engine.MultiZipInfo().BlockSize = r.blocks;
    engine.SetMultiMode(mmBlocks);
  }
  std::vector<std::string> events;
  engine.OnStartZip = [&](TZipEngine&, const std::string& name, TZipHeaderInfo&, bool& skip) {
    skip = name.find("small7.") != std::string::npos;
    events.push_back("start " + name + (skip ? " skipped" : ""));
  };
  engine.OnFilePercentDone = [&](TUnZipEngine&, int p) {
    events.push_back("file " + std::to_string(p));
  };
  engine.OnTotalPercentDone = [&](TUnZipEngine&, int p) {
    events.push_back("total " + std::to_string(p));
  };
  engine.OnEndZip = [&](TZipEngine&, const std::string& name, int64_t u, int64_t c, int64_t at) {
    events.push_back("end " + name + " " + std::to_string(u) + " " + std::to_string(c) + " " +
                     std::to_string(at));
  };
  engine.OnSkippingFile = [&](TUnZipEngine&, TSkipReason, int index) {
    events.push_back("duplicate " + std::to_string(index));
  };
  engine.SetZipName(zip);
  engine.FilesList = files.empty() ? std::vector<std::string>{root + "/*"} : files;
  engine.CompressFiles();
  return events;
}

std::string extractAll(const std::string& zip, const std::string& to, const std::string& password) {
  TUnZipEngine reader;
  reader.Password = password;
  reader.SetZipName(zip);
  reader.LoadCatalogue();
  reader.SetDestDir(to);
  reader.RecreateDirs = true;
  reader.DoAll = true;
  reader.ExtractEntries();
  return to;
}

}  // namespace

TEST(ParallelWrite, WritesTheArchiveOneThreadWrites) {
  TempDir dir;
  writeTree(dir / "tree");
  const struct {
    TRun run;
    bool update;  // add to an archive holding part of the tree, replacing that part
  } cases[] = {
      {{2, 6, "", 0, false, false}, false},      {{3, 1, "", 0, false, false}, false},
      {{2, 9, "", 0, false, false}, false},      {{4, 0, "", 0, false, false}, false},
      {{2, 6, "", 100000, false, false}, false},  // block files: entries go through a spill file
      {{2, 6, "", 0, true, false}, true},         // replacements are written inline
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "jobs " << c.run.jobs << " level " << c.run.level
                                    << " blocks " << c.run.blocks << " update " << c.update);
    std::map<std::string, std::vector<uint8_t>> made[2];
    std::vector<std::string> events[2];
    for (int one = 0; one < 2; ++one) {
      TRun r = c.run;
      if (one) r.jobs = 1;
      const std::string out = dir / ("out" + std::to_string(n++));
      makeDirs(out);
      if (c.update) {
        TRun first = r;
        first.jobs = 1;
        addTree(dir / "tree", out + "/a.zip", first, {dir / "tree/big.txt", dir / "tree/sub/*"});
      }
      events[one] = addTree(dir / "tree", out + "/a.zip", r);
      made[one] = filesIn(out);
    }
    size_t total = 0;
    for (const auto& [name, bytes] : made[0]) total += bytes.size();
    EXPECT_GT(total, 300000u);
    EXPECT_TRUE(made[0] == made[1]) << "the archive differs from one thread's";
    EXPECT_EQ(events[0], events[1]);
  }
}

TEST(ParallelWrite, FiresTheEventsOfOneThreadAndEncrypts) {
  TempDir dir;
  writeTree(dir / "tree");
  const std::vector<std::string> files = {dir / "tree/*", dir / "tree/one.txt"};  // one named twice
  for (const TRun& r :
       {TRun{3, 6, "secret", 0, false, false}, TRun{2, 0, "secret", 0, false, false},
        TRun{2, 6, "secret", 0, false, true}, TRun{2, 9, "", 0, false, false}}) {
    SCOPED_TRACE(testing::Message() << "level " << r.level << " password '" << r.password << "'"
                                    << (r.aes ? " AES" : ""));
    TRun one = r;
    one.jobs = 1;
    fs::remove(dir / "one.zip");
    fs::remove(dir / "many.zip");
    const auto expected = addTree(dir / "tree", dir / "one.zip", one, files);
    const auto seen = addTree(dir / "tree", dir / "many.zip", r, files);
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                            [](const std::string& e) { return e.rfind("duplicate", 0) == 0; }));

    fs::remove_all(dir / "x");
    extractAll(dir / "many.zip", dir / "x", r.password);
    EXPECT_FALSE(fileExists(dir / "x/sub/small7.txt")) << "skipped by its handler";
    fs::remove(dir / "tree2");
    fs::copy(dir / "tree", dir / "tree2", fs::copy_options::recursive);
    fs::remove(dir / "tree2/sub/small7.txt");
    EXPECT_EQ(compareTrees(dir / "tree2", dir / "x", false), std::vector<std::string>{});
    fs::remove_all(dir / "tree2");
  }
}

TEST(ParallelWrite, CompressesAgainAFileChangedAfterAWorkerReadIt) {
  const struct {
    const char* what;
    size_t size;       // of the new contents
    bool keepModTime;  // its modification time set back: only the change time tells
  } cases[] = {{"same size, time set back", 40000, true}, {"another size", 30000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeTree(dir / "tree");
    const std::vector<uint8_t> fresh = randomBytes(c.size, 99);
    writeFile(dir / "tree/sub/small3.txt", textBytes(40000, 5));
    TZipEngine engine;
    engine.Jobs = 2;
    engine.Recurse = true;
    engine.SetRelativePaths(true);
    engine.SetRootDir(dir / "tree");
    engine.OnStartZip = [&](TZipEngine&, const std::string& name, TZipHeaderInfo&, bool&) {
      if (name.find("small3.txt") == std::string::npos) return;
      // By now a worker has long compressed the file; then it changes.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      struct stat st;
      ASSERT_EQ(::stat(name.c_str(), &st), 0);
      writeFile(name, fresh);
      if (c.keepModTime) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
      }
    };
    engine.SetZipName(dir / "a.zip");
    engine.FilesList = {dir / "tree/*"};
    engine.CompressFiles();
    extractAll(dir / "a.zip", dir / "x", "");
    EXPECT_EQ(readFile(dir / "x/sub/small3.txt"), fresh);
    EXPECT_EQ(compareTrees(dir / "tree", dir / "x", false), std::vector<std::string>{});
  }
}

TEST(ParallelWrite, CancelLeavesNoArchiveAndNoThread) {
  TempDir dir;
  writeTree(dir / "tree");
  const int before = threadCount();
  for (const int cancelAt : {1, 5}) {
    TZipEngine engine;
    engine.Jobs = 4;
    engine.Recurse = true;
    int ended = 0;
    engine.OnEndZip = [&](TZipEngine& e, const std::string&, int64_t, int64_t, int64_t) {
      if (++ended == cancelAt) e.RequestCancel();
    };
    engine.SetZipName(dir / "a.zip");
    engine.FilesList = {dir / "tree/*"};
    EXPECT_THROW(engine.CompressFiles(), EUserCanceled);
    // A folder or an empty file writes no data, where cancel is answered.
    EXPECT_LE(ended, cancelAt + 2);
    EXPECT_EQ(threadCount(), before);
    EXPECT_EQ(filesIn(dir.path()).size(), 1u) << "the tree alone: no archive, no temporary file";
  }
}

// The workers alone, with limits small enough to make them wait: every file still comes
// back whole, in any order it is asked for, and what they leave alone comes back empty.
TEST(ParallelWrite, WorkersMakeWhatTheyCanWithinTheirLimits) {
  TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::vector<uint8_t>> contents;
  for (int i = 0; i < 12; ++i) {
    paths.push_back(dir / ("f" + std::to_string(i)));
    contents.push_back(i % 3 ? textBytes(size_t(3000 * i), uint32_t(i))
                             : randomBytes(size_t(2000 * i), uint32_t(i)));
    writeFile(paths.back(), contents.back());
  }
  makeDirs(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("f1", (dir / "link").c_str()), 0);
  writeFile(dir / "large", textBytes(70000, 7));
  const std::vector<std::string> leftAlone = {dir / "folder", dir / "fifo", dir / "missing",
                                              dir / "large", dir / "link"};
  for (const auto& p : leftAlone) paths.push_back(p);

  for (const int level : {0, 6}) {
    SCOPED_TRACE(level);
    TParallelDeflate pool(paths, level, 3, false, {60000, 1, 2});
    int made = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
      pool.Pass(i);
      // Time for a worker to start on it; one not started yet is the caller's.
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      auto ready = pool.Take(i, [] {});
      if (i >= contents.size()) {
        EXPECT_EQ(ready, nullptr) << paths[i];
        continue;
      }
      if (!ready) continue;
      ++made;
      const std::vector<uint8_t>& want = contents[i];
      EXPECT_EQ(ready->crc, ~UpdateCRC(kCrcInit, want.data(), want.size()));
      EXPECT_EQ(ready->bytesRead, want.size());
      // What Deflate enlarged is followed by the stored pass, as the writer does it.
      ASSERT_EQ(ready->deflated != nullptr, level > 0);
      const bool enlarged = level > 0 && ready->deflated->result.Method != 0 &&
                            ready->deflated->result.CompressedSize > want.size();
      ASSERT_EQ(ready->stored != nullptr, level == 0 || enlarged);
      EXPECT_EQ(ready->deflated && ready->deflated->dataKept, level > 0 && !enlarged);
      const TEncodedPass& last = ready->stored ? *ready->stored : *ready->deflated;
      if (i % 3 == 0) {
        EXPECT_EQ(last.result.Method, 0) << "random data stays as it is";
      }
      int64_t reads = 0, writes = 0;
      for (int32_t s : last.steps) (s > 0 ? reads : writes) += std::abs(int64_t(s));
      EXPECT_EQ(reads, int64_t(want.size()));
      EXPECT_EQ(writes, int64_t(last.data.size()));
      std::vector<uint8_t> back(want.size() + 1);
      if (last.result.Method == 0) {
        EXPECT_EQ(last.data, want);
      } else {
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
        z.next_in = const_cast<Bytef*>(last.data.data());
        z.avail_in = uInt(last.data.size());
        z.next_out = back.data();
        z.avail_out = uInt(back.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        back.resize(z.total_out);
        inflateEnd(&z);
        EXPECT_EQ(back, want);
      }
    }
    EXPECT_GT(made, 0);
  }
  // Passed over with files made and being made: the workers still end.
  TParallelDeflate pool(paths, 1, 2, true, {60000, 1, 2});
  pool.Pass(5);
  (void)pool.Take(5, [] {});
  pool.Pass(9);
}
