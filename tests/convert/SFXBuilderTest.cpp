// The self-extractor builder: what it writes, the checks before it writes anything, where it
// looks for the stub, and that it never destroys a file it was not asked to replace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/QueltSFX.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

class SFXBuilder : public ::testing::Test {
 protected:
  SFXBuilder() {
    stub = randomBytes(20000, 1);  // longer than two copy blocks, not a multiple of one
    zip = randomBytes(9000, 2);
    writeFile(dir / "stub/ZIPSFX.BIN", stub);
    writeFile(dir / "data.zip", zip);
    folders.current = dir / "nowhere";
    sfx.ZipFilename = dir / "data.zip";
    sfx.SFXPath = dir / "stub/ZIPSFX.BIN";
    sfx.Host.ShowError = [this](const std::string& text) { shown.push_back(text); };
  }
  std::vector<uint8_t> record() const {
    auto out = readFile(dir / "data.exe");
    return std::vector<uint8_t>(out.begin() + long(stub.size()),
                                out.begin() + long(stub.size()) + 256);
  }

  TempDir dir;
  TFixedAppFolders folders;
  TQueltSFX sfx{folders};
  std::vector<uint8_t> stub, zip;
  std::vector<std::string> shown;
};

TEST_F(SFXBuilder, WritesStubRecordAndTheArchiveUnchanged) {
  sfx.SFXCaption = "Setup";
  sfx.SFXDefaultDir = "><";
  sfx.SFXCommandLine = "notepad|><readme.txt";
  ASSERT_EQ(sfx.MakeSFX(), sfxSucceeded) << sfx.ErrorText();
  EXPECT_TRUE(shown.empty());
  auto out = readFile(dir / "data.exe");
  ASSERT_EQ(out.size(), stub.size() + 256 + zip.size());
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), out.begin()));
  EXPECT_TRUE(std::equal(zip.begin(), zip.end(), out.begin() + long(stub.size()) + 256));
  std::string expected = std::string("MPU") + '\0' + "\x05\x02\x14" + "Setup><notepad|><readme.txt";
  auto rec = record();
  EXPECT_EQ(std::string(rec.begin(), rec.begin() + long(expected.size())), expected);
  EXPECT_EQ(sfx.WrittenFile(), dir / "data.exe");
}

TEST_F(SFXBuilder, FlagsByte) {
  struct Case {
    SFXOpts options;
    OvrOpts mode;
    uint8_t flags;
  } cases[] = {
      {{}, OvrConfirm, 0x00},
      {{SFXAskCmdLine}, OvrConfirm, 0x01},
      {{SFXAskFiles}, OvrAlways, 0x0A},
      {{SFXHideOverWriteBox}, OvrNever, 0x14},
      {{SFXAskCmdLine, SFXAskFiles, SFXHideOverWriteBox}, OvrNever, 0x17},
  };
  for (const auto& c : cases) {
    sfx.SFXOptions = c.options;
    sfx.SFXOverWriteMode = c.mode;
    sfx.ReplaceExisting = true;
    ASSERT_EQ(sfx.MakeSFX(), sfxSucceeded) << sfx.ErrorText();
    auto rec = record();
    EXPECT_EQ(rec[3], c.flags) << int(c.flags);
    // All texts empty: magic, flags and three zero lengths.
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 4, rec.end()), std::vector<uint8_t>(252, 0));
    auto parsed = ParseSFXRecord(rec.data(), rec.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Options, c.options);
    EXPECT_EQ(parsed->OverWriteMode, c.mode);
  }
}

TEST_F(SFXBuilder, TextsShareTheRecordsRoom) {
  struct Case {
    size_t caption, folder, command;
    bool builds;
  } cases[] = {{100, 100, 49, true}, {100, 100, 50, false}, {249, 0, 0, true}, {0, 0, 250, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption + c.folder + c.command);
    shown.clear();
    sfx.SFXCaption = std::string(c.caption, 'c');
    sfx.SFXDefaultDir = std::string(c.folder, 'd');
    sfx.SFXCommandLine = std::string(c.command, 'l');
    sfx.ReplaceExisting = true;
    int r = sfx.MakeSFX();
    if (c.builds) {
      EXPECT_EQ(r, sfxSucceeded) << sfx.ErrorText();
      auto parsed = ParseSFXRecord(record().data(), 256);
      ASSERT_TRUE(parsed);
      EXPECT_EQ(parsed->CommandLine, sfx.SFXCommandLine);
    } else {
      EXPECT_EQ(r, sfxReported);
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0],
                "Error - The total size of the 3 text properties exceeds 249!\r\n"
                "SFXCaption + SFXDefaultDir + SFXCommandLine = 250");
    }
  }
}

