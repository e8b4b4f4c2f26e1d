#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "platform/SimulatedVolumes.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

struct SimulatedDrives : ::testing::Test {
  TempDir tmp;
  std::string driveA = tmp / "A";
  TSimulatedVolumes volumes{tmp / "store"};

  void SetUp() override { volumes.AddRemovableDrive(driveA); }
};

// Records what reaches it, so delegation can be seen.
struct TOutsideVolumes : IVolumes {
  std::vector<std::string> asked;
  std::string VolumeRoot(const std::string& p) override { return asked.push_back(p), "/outside"; }
  bool IsRemovable(const std::string& p) override { return asked.push_back(p), true; }
  std::optional<uint64_t> FreeSpace(const std::string& p) override {
    return asked.push_back(p), 12345;
  }
  std::string GetLabel(const std::string& p) override { return asked.push_back(p), "OUT"; }
  bool SetLabel(const std::string& p, const std::string&) override {
    return asked.push_back(p), true;
  }
};

}  // namespace

TEST_F(SimulatedDrives, SwappedDisksKeepTheirOwnFiles) {
  TDiskId one = volumes.AddDisk("ONE", 1000);
  TDiskId two = volumes.AddDisk("TWO", 1000);
  volumes.InsertDisk(driveA, one);
  writeFile(driveA + "/sub/a.txt", "first disk");
  volumes.InsertDisk(driveA, two);  // swaps without an explicit eject
  EXPECT_FALSE(fileExists(driveA + "/sub/a.txt"));
  writeFile(driveA + "/b.txt", "second disk");

  volumes.InsertDisk(driveA, one);
  EXPECT_EQ(readText(driveA + "/sub/a.txt"), "first disk");
  EXPECT_FALSE(fileExists(driveA + "/b.txt"));
  EXPECT_EQ(readText(volumes.DiskFolder(two) + "/b.txt"), "second disk");
  EXPECT_EQ(volumes.InsertedDisk(driveA), one);

  volumes.EjectDisk(driveA);
  EXPECT_EQ(volumes.InsertedDisk(driveA), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_empty(driveA));
  EXPECT_EQ(readText(volumes.DiskFolder(one) + "/sub/a.txt"), "first disk");
}

TEST_F(SimulatedDrives, DiskMovesBetweenDrivesWithItsFiles) {
  std::string driveB = tmp / "B";
  volumes.AddRemovableDrive(driveB);
  TDiskId disk = volumes.AddDisk("MOBILE", 100);
  volumes.InsertDisk(driveA, disk);
  writeFile(driveA + "/f", "x");
  volumes.InsertDisk(driveB, disk);
  EXPECT_EQ(volumes.InsertedDisk(driveA), std::nullopt);
  EXPECT_EQ(readText(driveB + "/f"), "x");
  EXPECT_EQ(volumes.GetLabel(driveA), "");
  EXPECT_EQ(volumes.GetLabel(driveB + "/f"), "MOBILE");
}

TEST_F(SimulatedDrives, FreeSpaceIsCapacityLessTheInsertedDisksFiles) {
  EXPECT_EQ(volumes.FreeSpace(driveA), std::nullopt) << "no disk inserted";

  TDiskId disk = volumes.AddDisk("D", 1000);
  volumes.InsertDisk(driveA, disk);
  EXPECT_EQ(volumes.FreeSpace(driveA + "/not/yet/there.zip"), 1000u);
  writeFile(driveA + "/x.bin", randomBytes(300, 1));
  writeFile(driveA + "/deep/y.bin", randomBytes(200, 2));
  EXPECT_EQ(volumes.FreeSpace(driveA), 500u);
  EXPECT_EQ(volumes.UsedBytes(disk), 500u);
  writeFile(driveA + "/z.bin", randomBytes(900, 3));
  EXPECT_EQ(volumes.FreeSpace(driveA), 0u) << "an overfull disk has no room, not a huge one";

  TDiskId unknown = volumes.AddDisk("U", std::nullopt);
  volumes.InsertDisk(driveA, unknown);
  EXPECT_EQ(volumes.FreeSpace(driveA), std::nullopt);
}

