// Archives written as block files or spanned over (simulated) removable disks, and read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/Errors.h"
#include "engine/ZipEngine.h"
#include "platform/SimulatedVolumes.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

int64_t sizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

struct Blocks : ::testing::Test {
  TempDir dir;
  TZipEngine engine;
  void SetUp() override { engine.TempPath = dir.path(); }
  void split(int64_t first, int64_t rest) {
    engine.MultiZipInfo().FirstBlockSize = first;
    engine.MultiZipInfo().BlockSize = rest;
    engine.SetMultiMode(mmBlocks);
  }
  int add(const std::string& zip, std::vector<std::string> files) {
    engine.SetZipName(zip);
    engine.FilesList = std::move(files);
    return engine.CompressFiles();
  }
  // Extracts a set from its last file, finding the blocks by name.
  std::string extractAll(const std::string& last, std::vector<int>* asked = nullptr,
                         const std::string& password = "") {
    TUnZipEngine reader;
    reader.Password = password;
    reader.OnGetNextDisk = [&](TUnZipEngine&, int n, std::string& name) {
      if (asked) asked->push_back(n);
      char ext[8];
      std::snprintf(ext, sizeof ext, "%03d", n);
      name = last.substr(0, last.size() - 3) + ext;
    };
    reader.SetZipName(last);
    reader.SetDestDir(dir / "out");
    reader.DoAll = true;
    reader.OverwriteMode = Always;
    int extracted = reader.ExtractEntries();
    EXPECT_EQ(extracted, reader.Count());
    return dir / "out";
  }
};

}  // namespace

TEST_F(Blocks, SizesAndNamesOfTheBlocks) {
  // One stored entry of 2382 bytes makes an archive of exactly 2500 bytes (each header
  // carries a 9-byte timestamp field).
  writeFile(dir / "a", randomBytes(2382, 1));
  split(1000, 1000);
  add(dir / "set.zip", {dir / "a"});
  EXPECT_EQ(engine.Entry(0).CompressionMethod, 0);
  EXPECT_EQ(sizeOf(dir / "set.001"), 1000);
  EXPECT_EQ(sizeOf(dir / "set.002"), 1000);
  EXPECT_EQ(sizeOf(dir / "set.003"), 500);
  EXPECT_FALSE(fileExists(dir / "set.zip"));
  EXPECT_EQ(engine.ZipName(), dir / "set.003");
  EXPECT_EQ(engine.VolumeCount(), 3);
  EXPECT_EQ(readFile(extractAll(dir / "set.003") + "/a"), readFile(dir / "a"));

  // Everything in the first block: an ordinary archive under its own name.
  TZipEngine small;
  small.MultiZipInfo().FirstBlockSize = small.MultiZipInfo().BlockSize = 100000;
  small.SetMultiMode(mmBlocks);
  small.SetZipName(dir / "small.zip");
  small.FilesList = {dir / "a"};
  small.CompressFiles();
  EXPECT_EQ(sizeOf(dir / "small.zip"), 2500);
  EXPECT_FALSE(fileExists(dir / "small.001"));
}

TEST_F(Blocks, AFullVolumeIsFollowedByANewOneAndTheDirectoryStartsAtZero) {
  writeFile(dir / "a", randomBytes(960, 2));  // 30 + 1 + 9 + 960: the first block exactly
  split(1000, 1000);
  add(dir / "full.zip", {dir / "a"});
  EXPECT_EQ(sizeOf(dir / "full.001"), 1000);
  EXPECT_EQ(engine.EndRecord().CentralDirOffset, 0u);
  EXPECT_EQ(engine.EndRecord().CentralDirStartDisk, 1);
  EXPECT_EQ(readFile(extractAll(dir / "full.002") + "/a"), readFile(dir / "a"));
}

