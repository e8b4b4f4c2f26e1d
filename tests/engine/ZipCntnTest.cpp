#include <gtest/gtest.h>

#include <random>

#include "engine/DateTime.h"
#include "engine/Errors.h"
#include "engine/ZipCntn.h"

using namespace quelt;

namespace {
std::unique_ptr<TZipHeaderInfo> entry(const std::string& name, uint32_t offset, uint32_t csize = 0,
                                      uint32_t usize = 0, uint32_t dos = 0x5A2C6000) {
  auto e = std::make_unique<TZipHeaderInfo>();
  e->SetFullName(name);
  e->RelativeOffset = offset;
  e->CompressedSize = csize;
  e->UncompressedSize = usize;
  e->LastModFileDateTime = dos;
  return e;
}

std::vector<std::string> namesOf(const TSortedZip& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list[i].FullName());
  return names;
}

std::vector<std::string> sortedView(const TSortedZip& main, TZipSortMode mode) {
  TSortedZip view(false, dupAccept, mode);
  view.AssignFrom(main);
  return namesOf(view);
}
}  // namespace

TEST(SortedZip, TieRulesOfEachMode) {
  TSortedZip main(true, dupError);
  uint32_t day1 = DateTimeToDosDateTime({2020, 1, 1, 0, 0, 0});
  uint32_t day2 = DateTimeToDosDateTime({2021, 1, 1, 0, 0, 0});
  main.Add(entry("x\\a.txt", 0, 10, 100, day1));
  main.Add(entry("a.txt", 100, 10, 100, day2));
  main.Add(entry("y\\A.TXT", 200, 50, 100, day1));
  main.Add(entry("b\\c.txt", 300, 0, 0, 0));  // empty, date that does not convert

  // Equal file names come in reverse physical order.
  EXPECT_EQ(sortedView(main, ByFileName),
            (std::vector<std::string>{"y\\A.TXT", "a.txt", "x\\a.txt", "b\\c.txt"}));
  EXPECT_EQ(sortedView(main, ByName),
            (std::vector<std::string>{"a.txt", "b\\c.txt", "x\\a.txt", "y\\A.TXT"}));
  // Newest first; equal dates keep physical order; an impossible date is the oldest.
  EXPECT_EQ(sortedView(main, ByDate),
            (std::vector<std::string>{"a.txt", "x\\a.txt", "y\\A.TXT", "b\\c.txt"}));
  EXPECT_EQ(sortedView(main, ByCompressedSize),
            (std::vector<std::string>{"y\\A.TXT", "x\\a.txt", "a.txt", "b\\c.txt"}));
  // Highest rate first; the empty entry has rate 0 and comes last.
  EXPECT_EQ(sortedView(main, ByRate),
            (std::vector<std::string>{"y\\A.TXT", "a.txt", "x\\a.txt", "b\\c.txt"}));
  EXPECT_EQ(namesOf(main), (std::vector<std::string>{"x\\a.txt", "a.txt", "y\\A.TXT", "b\\c.txt"}));
}

TEST(SortedZip, BulkViewsEqualOneByOneInsertion) {
  std::mt19937 gen(7);
  TSortedZip main(true, dupError);
  for (uint32_t i = 0; i < 300; ++i) {
    std::string name = std::string(1, char('a' + gen() % 3)) + "\\" + char('A' + gen() % 4);
    main.Add(entry(name, i * 50, gen() % 5, gen() % 4,
                   DateTimeToDosDateTime({2020, 1, int(1 + gen() % 3), 0, 0, 0})));
  }
  for (TZipSortMode mode : {ByName, ByFileName, ByDirectoryName, ByDate, ByCompressedSize,
                            ByUnCompressedSize, ByRate, ByNone}) {
    TSortedZip oneByOne(false, dupAccept, mode);
    for (int i = 0; i < main.Count(); ++i) oneByOne.Add(main.Items(i));
    TSortedZip bulk(false, dupAccept, mode);
    bulk.AssignFrom(main);
    ASSERT_EQ(bulk.Count(), oneByOne.Count());
    for (int i = 0; i < bulk.Count(); ++i)
      ASSERT_EQ(bulk.Items(i), oneByOne.Items(i)) << "mode " << mode << " at " << i;
  }
}

