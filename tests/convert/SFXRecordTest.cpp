// The record a self-extractor reads, and how it turns its command line into a program to run.
#include <gtest/gtest.h>

#include "convert/SFXRecord.h"

using namespace quelt;

namespace {

TEST(SFXRecord, ReadsWhatWasWritten) {
  TSFXRecord r;
  r.Options = {SFXAskFiles};
  r.OverWriteMode = OvrAlways;
  r.Caption = "Caf\xc3\xa9 setup";
  r.DefaultDir = "/opt/x";
  r.CommandLine = std::string(249 - r.Caption.size() - r.DefaultDir.size(), 'c');
  auto bytes = BuildSFXRecord(r);
  auto back = ParseSFXRecord(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Options, r.Options);
  EXPECT_EQ(back->OverWriteMode, OvrAlways);
  EXPECT_EQ(back->Caption, r.Caption);
  EXPECT_EQ(back->DefaultDir, r.DefaultDir);
  EXPECT_EQ(back->CommandLine, r.CommandLine);
  r.Caption += "x";
  EXPECT_THROW(BuildSFXRecord(r), std::length_error);
}

TEST(SFXRecord, RefusesWhatIsNoRecord) {
  std::array<uint8_t, 256> good = BuildSFXRecord(TSFXRecord{});
  auto changed = [&](size_t at, uint8_t v) {
    auto b = good;
    b[at] = v;
    return ParseSFXRecord(b.data(), b.size());
  };
  EXPECT_FALSE(changed(0, 'X'));
  EXPECT_FALSE(changed(2, 'X'));
  EXPECT_FALSE(changed(4, 250));  // lengths that run past the record
  EXPECT_FALSE(ParseSFXRecord(good.data(), 255));
  // Both overwrite bits: no mode the builder writes, so the stub asks.
  EXPECT_EQ(changed(3, 0x18)->OverWriteMode, OvrConfirm);
  EXPECT_EQ(changed(3, 0x10)->OverWriteMode, OvrNever);
}

TEST(SFXRecord, CommandLines) {
  struct Case {
    const char* line;
    std::vector<std::string> argv;
  } cases[] = {
      {"notepad|><readme.txt", {"notepad", "/x y/readme.txt"}},
      {"cp|><a.txt ><b.txt", {"cp", "/x y/a.txt", "/x y/b.txt"}},
      {"  ><setup.sh |  --quiet   -v ", {"/x y/setup.sh", "--quiet", "-v"}},
      {"echo|\"two words\" ><", {"echo", "two words", "/x y/"}},
      {"echo|\"\"", {"echo", ""}},
      {"/usr/bin/my tool", {"/usr/bin/my tool"}},  // without "|" the whole line is the program
      {"prog|a|b", {"prog", "a|b"}},
      {"", {}},
      {"   |arg", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitSFXCommand(c.line, "/x y"), c.argv) << c.line;
  EXPECT_EQ(ExpandSFXFolder("><", "/tmp/f/"), "/tmp/f/");
  EXPECT_EQ(ExpandSFXFolder("a><b><", "/t"), "a/t/b/t/");
  EXPECT_EQ(ExpandSFXFolder("no sign", "/t"), "no sign");
}

}  // namespace