TEST_F(Blocks, LargeSetsReadBackAndNoLocalHeaderIsSplit) {
  std::vector<std::string> files;
  for (int i = 0; i < 40; ++i) {
    std::string f = dir / ("src/f" + std::to_string(i) + ".dat");
    // Mixed sizes, one larger than a whole block.
    size_t size = i == 7 ? 700000 : size_t(1000 + (i * 7919) % 90000);
    writeFile(f, i % 2 ? randomBytes(size, uint32_t(i)) : textBytes(size, uint32_t(i)));
    files.push_back(f);
  }
  split(150000, 200000);
  engine.Password = "p\xc3\xa4ss";
  add(dir / "big.zip", files);
  const std::string last = engine.ZipName();
  ASSERT_GT(engine.VolumeCount(), 5);
  TUnZipEngine reader;
  reader.SetZipName(last);
  reader.LoadCatalogue();
  for (int i = 0; i < reader.Count(); ++i) {
    const TZipHeaderInfo& e = reader.Entry(i);
    char ext[8];
    std::snprintf(ext, sizeof ext, "%03d", e.DiskNumberStart + 1);
    EXPECT_LE(int64_t(e.RelativeOffset) + e.LocalSize(), sizeOf(dir / ("big." + std::string(ext))))
        << e.FullName();
  }
  std::vector<int> asked;
  std::string out = extractAll(last, &asked, "p\xc3\xa4ss");
  for (const auto& f : files) EXPECT_EQ(readFile(out + "/" + f.substr(f.rfind('/') + 1)), readFile(f)) << f;
  EXPECT_FALSE(asked.empty());
}

TEST_F(Blocks, RefusalsComeBeforeAnythingIsWritten) {
  writeFile(dir / "a", std::string("alpha"));
  add(dir / "plain.zip", {dir / "a"});
  const auto before = readFile(dir / "plain.zip");
  split(1000, 1000);
  EXPECT_THROW(add(dir / "plain.zip", {dir / "a"}), EZipRefused);  // an existing archive
  EXPECT_EQ(readFile(dir / "plain.zip"), before);
  EXPECT_FALSE(fileExists(dir / "plain.001"));
  split(20, 20);  // no room for a local header
  EXPECT_THROW(add(dir / "tiny.zip", {dir / "a"}), EZipRefused);
  EXPECT_FALSE(fileExists(dir / "tiny.001"));
}

namespace {

struct Span : ::testing::Test {
  TempDir dir;
  std::string drive() { return dir / "floppy"; }
  TSimulatedVolumes volumes{dir / "store"};
  TZipEngine engine{volumes};
  std::vector<TDiskId> disks;
  void SetUp() override {
    volumes.AddRemovableDrive(drive());
    for (int i = 0; i < 12; ++i) disks.push_back(volumes.AddDisk("blank", 300000));
    volumes.InsertDisk(drive(), disks[0]);
    volumes.ScriptDiskOrder(drive(), disks);
    engine.TempPath = dir.path();
    engine.OnGetNextDisk = [this](TUnZipEngine&, int n, std::string& name) {
      name = volumes.AnswerDiskRequest(n, name);
    };
    engine.SetMultiMode(mmSpan);
  }
  std::vector<std::string> sources(int count, size_t size) {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
      std::string f = dir / ("src/s" + std::to_string(i));
      writeFile(f, randomBytes(size, uint32_t(100 + i)));
      files.push_back(f);
    }
    return files;
  }
};

}  // namespace

TEST_F(Span, DisksAreLabelledAndReadBackInTurn) {
  auto files = sources(6, 180000);
  engine.SetZipName(drive() + "/backup.zip");
  engine.FilesList = files;
  engine.CompressFiles();
  int used = engine.VolumeCount();
  ASSERT_GE(used, 4);
  for (int i = 0; i < used; ++i) {
    char label[32];
    std::snprintf(label, sizeof label, "PKBACK# %03d", i + 1);
    EXPECT_EQ(volumes.DiskLabel(disks[size_t(i)]), label);
  }
  EXPECT_EQ(volumes.DiskLabel(disks[size_t(used)]), "blank");

  // Reading starts from the last disk; a wrong disk in the drive is asked for again.
  volumes.InsertDisk(drive(), disks[size_t(used - 1)]);
  TUnZipEngine reader(volumes);
  int wrongOnce = 1;
  reader.OnGetNextDisk = [&](TUnZipEngine&, int n, std::string&) {
    volumes.InsertDisk(drive(), disks[size_t(wrongOnce-- > 0 ? n % used : n - 1)]);
  };
  reader.SetZipName(drive() + "/backup.zip");
  reader.SetDestDir(dir / "out");
  reader.DoAll = true;
  EXPECT_EQ(reader.ExtractEntries(), 6);
  EXPECT_EQ(reader.MultiMode(), mmSpan);
  for (const auto& f : files) EXPECT_EQ(readFile(dir / ("out/" + f.substr(f.rfind('/') + 1))), readFile(f));
  EXPECT_LT(wrongOnce, 0);
}