TEST_F(SFXBuilder, ArchiveNamesAndOutputNames) {
  struct Case {
    const char* archive;
    const char* output;  // nullptr: refused
  } cases[] = {{"data.zip", "data.exe"},
               {"DATA.ZiP", "DATA.exe"},
               {"two.dots.zip", "two.dots.exe"},
               {"data.jar", nullptr},
               {"nodot", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    shown.clear();
    writeFile(dir / c.archive, zip);
    sfx.ZipFilename = dir / c.archive;
    int r = sfx.MakeSFX();
    if (c.output) {
      EXPECT_EQ(r, sfxSucceeded) << sfx.ErrorText();
      EXPECT_EQ(readFile(dir / c.output).size(), stub.size() + 256 + zip.size());
    } else {
      EXPECT_EQ(r, sfxReported);
      EXPECT_EQ(shown, std::vector<std::string>{"Error: input file is not a zip file"});
    }
  }
  shown.clear();
  sfx.ZipFilename = dir / "missing.zip";
  EXPECT_EQ(sfx.MakeSFX(), sfxReported);
  EXPECT_EQ(shown, std::vector<std::string>{"Error - no zip file specified"});
}

TEST_F(SFXBuilder, StubSearchOrder) {
  // Each place in turn holds the only stub; the first place that has one wins.
  const std::string places[] = {"cwd", "program", "library", "data"};
  folders.current = dir / "cwd";
  folders.program = dir / "program";
  folders.library = dir / "library";
  folders.data = dir / "data";
  sfx.ReplaceExisting = true;
  for (const auto& place : places) {
    SCOPED_TRACE(place);
    writeFile(dir / place + "/ZIPSFX.BIN", stub);
    sfx.SFXPath = dir / "not-there.bin";
    ASSERT_EQ(sfx.MakeSFX(), sfxSucceeded) << sfx.ErrorText();
    EXPECT_EQ(sfx.SFXPath, dir / place + "/ZIPSFX.BIN");
    // Found once, it is tried first next time.
    ASSERT_EQ(sfx.MakeSFX(), sfxSucceeded);
    EXPECT_EQ(sfx.SFXPath, dir / place + "/ZIPSFX.BIN");
    ASSERT_EQ(::unlink((dir / place + "/ZIPSFX.BIN").c_str()), 0);
  }
  sfx.SFXPath = "";
  ::unlink((dir / "data.exe").c_str());
  EXPECT_EQ(sfx.MakeSFX(), sfxReported);
  EXPECT_EQ(shown, std::vector<std::string>{"Error - ZIPSFX.BIN not found"});
  EXPECT_FALSE(fileExists(dir / "data.exe"));
}

TEST_F(SFXBuilder, ExistingOutputIsReplacedOnlyWhenAsked) {
  const std::string longer(stub.size() + zip.size() + 5000, 'x');
  writeFile(dir / "data.exe", longer);
  EXPECT_EQ(sfx.MakeSFX(), sfxReported);
  EXPECT_EQ(shown, std::vector<std::string>{"Error - " + dir / "data.exe" + " already exists"});
  EXPECT_EQ(sfx.ErrorText(), shown[0]);
  EXPECT_EQ(readText(dir / "data.exe"), longer);

  // Replacing a longer file leaves no tail of it behind.
  sfx.ReplaceExisting = true;
  EXPECT_EQ(sfx.MakeSFX(), sfxSucceeded) << sfx.ErrorText();
  EXPECT_EQ(readFile(dir / "data.exe").size(), stub.size() + 256 + zip.size());

  // Never onto its own archive or stub.
  for (const std::string& input : {dir / "data.zip", dir / "stub/ZIPSFX.BIN"}) {
    shown.clear();
    sfx.OutputFile = input;
    EXPECT_EQ(sfx.MakeSFX(), sfxReported) << input;
    EXPECT_EQ(shown.size(), 1u);
  }
  EXPECT_EQ(readFile(dir / "data.zip"), zip);
  EXPECT_EQ(readFile(dir / "stub/ZIPSFX.BIN"), stub);
}

TEST_F(SFXBuilder, OutputIsExecutableAndNothingIsLeftOnFailure) {
  const mode_t old = ::umask(027);
  int r = sfx.MakeSFX();
  ::umask(old);
  ASSERT_EQ(r, sfxSucceeded) << sfx.ErrorText();
  struct stat st;
  ASSERT_EQ(::stat((dir / "data.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);

  // A folder that cannot hold the output: a negative code with a text, no message box.
  sfx.OutputFile = dir / "no/such/folder/x.exe";
  shown.clear();
  EXPECT_EQ(sfx.MakeSFX(), sfxCannotCreate);
  EXPECT_NE(sfx.ErrorText().find("x.exe"), std::string::npos) << sfx.ErrorText();
  EXPECT_TRUE(shown.empty());
  RunResult ls = run("ls -A " + shq(dir.path()));
  EXPECT_EQ(ls.out, "data.exe\ndata.zip\nstub\n");
}

TEST_F(SFXBuilder, HostSeesTheCopyBlocks) {
  int busy = 0, pumps = 0;
  std::vector<bool> cursor;
  sfx.Host.WaitCursor = [&](bool on) {
    cursor.push_back(on);
    busy += on ? 1 : -1;
  };
  sfx.Host.ProcessMessages = [&] { ++pumps; };
  ASSERT_EQ(sfx.MakeSFX(), sfxSucceeded);
  EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(pumps, 3 + 2);  // 20000 bytes in three blocks, 9000 in two
  // The checks before building show no wait cursor.
  cursor.clear();
  sfx.ZipFilename = dir / "none.zip";
  sfx.MakeSFX();
  EXPECT_TRUE(cursor.empty());
}

}  // namespace
