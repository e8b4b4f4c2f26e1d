#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/LinuxVolumes.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;
namespace fs = std::filesystem;

TEST(MountTableText, EscapesDecodeOnlyWhenComplete) {
  struct Case {
    const char* in;
    const char* octal;
    const char* hex;
  } cases[] = {
      {"my\\040disk", "my disk", "my\\040disk"},
      {"back\\134slash", "back\\slash", "back\\134slash"},
      {"PKBACK\\x23\\x20001", "PKBACK\\x23\\x20001", "PKBACK# 001"},
      {"cut\\04", "cut\\04", "cut\\04"},
      {"cut\\x2", "cut\\x2", "cut\\x2"},
      {"big\\400", "big\\400", "big\\400"},  // past one byte: not an escape
      {"bad\\xZZ", "bad\\xZZ", "bad\\xZZ"},
      {"trailing\\", "trailing\\", "trailing\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeOctalEscapes(c.in), c.octal) << c.in;
    EXPECT_EQ(DecodeHexEscapes(c.in), c.hex) << c.in;
  }
}

TEST(MountTableText, ParsesLinesWithAndWithoutOptionalFields) {
  auto mounts = ParseMountInfo(
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "40 27 8:17 / /media/my\\040stick rw,nosuid shared:5 master:2 - vfat /dev/sdb1 rw\n"
      "garbage line\n"
      "41 27 x:y / /bad rw - ext4 /dev/x rw\n"
      "42 27 0:50 / /tmp/cut rw -\n"
      "43 27 0:51 / relative rw - tmpfs tmpfs rw\n"
      "\n"
      "44 27 0:52 / /run/user rw - tmpfs tmpfs rw");
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].mountPoint, "/");
  EXPECT_EQ(mounts[0].major, 254u);
  EXPECT_EQ(mounts[0].fsType, "ext4");
  EXPECT_EQ(mounts[1].mountPoint, "/media/my stick");
  EXPECT_EQ(mounts[1].minor, 17u);
  EXPECT_EQ(mounts[1].fsType, "vfat");
  EXPECT_EQ(mounts[1].source, "/dev/sdb1");
  EXPECT_EQ(mounts[2].mountPoint, "/run/user") << "a last line without newline counts";
}

namespace {

// A fake machine: a mount table, a sysfs with a partitioned removable stick and a fixed disk,
// udev's label links, and a folder of labelling tools that record how they were called.
struct FakeMachine : ::testing::Test {
  TempDir dir;
  // The table holds resolved paths, so the fake one must too.
  struct TBase {
    std::string path;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
  } tmp{fs::canonical(dir.path()).string()};
  std::string stick = tmp / "media/my stick";
  std::string hard = tmp / "data";
  std::string stickDevice = tmp / "dev/sdb1";
  std::string hardDevice = tmp / "dev/sdc";
  std::string tools = tmp / "tools";
  std::string toolLog = tmp / "tool.log";
  TLinuxVolumesConfig config;

  void SetUp() override {
    makeDirs(stick);
    makeDirs(hard);
    makeDirs(tools);
    writeFile(stickDevice, "");
    writeFile(hardDevice, "");
    std::string escapedStick = tmp / "media/my\\040stick";
    writeFile(tmp / "mountinfo",
              "1 0 254:0 / / rw - ext4 /dev/fake-root rw\n"
              "2 1 8:17 / " +
                  escapedStick + " rw - vfat " + stickDevice +
                  " rw\n"
                  "3 1 8:32 / " +
                  hard + " rw - ext4 " + hardDevice + " rw\n");
    std::string sdb = tmp / "sys/devices/usb1/block/sdb";
    writeFile(sdb + "/removable", "1\n");
    writeFile(sdb + "/sdb1/partition", "1\n");
    writeFile(tmp / "sys/devices/pci0/block/sdc/removable", "0\n");
    makeDirs(tmp / "sys/dev/block");
    fs::create_directory_symlink(sdb + "/sdb1", tmp / "sys/dev/block/8:17");
    fs::create_directory_symlink(tmp / "sys/devices/pci0/block/sdc", tmp / "sys/dev/block/8:32");
    makeDirs(tmp / "by-label");
    fs::create_symlink("../dev/sdb1", tmp / "by-label/PKBACK\\x23\\x20001");
    fs::create_symlink("../dev/sdc", tmp / "by-label/DATA");
    config.mountInfo = tmp / "mountinfo";
    config.sysRoot = tmp / "sys";
    config.labelDir = tmp / "by-label";
    config.toolDirs = {tools};
  }

  void addTool(const std::string& name, int exitStatus) {
    std::string path = tools + "/" + name;
    writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + shq(toolLog) + "\nexit " +
                        std::to_string(exitStatus) + "\n");
    ::chmod(path.c_str(), 0755);
  }
};

}  // namespace

