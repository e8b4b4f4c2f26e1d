#include <gtest/gtest.h>

#include <thread>

#include "engine/Errors.h"
#include "engine/UnZipEngine.h"
#include "engine/ZipFormat.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {
std::vector<std::string> listNames(TUnZipEngine& engine) {
  std::vector<std::string> names;
  for (int i = 0; i < engine.Count(); ++i) names.push_back(engine.EntryPath(i) + engine.Filename(i));
  return names;
}

struct Fixture : ::testing::Test {
  TempDir dir;
  TUnZipEngine engine;
  std::string write(const std::string& name, const ZipSpec& spec) {
    std::string path = dir / name;
    writeFile(path, buildZip(spec));
    return path;
  }
  void load(const std::string& path) {
    engine.SetZipName(path);
    engine.LoadCatalogue();
  }
};
using Catalogue = Fixture;
}  // namespace

TEST_F(Catalogue, ReadsEntriesCommentsAndFields) {
  ZipSpec spec;
  spec.entries = {stored("readme.txt", "hello"), stored("docs/a.txt", "abc")};
  spec.entries[1].comment = std::string("entry\0comment", 13);  // a NUL must not cut it
  spec.entries[1].flags = 1;
  spec.entries[1].dosTime = 0;  // impossible date
  spec.archiveComment = std::string(100, 'c');
  load(write("a.zip", spec));
  ASSERT_EQ(engine.Count(), 2);
  EXPECT_EQ(engine.Filename(0), "readme.txt");
  EXPECT_EQ(engine.EntryPath(1), "docs\\");
  EXPECT_EQ(engine.Filename(1), "a.txt");
  EXPECT_EQ(engine.UncompressedSize(0), 5);
  EXPECT_TRUE(engine.Encrypted(1));
  EXPECT_FALSE(engine.Encrypted(0));
  EXPECT_EQ(engine.EntryComment(1), std::string("entry\0comment", 13));
  EXPECT_EQ(engine.ArchiveComment(), std::string(100, 'c'));
  EXPECT_EQ(engine.Entry(0).CRC32, crc32Of({'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(engine.EntryDateTime(0), (TDateTime{2025, 1, 12, 12, 0, 0}));
  // An impossible stored date reads as it is stored, never as the time of the run.
  EXPECT_EQ(engine.EntryDateTime(1), (TDateTime{1980, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(engine.Rebuilt());
  try {
    engine.Filename(2);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index 2 is out of range");
  }
}

TEST_F(Catalogue, CommentLengthPastTheEndIsCut) {
  ZipSpec spec;
  spec.entries = {stored("a", "x")};
  spec.archiveComment = "short";
  spec.commentLengthField = 500;
  load(write("a.zip", spec));
  EXPECT_EQ(engine.Count(), 1);
  EXPECT_EQ(engine.ArchiveComment(), "short");
}

TEST_F(Catalogue, MissingEndRecordFollowsTheIncompleteMode) {
  ZipSpec spec;
  spec.entries = {stored("one", "1111"), stored("two", "22")};
  spec.centralDirectory = false;
  spec.endRecord = false;
  std::string path = write("cut.zip", spec);

  bool asked = false;
  engine.OnInCompleteZip = [&](TUnZipEngine&, TIncompleteZipMode& mode) {
    asked = true;
    mode = izAssumeMulti;
  };
  engine.SetZipName(path);
  try {
    engine.LoadCatalogue();
    FAIL();
  } catch (const EIncompleteZip& e) {
    EXPECT_STREQ(e.what(), "Incomplete Zip File");
  }
  EXPECT_TRUE(asked);
  EXPECT_EQ(engine.Count(), 0);

  engine.OnInCompleteZip = [](TUnZipEngine&, TIncompleteZipMode& mode) { mode = izAssumeBad; };
  engine.LoadCatalogue();
  EXPECT_TRUE(engine.Rebuilt());
  EXPECT_EQ(listNames(engine), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(engine.VolumeCount(), 1);

  // Shorter than an end record.
  std::string tiny = dir / "tiny.zip";
  writeFile(tiny, std::string("PK"));
  engine.OnInCompleteZip = nullptr;
  engine.IncompleteZipMode = izAssumeMulti;
  engine.SetZipName(tiny);
  EXPECT_THROW(engine.LoadCatalogue(), EIncompleteZip);
}

TEST_F(Catalogue, StubInFrontIsWalkedFromWhereTheNameSays) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("b.txt", "beta")};
  spec.entries[0].comment = "kept only when offsets agree";
  spec.prefix.assign(14000, 'M');
  spec.prefix[100] = 'P';  // a stray "P" in the stub
  // The central directory's offsets ignore the stub, so they match no walked entry; its size
  // is damaged, so the end record no longer tells where the archive starts.
  std::vector<uint8_t> bytes = buildZip(spec);
  bytes[bytes.size() - kEndRecordSize + endrec::kCentralDirSize] ^= 0x04;
  for (const char* name : {"sfx.EXE", "sfx.exe"}) {
    writeFile(dir / name, bytes);
    load(dir / name);
    ASSERT_EQ(listNames(engine), (std::vector<std::string>{"a.txt", "b.txt"})) << name;
    EXPECT_TRUE(engine.Rebuilt());
    EXPECT_EQ(engine.Entry(0).RelativeOffset, 14000u);
    EXPECT_EQ(engine.EntryComment(0), "");
  }
  // Offsets adjusted for the stub: the central directory is read directly.
  spec.adjustOffsetsForPrefix = true;
  load(write("adjusted.exe", spec));
  EXPECT_FALSE(engine.Rebuilt());
  EXPECT_EQ(engine.EntryComment(0), "kept only when offsets agree");
}

TEST_F(Catalogue, ArchiveBehindAStubIsFoundThroughItsEndRecord) {
  // A self-extractor: a program (with a local header signature of its own), then an archive
  // whose offsets count from its own start.
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("dir/b.txt", "beta")};
  spec.entries[1].comment = "kept";
  spec.entries[1].externalAttributes = 0x21;
  spec.prefix.assign(3000, 'M');
  const uint8_t fake[] = {'P', 'K', 3, 4, 10, 0, 0, 0, 0, 0};
  std::copy(std::begin(fake), std::end(fake), spec.prefix.begin() + 700);
  for (const char* name : {"sfx.exe", "sfx.zip"}) {
    load(write(name, spec));
    ASSERT_EQ(listNames(engine), (std::vector<std::string>{"a.txt", "dir\\b.txt"})) << name;
    EXPECT_FALSE(engine.Rebuilt());
    EXPECT_EQ(engine.Entry(0).RelativeOffset, 3000u);
    EXPECT_EQ(engine.EntryComment(1), "kept");
    EXPECT_EQ(engine.Entry(1).ExternalAttributes, 0x21u);
  }
  engine.SetDestDir(dir / "out");
  engine.DoAll = true;
  engine.RecreateDirs = true;
  EXPECT_EQ(engine.ExtractEntries(), 2);
  EXPECT_EQ(readText(dir / "out/dir/b.txt"), "beta");
}

TEST_F(Catalogue, ExeStubSkipIsCaseSensitive) {
  // An entry inside the first 14000 bytes is only seen when the walk starts at 0.
  ZipSpec spec;
  spec.entries = {stored("early.txt", "e")};
  spec.prefix.assign(10, 'M');
  spec.centralDirectory = false;
  spec.trailer.assign(14000, 0);
  engine.IncompleteZipMode = izAssumeBad;
  load(write("x.exe", spec));
  EXPECT_EQ(engine.Count(), 1);
  load(write("x.EXE", spec));
  EXPECT_EQ(engine.Count(), 0);
}

TEST_F(Catalogue, WalkMatchesCentralHeadersByOffset) {
  // The end record's directory offset is wrong, but the central headers' entry offsets
  // are right: the walk finds the entries and the central headers fill them in.
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("b.txt", "beta")};
  spec.entries[1].comment = "second";
  spec.entries[1].externalAttributes = 0x21;
  std::vector<uint8_t> bytes = buildZip(spec);
  size_t endAt = bytes.size() - 22;
  bytes[endAt + 16] ^= 0x55;  // corrupt the directory offset
  std::string path = dir / "bad-offset.zip";
  writeFile(path, bytes);
  load(path);
  EXPECT_TRUE(engine.Rebuilt());
  ASSERT_EQ(engine.Count(), 2);
  EXPECT_EQ(engine.EntryComment(1), "second");
  EXPECT_EQ(engine.Entry(1).ExternalAttributes, 0x21u);
}

TEST_F(Catalogue, DataDescriptorsAreSkippedInTheWalk) {
  ZipSpec spec;
  ZipEntrySpec a = stored("a.txt", "alpha"), b = stored("b.txt", "beta"),
               c = stored("c.txt", "gamma-gamma");
  a.descriptor = true;                     // sizes in the header, 16-byte descriptor
  b.descriptor = true;
  b.descriptorSignature = false;           // 12-byte descriptor
  c.descriptor = true;
  c.sizesInLocalHeader = false;            // sizes only in the descriptor
  spec.entries = {a, b, c, stored("d.txt", "delta")};
  spec.centralDirectory = false;
  spec.endRecord = false;
  engine.IncompleteZipMode = izAssumeBad;
  load(write("dd.zip", spec));
  ASSERT_EQ(listNames(engine), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
  EXPECT_EQ(engine.UncompressedSize(2), 11);
  EXPECT_EQ(engine.Entry(2).CRC32, crc32Of(c.data));
}

TEST_F(Catalogue, DuplicateOffsetsAreRefused) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("b.txt", "beta")};
  spec.entries[1].centralOffset = 0;
  engine.SetZipName(write("dup.zip", spec));
  try {
    engine.LoadCatalogue();
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
}

TEST_F(Catalogue, StopsAtTheFirstCentralHeaderThatFailsToRead) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha"), stored("b.txt", "beta"), stored("c.txt", "gamma")};
  std::vector<uint8_t> bytes = buildZip(spec);
  // Break the signature of the second central header.
  size_t cd = bytes.size() - 22 - 3 * (46 + 5);
  bytes[cd + 46 + 5] = 'X';
  std::string path = dir / "broken-cd.zip";
  writeFile(path, bytes);
  load(path);
  EXPECT_EQ(listNames(engine), (std::vector<std::string>{"a.txt"}));
}

TEST_F(Catalogue, ReReadsOnlyWhenTheFileChanged) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha")};
  std::string path = write("a.zip", spec);
  load(path);
  ASSERT_EQ(engine.Count(), 1);
  // The same name again keeps the catalogue; a name in other letter case is another file.
  engine.SetZipName(path);
  EXPECT_EQ(engine.Count(), 1);
  engine.SetZipName(dir / "A.zip");
  EXPECT_EQ(engine.Count(), 0);
  EXPECT_THROW(engine.LoadCatalogue(), EFOpenError);

  load(path);
  spec.entries.push_back(stored("b.txt", "beta"));
  write("a.zip", spec);
  engine.LoadCatalogue();
  EXPECT_EQ(engine.Count(), 2);
}

TEST_F(Catalogue, AnArchiveKeptOpenIsReadAgainWhenReplacedByRename) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha")};
  std::string path = write("a.zip", spec);
  engine.KeepZipOpen = true;
  load(path);
  ASSERT_EQ(engine.Count(), 1);
  spec.entries.push_back(stored("b.txt", "beta"));
  write("new.zip", spec);
  ASSERT_EQ(::rename((dir / "new.zip").c_str(), path.c_str()), 0);
  engine.LoadCatalogue();
  EXPECT_EQ(engine.Count(), 2);
}