TEST_F(SimulatedDrives, LabelsBelongToDisksAndCanBeRefused) {
  EXPECT_FALSE(volumes.SetLabel(driveA, "EMPTY")) << "no disk to label";
  TDiskId plain = volumes.AddDisk("", 100);
  TDiskId stubborn = volumes.AddDisk("KEEP", 100);
  volumes.SetRefusesLabel(stubborn, true);

  volumes.InsertDisk(driveA, plain);
  EXPECT_TRUE(volumes.SetLabel(driveA + "/archive.zip", "PKBACK# 001"));
  volumes.InsertDisk(driveA, stubborn);
  EXPECT_EQ(volumes.GetLabel(driveA), "KEEP");
  EXPECT_FALSE(volumes.SetLabel(driveA, "PKBACK# 002"));
  EXPECT_EQ(volumes.GetLabel(driveA), "KEEP");
  EXPECT_EQ(volumes.DiskLabel(plain), "PKBACK# 001");
}

TEST_F(SimulatedDrives, PathsAreJudgedByTheDriveThatHoldsThem) {
  std::string fixed = tmp / "C";
  TDiskId hard = volumes.AddFixedDrive(fixed, "SYSTEM", 5000);
  // "A2" shares a prefix with "A" but is not on it.
  makeDirs(tmp / "A2");
  struct Case {
    std::string path;
    std::string root;
    bool removable;
  } cases[] = {
      {driveA, driveA, true},
      {driveA + "/missing/deeper/file.zip", driveA, true},
      {driveA + "/../A/x", driveA, true},
      {fixed + "/f", fixed, false},
      {tmp / "A2/file", "/", false},
  };
  std::string canonicalA = std::filesystem::canonical(driveA).string();
  std::string canonicalC = std::filesystem::canonical(fixed).string();
  for (const auto& c : cases) {
    std::string expected = c.root == driveA ? canonicalA : c.root == fixed ? canonicalC : c.root;
    EXPECT_EQ(volumes.VolumeRoot(c.path), expected) << c.path;
    EXPECT_EQ(volumes.IsRemovable(c.path), c.removable) << c.path;
  }
  EXPECT_EQ(volumes.GetLabel(fixed), "SYSTEM");
  EXPECT_EQ(volumes.FreeSpace(fixed), 5000u);
  EXPECT_THROW(volumes.EjectDisk(fixed), std::logic_error);
  EXPECT_THROW(volumes.InsertDisk(fixed, volumes.AddDisk("X", 1)), std::logic_error);
  EXPECT_EQ(volumes.InsertedDisk(fixed), hard);
}

TEST(SimulatedVolumesOutside, DelegatesOrActsAsOneFixedRoot) {
  TempDir tmp;
  TOutsideVolumes outside;
  TSimulatedVolumes delegating(tmp / "store", &outside);
  delegating.AddRemovableDrive(tmp / "A");
  std::string elsewhere = tmp / "elsewhere/file";
  EXPECT_EQ(delegating.VolumeRoot(elsewhere), "/outside");
  EXPECT_TRUE(delegating.IsRemovable(elsewhere));
  EXPECT_EQ(delegating.FreeSpace(elsewhere), 12345u);
  EXPECT_EQ(delegating.GetLabel(elsewhere), "OUT");
  EXPECT_TRUE(delegating.SetLabel(elsewhere, "L"));
  EXPECT_EQ(outside.asked.size(), 5u);
  EXPECT_TRUE(delegating.IsRemovable(tmp / "A/x"));
  EXPECT_EQ(outside.asked.size(), 5u) << "drive paths must not be delegated";

  TSimulatedVolumes alone(tmp / "store2");
  EXPECT_EQ(alone.VolumeRoot(elsewhere), "/");
  EXPECT_FALSE(alone.IsRemovable(elsewhere));
  EXPECT_EQ(alone.FreeSpace(elsewhere), std::nullopt);
  EXPECT_EQ(alone.GetLabel(elsewhere), "");
  EXPECT_FALSE(alone.SetLabel(elsewhere, "L"));
}