TEST_F(Span, CancelAtADiskRequestKeepsTheFinishedDisks) {
  auto files = sources(4, 200000);
  int requests = 0;
  engine.OnGetNextDisk = [&](TUnZipEngine&, int n, std::string& name) {
    if (++requests == 2) {
      name.clear();
      return;
    }
    name = volumes.AnswerDiskRequest(n, name);
  };
  engine.SetZipName(drive() + "/backup.zip");
  engine.FilesList = files;
  try {
    engine.CompressFiles();
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Zip operation.");
  }
  // Disks 1 and 2 are finished, labelled and left as they are; no scratch file remains.
  EXPECT_EQ(volumes.DiskLabel(disks[0]), "PKBACK# 001");
  EXPECT_EQ(volumes.DiskLabel(disks[1]), "PKBACK# 002");
  EXPECT_GT(volumes.UsedBytes(disks[0]), 290000u);
  EXPECT_GT(volumes.UsedBytes(disks[1]), 290000u);
  EXPECT_TRUE(fileExists(drive() + "/backup.zip"));
  EXPECT_EQ(run("ls " + shq(dir.path()) + " | grep -c QLZ").out, "0\n");
}

TEST_F(Span, AFixedDriveGetsOneFileAndNoLabels) {
  TSimulatedVolumes fixedVolumes(dir / "store2");
  TDiskId disk = fixedVolumes.AddFixedDrive(dir / "hd", "DATA", 100000000);
  TZipEngine writer(fixedVolumes);
  writer.SetMultiMode(mmSpan);
  writer.OnGetNextDisk = [](TUnZipEngine&, int, std::string& name) { name.clear(); };
  writer.SetZipName(dir / "hd/one.zip");
  writer.FilesList = sources(2, 1000);
  writer.CompressFiles();
  EXPECT_EQ(writer.VolumeCount(), 1);
  EXPECT_EQ(fixedVolumes.DiskLabel(disk), "DATA");
  TUnZipEngine reader;
  reader.SetZipName(dir / "hd/one.zip");
  reader.LoadCatalogue();
  EXPECT_EQ(reader.Count(), 2);
}

TEST_F(Span, SpanningNeedsADiskHandlerAndKnownFreeSpace) {
  engine.OnGetNextDisk = nullptr;
  engine.SetZipName(drive() + "/backup.zip");
  engine.FilesList = sources(1, 10);
  EXPECT_THROW(engine.CompressFiles(), EZipRefused);
  TDiskId unknown = volumes.AddDisk("odd", std::nullopt);
  volumes.InsertDisk(drive(), unknown);
  engine.OnGetNextDisk = [](TUnZipEngine&, int, std::string& name) { name.clear(); };
  EXPECT_THROW(engine.CompressFiles(), EZipRefused);
  EXPECT_FALSE(fileExists(drive() + "/backup.zip"));
}

TEST_F(Blocks, AnEncryptionHeaderSplitBetweenBlocksStillDecrypts) {
  writeFile(dir / "a", textBytes(5000, 9));
  split(45, 1000);  // 40 bytes of local header, then 5 of the 12-byte encryption header
  engine.Password = "secret";
  add(dir / "enc.zip", {dir / "a"});
  ASSERT_EQ(sizeOf(dir / "enc.001"), 45);
  EXPECT_EQ(readFile(extractAll(engine.ZipName(), nullptr, "secret") + "/a"), readFile(dir / "a"));
}