TEST_F(Catalogue, SortedViewsAnswerTheQueries) {
  ZipSpec spec;
  spec.entries = {stored("z.txt", "1"), stored("b/a.txt", "22"), stored("m.txt", "333")};
  engine.SortCatalogue(ByFileName);
  load(write("s.zip", spec));
  EXPECT_EQ(listNames(engine), (std::vector<std::string>{"b\\a.txt", "m.txt", "z.txt"}));
  engine.SortCatalogue(ByUnCompressedSize);
  EXPECT_EQ(listNames(engine), (std::vector<std::string>{"m.txt", "b\\a.txt", "z.txt"}));
  engine.SortCatalogue(ByNone);
  EXPECT_EQ(listNames(engine), (std::vector<std::string>{"z.txt", "b\\a.txt", "m.txt"}));
}

TEST_F(Catalogue, CancelDuringTheWalk) {
  ZipSpec spec;
  spec.prefix.assign(300000, 'x');
  spec.entries = {stored("late.txt", "l")};
  spec.centralDirectory = false;
  spec.endRecord = false;
  engine.IncompleteZipMode = izAssumeBad;
  int pumps = 0;
  engine.Host.ProcessMessages = [&] {
    if (++pumps == 3) engine.RequestCancel();
  };
  engine.SetZipName(write("slow.zip", spec));
  try {
    engine.LoadCatalogue();
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_EQ(pumps, 3);
  engine.Host.ProcessMessages = nullptr;
  engine.LoadCatalogue();  // the cancel request was cleared
  EXPECT_EQ(engine.Count(), 1);
}

TEST_F(Catalogue, AskingTheHostForAName) {
  ZipSpec spec;
  spec.entries = {stored("a.txt", "alpha")};
  std::string path = write("chosen.zip", spec);
  EXPECT_THROW(engine.SetZipName(dir / "?"), EUserCanceled);
  std::string seenTitle;
  engine.Host.SelectOpenFile = [&](const std::string& title, const std::string&,
                                   const std::string&) -> std::optional<std::string> {
    seenTitle = title;
    return path;
  };
  engine.SetZipName(dir / "?");
  EXPECT_EQ(seenTitle, "Open a Zip File");
  EXPECT_EQ(engine.ZipName(), path);
}

TEST_F(Catalogue, DamageIsToldApartFromWholeAndEmptyArchives) {
  ZipSpec whole;
  whole.entries = {stored("a.txt", "a"), stored("b.txt", "b")};
  ZipSpec walked = whole;
  walked.endRecord = walked.centralDirectory = false;
  ZipSpec stub = whole;
  stub.prefix.assign(100, 'M');  // offsets not counting it: found from the end record, whole
  auto spoilt = buildZip(whole);
  std::string text(spoilt.begin(), spoilt.end());
  spoilt[text.rfind("PK\x01\x02") + 2] = 'x';  // the second central header no longer reads
  writeFile(dir / "spoilt.zip", spoilt);
  writeFile(dir / "empty.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  struct TCase {
    std::string path;
    int count;
    std::string damage;
  } cases[] = {
      {write("whole.zip", whole), 2, ""},
      {write("stub.zip", stub), 2, ""},
      {dir / "empty.zip", 0, ""},
      {write("walked.zip", walked), 2,
       "it has no end record, so its entries were found by walking their local headers; it is "
       "damaged, or only one volume of a multi-volume set"},
      {dir / "spoilt.zip", 1,
       "its central directory is missing or cut short: 1 of 2 records could be read"},
  };
  engine.IncompleteZipMode = izAssumeBad;
  for (const TCase& c : cases) {
    load(c.path);
    EXPECT_EQ(engine.Count(), c.count) << c.path;
    EXPECT_EQ(engine.CatalogueDamage(), c.damage) << c.path;
    EXPECT_EQ(engine.Rebuilt(), c.path.find("walked.zip") != std::string::npos)
        << c.path;  // the empty archive is read as empty, not walked
  }
}

TEST_F(Catalogue, ModificationTimesComeFromTheExtraFields) {
  auto field = [](uint16_t tag, const std::string& data) {
    std::string f{char(tag), char(tag >> 8), char(data.size()), char(data.size() >> 8)};
    return f + data;
  };
  auto le = [](uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char(v >> (8 * i));
    return s;
  };
  const uint64_t ticks = (1500000000ull + 11644473600ull) * 10000000ull;
  ZipSpec spec;
  spec.entries = {stored("ut.txt", "1"), stored("ntfs.txt", "2"), stored("flags.txt", "3"),
                  stored("cut.txt", "4"), stored("none.txt", "5")};
  spec.entries[0].extra = field(0x5455, "\x01" + le(1234567890, 4));
  spec.entries[1].extra =
      field(0x0001, le(7, 8)) +
      field(0x000A, le(0, 4) + field(0x0001, le(ticks, 8) + std::string(16, '\0')));
  spec.entries[2].extra = field(0x5455, "\x06" + le(1234567890, 4));  // no modification time
  spec.entries[3].extra = field(0x5455, "\x01" + le(1234567890, 4)).substr(0, 7);  // cut short
  load(write("t.zip", spec));
  const std::optional<int64_t> expected[] = {1234567890, 1500000000, std::nullopt, std::nullopt,
                                             std::nullopt};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(engine.Entry(i).ModTimeUtc, expected[i]) << i;
  // The walk reads them from the local headers.
  spec.centralDirectory = spec.endRecord = false;
  engine.IncompleteZipMode = izAssumeBad;
  load(write("w.zip", spec));
  EXPECT_EQ(engine.Entry(0).ModTimeUtc, int64_t(1234567890));
}