TEST_F(SimulatedDrives, MisuseIsReported) {
  EXPECT_THROW(volumes.AddRemovableDrive(driveA + "/inner"), std::invalid_argument);
  EXPECT_THROW(volumes.AddRemovableDrive(tmp.path()), std::invalid_argument);
  EXPECT_THROW(volumes.InsertDisk(tmp / "nodrive", volumes.AddDisk("X", 1)), std::invalid_argument);
  EXPECT_THROW(volumes.InsertDisk(driveA, 99), std::invalid_argument);
  // Files written while the drive was empty would otherwise be mixed into the next disk.
  writeFile(driveA + "/stray", "written with no disk in");
  EXPECT_THROW(volumes.InsertDisk(driveA, volumes.AddDisk("Y", 10)), std::logic_error);
}

// A writer that spreads bytes over disks by their free space, and a reader that asks for them
// back in order: the dialogue a spanning test drives through the scripted requests.
TEST_F(SimulatedDrives, ScriptedRequestsCarryASpannedSetAcrossDisks) {
  std::vector<TDiskId> disks = {volumes.AddDisk("", 400), volumes.AddDisk("", 400),
                                volumes.AddDisk("", 400)};
  volumes.ScriptDiskOrder(driveA, disks);
  ASSERT_EQ(volumes.AnswerDiskRequest(1, driveA + "/set.zip"), driveA + "/set.zip");

  auto payload = randomBytes(1000, 7);
  std::string name = driveA + "/set.zip";
  size_t written = 0;
  int disk = 1;
  while (written < payload.size()) {
    size_t room = size_t(*volumes.FreeSpace(name));
    if (room == 0) {
      ASSERT_TRUE(volumes.SetLabel(name, "PKBACK# 00" + std::to_string(disk)));
      name = volumes.AnswerDiskRequest(++disk, name);
      ASSERT_FALSE(name.empty());
      continue;
    }
    size_t n = std::min(room, payload.size() - written);
    writeFile(name, std::vector<uint8_t>(payload.begin() + long(written),
                                         payload.begin() + long(written + n)));
    written += n;
  }
  ASSERT_TRUE(volumes.SetLabel(name, "PKBACK# 00" + std::to_string(disk)));
  EXPECT_EQ(volumes.DiskRequests(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(volumes.UsedBytes(disks[0]), 400u);
  EXPECT_EQ(volumes.UsedBytes(disks[2]), 200u);

  std::vector<uint8_t> readBack;
  for (int n = 1; n <= 3; ++n) {
    ASSERT_FALSE(volumes.AnswerDiskRequest(n, name).empty());
    EXPECT_EQ(volumes.GetLabel(name), "PKBACK# 00" + std::to_string(n));
    auto part = readFile(name);
    readBack.insert(readBack.end(), part.begin(), part.end());
  }
  EXPECT_EQ(readBack, payload);
  EXPECT_EQ(volumes.AnswerDiskRequest(4, name), "") << "past the script the user cancels";
}

TEST_F(SimulatedDrives, CustomScriptCanOfferTheWrongDiskFirst) {
  TDiskId wrong = volumes.AddDisk("PKBACK# 001", 10);
  TDiskId right = volumes.AddDisk("PKBACK# 002", 10);
  int offers = 0;
  volumes.SetDiskRequestScript([&](int) {
    volumes.InsertDisk(driveA, offers++ == 0 ? wrong : right);
    return true;
  });
  std::string name = driveA + "/set.zip";
  while (volumes.GetLabel(volumes.AnswerDiskRequest(2, name)) != "PKBACK# 002") {
    ASSERT_LT(offers, 5);
  }
  EXPECT_EQ(volumes.DiskRequests(), (std::vector<int>{2, 2}));
  TSimulatedVolumes unscripted(tmp / "store3");
  EXPECT_EQ(unscripted.AnswerDiskRequest(1, name), "");
}