TEST_F(FakeMachine, FindsTheMountHoldingAPath) {
  TLinuxVolumes volumes(config);
  struct Case {
    std::string path;
    std::string root;
  } cases[] = {
      {stick, stick},
      {stick + "/not/there/yet.zip", stick},
      {tmp / "media/my stickx/file", "/"},  // a longer name is another folder
      {hard + "/../data/f", hard},
      {"/", "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(volumes.VolumeRoot(c.path), c.root) << c.path;

  TLinuxVolumesConfig broken = config;
  broken.mountInfo = tmp / "no-such-table";
  TLinuxVolumes blind(broken);
  EXPECT_EQ(blind.VolumeRoot(stick), "/");
  EXPECT_FALSE(blind.IsRemovable(stick));
  EXPECT_EQ(blind.GetLabel(stick), "");
}

TEST_F(FakeMachine, RemovableFlagComesFromTheDiskOfAPartition) {
  TLinuxVolumes volumes(config);
  EXPECT_TRUE(volumes.IsRemovable(stick + "/backup.zip"));
  EXPECT_FALSE(volumes.IsRemovable(hard));
  EXPECT_FALSE(volumes.IsRemovable(tmp / "elsewhere")) << "root has no sysfs entry here";
}

TEST_F(FakeMachine, LabelsComeFromTheLinkNamingTheDevice) {
  TLinuxVolumes volumes(config);
  EXPECT_EQ(volumes.GetLabel(stick + "/x"), "PKBACK# 001");
  EXPECT_EQ(volumes.GetLabel(hard), "DATA");
  EXPECT_EQ(volumes.GetLabel(tmp / "elsewhere"), "");
}

TEST_F(FakeMachine, SetLabelRunsTheFileSystemsToolWithoutAShell) {
  TLinuxVolumes volumes(config);
  EXPECT_FALSE(volumes.SetLabel(stick, "PKBACK# 002")) << "no fatlabel installed";

  addTool("fatlabel", 0);
  ASSERT_TRUE(volumes.SetLabel(stick + "/set.zip", "PKBACK# 002"));
  EXPECT_EQ(readText(toolLog), stickDevice + "\nPKBACK# 002\n") << "label must stay one argument";

  addTool("e2label", 0);
  ASSERT_TRUE(volumes.SetLabel(hard, "$(touch pwned)"));
  EXPECT_EQ(readText(toolLog), hardDevice + "\n$(touch pwned)\n");

  addTool("fatlabel", 1);
  EXPECT_FALSE(volumes.SetLabel(stick, "REFUSED"));

  addTool("fatlabel", 0);
  ::unlink(toolLog.c_str());
  EXPECT_FALSE(volumes.SetLabel(stick, "-r")) << "would be read as an option";
  EXPECT_FALSE(fileExists(toolLog));
  EXPECT_FALSE(volumes.SetLabel(tmp / "elsewhere", "ROOT")) << "the root's source is no device";
}

// The machine's own mounts; only what holds on any Linux system is checked.
TEST(RealVolumes, RootAndMissingPathsAreFound) {
  IVolumes& volumes = systemVolumes();
  EXPECT_EQ(volumes.VolumeRoot("/"), "/");
  EXPECT_EQ(volumes.VolumeRoot("/no/such/folder/anywhere.zip"), "/");
  TempDir tmp;
  EXPECT_EQ(volumes.VolumeRoot(tmp / "not/yet/made.zip"), volumes.VolumeRoot(tmp.path()));
  EXPECT_EQ(volumes.VolumeRoot("/proc/self"), "/proc");
}

TEST(RealVolumes, FreeSpaceIsTheFullSixtyFourBitCount) {
  TempDir tmp;
  auto free = systemVolumes().FreeSpace(tmp / "missing/file");
  ASSERT_TRUE(free);
  EXPECT_GT(*free, 0u);
  auto reference = fs::space(tmp.path()).available;
  // Others write meanwhile; the two readings need only be close.
  uint64_t slack = uint64_t(256) << 20;
  EXPECT_LT(*free > reference ? *free - reference : reference - *free, slack);
  if (reference > UINT32_MAX + slack) {
    EXPECT_GT(*free, uint64_t(UINT32_MAX));
  }
}

TEST(RealVolumes, VirtualFileSystemsAreFixedAndRefuseLabels) {
  IVolumes& volumes = systemVolumes();
  EXPECT_FALSE(volumes.IsRemovable("/proc"));
  EXPECT_FALSE(volumes.SetLabel("/proc", "NOPE"));
  EXPECT_FALSE(volumes.SetLabel("/proc/no/such/path", "NOPE"));
  EXPECT_EQ(volumes.GetLabel("/proc"), "");
  if (access("/dev/shm", F_OK) == 0) {
    EXPECT_FALSE(volumes.IsRemovable("/dev/shm"));
  }
}
