// The older platforms' self-extractors: stub then archive, named after the archive's first
// name part, never replacing a file unasked and never leaving half a program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "convert/QueltSFX.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

TEST(PlainSFX, NamesTheProgramAfterTheArchivesFirstNamePart) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a/backup.2024.zip", "/a/backup.exe"},
      {"/a/data.zip", "/a/data.exe"},
      {"/a.b/DATA.ZiP", "/a.b/DATA.exe"},
      {"rel/x.zip", "rel/x.exe"},
      {"/x.zip", "/x.exe"},
  };
  for (const auto& [archive, exe] : cases) EXPECT_EQ(PlainSFXName(archive), exe) << archive;
}

TEST(PlainSFX, WritesStubThenArchiveAndReplacesOnlyWhenAsked) {
  TempDir dir;
  const auto stub = randomBytes(5000, 1), zip = randomBytes(30000, 2);
  writeFile(dir / "SFXD.bin", stub);
  writeFile(dir / "backup.2024.zip", zip);
  const std::string exe = PlainSFXName(dir / "backup.2024.zip");
  ASSERT_EQ(MakePlainSFX(dir / "SFXD.bin", dir / "backup.2024.zip", exe, false), "");
  auto want = stub;
  want.insert(want.end(), zip.begin(), zip.end());
  EXPECT_EQ(readFile(exe), want);
  struct stat st;
  ASSERT_EQ(::stat(exe.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);

  writeFile(exe, "mine");
  EXPECT_EQ(MakePlainSFX(dir / "SFXD.bin", dir / "backup.2024.zip", exe, false),
            "Error - " + exe + " already exists");
  EXPECT_EQ(readText(exe), "mine");
  EXPECT_EQ(MakePlainSFX(dir / "SFXD.bin", dir / "backup.2024.zip", exe, true), "");
  EXPECT_EQ(readFile(exe), want);
}

TEST(PlainSFX, FailuresLeaveNoFileBehind) {
  TempDir dir;
  writeFile(dir / "data.zip", randomBytes(100, 3));
  writeFile(dir / "SFXW.bin", randomBytes(100, 4));
  struct TCase {
    std::string stub, archive, output, message;
  };
  const TCase cases[] = {
      {dir / "SFXW32.bin", dir / "data.zip", dir / "data.exe",
       "Error - " + dir / "SFXW32.bin not found"},
      {dir / "SFXW.bin", dir / "gone.zip", dir / "gone.exe", "Error - no zip file specified"},
      {dir / "SFXW.bin", dir / "data.zip", dir / "data.zip",
       "Error - " + dir / "data.zip is the archive or the stub itself"},
      {dir / "SFXW.bin", dir / "data.zip", dir / "no/such/folder/data.exe", ""},
  };
  for (const TCase& c : cases) {
    std::string error = MakePlainSFX(c.stub, c.archive, c.output, true);
    if (c.message.empty())
      EXPECT_NE(error.find("Cannot create \"" + c.output + "\""), std::string::npos) << error;
    else
      EXPECT_EQ(error, c.message);
  }
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"SFXW.bin", "data.zip"}));
}

}  // namespace
