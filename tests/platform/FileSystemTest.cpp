#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/FileSystem.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::files;
using namespace quelt::test;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::tm localMTime(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  std::tm tm{};
  localtime_r(&st.st_mtime, &tm);
  return tm;
}

uint32_t dos(int year, int month, int day, int hour, int minute, int second) {
  return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 |
         uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
}

// Runs a test body under another time zone and restores the caller's.
class TZoneGuard {
 public:
  explicit TZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TZoneGuard() {
    if (old_)
      ::setenv("TZ", old_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

}  // namespace

TEST(DosAttributes, FromPosixModes) {
  struct Case {
    mode_t mode;
    uint8_t attributes;
  } cases[] = {
      {S_IFREG | 0644, kDosArchive},
      {S_IFREG | 0444, kDosArchive | kDosReadOnly},
      {S_IFREG | 0466, kDosArchive | kDosReadOnly},  // only the owner's bit counts
      {S_IFREG | 0200, kDosArchive},
      {S_IFDIR | 0755, kDosFolder},
      {S_IFDIR | 0555, kDosFolder | kDosReadOnly},
      {S_IFIFO | 0644, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DosAttributesFromMode(c.mode), c.attributes) << std::oct << c.mode;

  TempDir tmp;
  writeFile(tmp / "f", "x");
  ::chmod((tmp / "f").c_str(), 0444);
  EXPECT_EQ(DosAttributesOf(tmp / "f"), kDosArchive | kDosReadOnly);
  EXPECT_EQ(DosAttributesOf(tmp.path()), kDosFolder);
  EXPECT_EQ(DosAttributesOf(tmp / "missing"), std::nullopt);
}

TEST(DosAttributes, AppliedOnExtraction) {
  TempDir tmp;
  struct Case {
    mode_t before;
    uint8_t attributes;
    mode_t after;
  } cases[] = {
      {0644, kDosReadOnly | kDosArchive, 0444},
      {0666, kDosReadOnly, 0444},
      {0755, kDosReadOnly, 0555},
      {0644, kDosArchive, 0644},
      {0644, kDosHidden | kDosSystem, 0644},
      {0600, kDosFolder, 0600},  // a folder bit does not make a file a folder
  };
  for (const auto& c : cases) {
    std::string path = tmp / "file";
    writeFile(path, "x");
    ::chmod(path.c_str(), c.before);
    EXPECT_TRUE(ApplyDosAttributes(path, c.attributes));
    EXPECT_EQ(modeOf(path), c.after) << std::oct << c.before << " with " << int(c.attributes);
    ::chmod(path.c_str(), 0644);
  }

  // A read-only folder would refuse the files extracted into it afterwards.
  makeDirs(tmp / "folder");
  ::chmod((tmp / "folder").c_str(), 0755);
  EXPECT_TRUE(ApplyDosAttributes(tmp / "folder", kDosFolder | kDosReadOnly));
  EXPECT_EQ(modeOf(tmp / "folder"), 0755u);

  // A symlink's target lies outside the extraction and must not change.
  writeFile(tmp / "target", "t");
  ::chmod((tmp / "target").c_str(), 0644);
  fs::create_symlink(tmp / "target", tmp / "link");
  EXPECT_TRUE(ApplyDosAttributes(tmp / "link", kDosReadOnly));
  EXPECT_EQ(modeOf(tmp / "target"), 0644u);

  EXPECT_FALSE(ApplyDosAttributes(tmp / "missing", kDosReadOnly));
}

TEST(DosTime, FromMomentsIncludingClampedYears) {
  TZoneGuard zone("UTC0");
  struct Case {
    int year, month, day, hour, minute, second;
    uint32_t expected;
  } cases[] = {
      {2021, 7, 15, 13, 45, 27, dos(2021, 7, 15, 13, 45, 26)},  // odd seconds go down
      {1980, 1, 1, 0, 0, 0, dos(1980, 1, 1, 0, 0, 0)},
      {2024, 2, 29, 23, 59, 59, dos(2024, 2, 29, 23, 59, 58)},
      {1975, 6, 1, 12, 0, 0, dos(1980, 1, 1, 0, 0, 0)},
      {1969, 12, 31, 23, 59, 59, dos(1980, 1, 1, 0, 0, 0)},
      {2107, 12, 31, 23, 59, 59, dos(2107, 12, 31, 23, 59, 58)},
      {2200, 3, 1, 10, 0, 0, dos(2107, 12, 31, 23, 59, 58)},
  };
  for (const auto& c : cases) {
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    time_t moment = timegm(&tm);
    EXPECT_EQ(DosDateTimeFromTime(moment), c.expected) << c.year << "-" << c.month;
  }
}

TEST(DosTime, ImpossibleValuesNameNoMoment) {
  uint32_t cases[] = {
      0,                              // month 0, day 0
      dos(2023, 13, 1, 0, 0, 0),      // month 13
      dos(2023, 4, 31, 0, 0, 0),      // 31 April
      dos(2023, 2, 29, 0, 0, 0),      // not a leap year
      dos(2100, 2, 29, 0, 0, 0),      // centuries are not leap years
      dos(2023, 1, 1, 24, 0, 0),      // hour 24
      dos(2023, 1, 1, 0, 60, 0),      // minute 60
      dos(2023, 1, 1, 0, 0, 0) | 30,  // 60 seconds
  };
  TempDir tmp;
  writeFile(tmp / "f", "x");
  setLocalMTime(tmp / "f", 2001, 2, 3, 4, 5, 6);
  for (uint32_t value : cases) {
    EXPECT_EQ(TimeFromDosDateTime(value), std::nullopt) << std::hex << value;
    EXPECT_FALSE(SetFileDosDateTime(tmp / "f", value)) << std::hex << value;
  }
  EXPECT_EQ(FileDosDateTime(tmp / "f"), dos(2001, 2, 3, 4, 5, 6)) << "a refused value changed it";
  EXPECT_TRUE(TimeFromDosDateTime(dos(2000, 2, 29, 0, 0, 0)));
  EXPECT_TRUE(TimeFromDosDateTime(dos(2024, 2, 29, 23, 59, 58)));
}

// Summer and winter dates must both come back as the same wall-clock time: a fixed
// daylight-saving guess would move one of them by an hour.
TEST(DosTime, RoundTripsThroughAFilesMTimeInLocalTime) {
  if (access("/usr/share/zoneinfo/Europe/Berlin", R_OK) != 0) GTEST_SKIP() << "no tzdata";
  TZoneGuard zone("Europe/Berlin");
  TempDir tmp;
  std::string source = tmp / "source";
  std::string copy = tmp / "copy";
  writeFile(source, "x");
  writeFile(copy, "y");
  struct Case {
    int year, month, day, hour, minute, second;
  } cases[] = {{2021, 7, 15, 13, 45, 27}, {2021, 1, 15, 13, 45, 27}, {1999, 12, 31, 23, 59, 59}};
  for (const auto& c : cases) {
    setLocalMTime(source, c.year, c.month, c.day, c.hour, c.minute, c.second);
    auto stored = FileDosDateTime(source);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, dos(c.year, c.month, c.day, c.hour, c.minute, c.second));
    ASSERT_TRUE(SetFileDosDateTime(copy, *stored));
    std::tm tm = localMTime(copy);
    EXPECT_EQ(tm.tm_hour, c.hour) << c.month;
    EXPECT_EQ(tm.tm_min, c.minute);
    EXPECT_EQ(tm.tm_sec, c.second & ~1);
    EXPECT_EQ(FileDosDateTime(copy), stored) << "the value must be stable once rounded";
  }
  EXPECT_EQ(FileDosDateTime(tmp / "missing"), std::nullopt);
  EXPECT_FALSE(SetFileDosDateTime(tmp / "missing", dos(2020, 1, 1, 0, 0, 0)));
}

TEST(TempFiles, AreNewEmptyPrivateAndUnique) {
  TempDir tmp;
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string name = TempFileName(tmp.path() + (i % 2 ? "/" : ""));
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(tmp.path()));
    EXPECT_EQ(fs::path(name).filename().string().substr(0, 3), "QLZ");
    EXPECT_TRUE(IsRegularFile(name));
    EXPECT_EQ(FileSize(name), 0u);
    EXPECT_EQ(modeOf(name), 0600u) << "may later hold decrypted data";
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);
  std::string custom = TempFileName(tmp.path(), "SFX");
  EXPECT_EQ(fs::path(custom).filename().string().substr(0, 3), "SFX");
}