TEST(SortedZip, RefusesDuplicatesAndBadIndices) {
  TSortedZip main(true, dupError);
  main.Add(entry("a", 10));
  try {
    main.Add(entry("b", 10));
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
  try {
    main.Items(1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  // Offsets past 2 GiB still sort after smaller ones.
  main.Add(entry("high", 0x90000000u));
  main.Add(entry("mid", 0x10000000u));
  EXPECT_EQ(namesOf(main), (std::vector<std::string>{"a", "mid", "high"}));
}

TEST(SortedZip, HoldsMoreEntriesThanClassicArchivesAndHandsThemOverInOrder) {
  TSortedZip main(true, dupError);
  for (uint32_t i = 0; i < 70000; ++i) main.Add(entry("e" + std::to_string(i), i * 40));
  // Offsets past 4 GiB, as Zip64 archives have them, sort after the rest.
  auto far = entry("far", 0);
  far->RelativeOffset = 0x100000000ull;
  main.Add(std::move(far));
  main.Add(entry("near", 70000 * 40));
  ASSERT_EQ(main.Count(), 70002);
  EXPECT_EQ(main[70000].FullName(), "near");
  EXPECT_EQ(main[70001].FullName(), "far");
  auto all = main.TakeAll();
  ASSERT_EQ(all.size(), 70002u);
  EXPECT_EQ(all[12345]->FullName(), "e12345");
  EXPECT_EQ(all[70001]->FullName(), "far");
  EXPECT_EQ(main.Count(), 0);
}

TEST(ZipHeaderInfo, NamesSplitAndCountStoredBytes) {
  TZipHeaderInfo e;
  e.SetDirectory("docs");
  EXPECT_EQ(e.Directory(), "docs\\");
  e.SetFilename("readme.txt");  // ASCII: no flag
  EXPECT_EQ(e.FilenameLength, 15);
  EXPECT_EQ(e.StoredName(), "docs/readme.txt");
  EXPECT_FALSE(e.BitFlag & 0x0800);
  e.SetFilename("\xe6\x97\xa5.txt");  // beyond ASCII: UTF-8 with flag bit 11
  EXPECT_EQ(e.StoredName(), "docs/\xe6\x97\xa5.txt");
  EXPECT_TRUE(e.BitFlag & 0x0800);
  EXPECT_EQ(e.FilenameLength, 12);
  e.SetEntryComment("caf\xc3\xa9");  // the comment follows the same flag
  EXPECT_EQ(e.StoredComment(), "caf\xc3\xa9");

  TZipHeaderInfo d;
  d.SetFullName("c:name");
  EXPECT_EQ(d.Directory(), "c:\\");
  EXPECT_EQ(d.Filename(), "name");
  d.SetFullName("notes 12:30.txt");  // a colon inside a Linux name is not a drive
  EXPECT_EQ(d.Directory(), "");
  EXPECT_EQ(d.Filename(), "notes 12:30.txt");
}

TEST(SortedZip, ExactNamesTellCaseTwinsApart) {
  TSortedZip names(false, dupAccept, ByName, true);
  auto upper = entry("docs\\X.txt", 0), lower = entry("docs\\x.txt", 10);
  names.Add(upper.get());
  int index;
  EXPECT_FALSE(names.Find(*lower, index));
  names.Add(lower.get());
  EXPECT_EQ(namesOf(names), (std::vector<std::string>{"docs\\X.txt", "docs\\x.txt"}));
  auto again = entry("docs\\x.txt", 20);
  EXPECT_TRUE(names.Find(*again, index));
  EXPECT_EQ(index, 1);
  // The listing's own order still ignores case.
  EXPECT_EQ(CompareEntries(ByName, *upper, *lower), 0);
}