TEST(TempFiles, FailuresNameTheFolder) {
  TempDir tmp;
  writeFile(tmp / "file", "x");
  for (const std::string& folder : {tmp / "missing", tmp / "file"}) {
    try {
      (void)TempFileName(folder);
      ADD_FAILURE() << folder;
    } catch (const std::system_error& e) {
      EXPECT_NE(std::string(e.what()).find(folder), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW((void)TempFileName(""), std::system_error);
  EXPECT_THROW((void)TempFileName(tmp.path(), "../QLZ"), std::system_error);
}

TEST(Folders, MakeFoldersCreatesEveryMissingParent) {
  TempDir tmp;
  MakeFolders(tmp / "a/b/c");
  EXPECT_TRUE(IsFolder(tmp / "a/b/c"));
  MakeFolders(tmp / "a/b/c");  // already there
  MakeFolders(tmp / "x/y//z///");
  EXPECT_TRUE(IsFolder(tmp / "x/y/z"));
  MakeFolders("/");

  try {
    MakeFolders("");
    ADD_FAILURE();
  } catch (const std::system_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Unable to create directory", 0), 0u) << e.what();
  }
  writeFile(tmp / "file", "x");
  for (const std::string& path : {tmp / "file", tmp / "file/below"}) {
    try {
      MakeFolders(path);
      ADD_FAILURE() << path;
    } catch (const std::system_error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_EQ(e.code(), std::errc::not_a_directory) << e.what();
    }
  }
}

TEST(FileTests, FinalSymlinkFollowedOnlyWhenAsked) {
  TempDir tmp;
  writeFile(tmp / "file", "abc");
  makeDirs(tmp / "dir");
  fs::create_symlink(tmp / "dir", tmp / "to-dir");
  fs::create_symlink(tmp / "nowhere", tmp / "dangling");
  struct Case {
    std::string name;
    bool exists, existsNoFollow, folder, folderNoFollow, regular, regularNoFollow;
  } cases[] = {
      {"file", true, true, false, false, true, true},
      {"dir", true, true, true, true, false, false},
      {"to-dir", true, true, true, false, false, false},
      {"dangling", false, true, false, false, false, false},
      {"missing", false, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    std::string p = tmp / c.name;
    EXPECT_EQ(PathExists(p), c.exists) << c.name;
    EXPECT_EQ(PathExists(p, false), c.existsNoFollow) << c.name;
    EXPECT_EQ(IsFolder(p), c.folder) << c.name;
    EXPECT_EQ(IsFolder(p, false), c.folderNoFollow) << c.name;
    EXPECT_EQ(IsRegularFile(p), c.regular) << c.name;
    EXPECT_EQ(IsRegularFile(p, false), c.regularNoFollow) << c.name;
  }
}

TEST(FileOperations, SizeDeleteRenameSync) {
  TempDir tmp;
  // A sparse file past 4 GiB costs no disk space and shows a truncated size at once.
  std::string big = tmp / "big";
  writeFile(big, "");
  ASSERT_EQ(::truncate(big.c_str(), (off_t(5) << 30) + 3), 0);
  EXPECT_EQ(FileSize(big), (uint64_t(5) << 30) + 3);
  EXPECT_EQ(FileSize(tmp / "missing"), std::nullopt);

  writeFile(tmp / "target", "keep me");
  fs::create_symlink(tmp / "target", tmp / "link");
  EXPECT_TRUE(DeleteFile(tmp / "link"));
  EXPECT_EQ(readText(tmp / "target"), "keep me");
  EXPECT_FALSE(DeleteFile(tmp / "link"));
  makeDirs(tmp / "dir");
  EXPECT_FALSE(DeleteFile(tmp / "dir"));

  writeFile(tmp / "new", "new archive");
  EXPECT_TRUE(SyncFile(tmp / "new"));
  EXPECT_TRUE(RenameFile(tmp / "new", tmp / "target"));
  EXPECT_TRUE(SyncFolder(tmp.path()));
  EXPECT_EQ(readText(tmp / "target"), "new archive");
  EXPECT_FALSE(fileExists(tmp / "new"));
  EXPECT_FALSE(RenameFile(tmp / "new", tmp / "target"));
  EXPECT_FALSE(SyncFile(tmp / "new"));
  EXPECT_FALSE(SyncFolder(tmp / "target")) << "not a folder";
}
