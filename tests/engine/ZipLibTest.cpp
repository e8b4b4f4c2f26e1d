#include <gtest/gtest.h>

#include "engine/DateTime.h"
#include "engine/ZipLib.h"

using namespace quelt;

TEST(Percentages, RoundHalfToEvenAndCap) {
  EXPECT_EQ(PercentOf(0, 5), 0);
  EXPECT_EQ(PercentOf(200, 1), 0);  // 0.5 rounds to 0
  EXPECT_EQ(PercentOf(200, 3), 2);  // 1.5 rounds to 2
  EXPECT_EQ(PercentOf(10, 50), 100);
  EXPECT_EQ(TotalPercentOf(5, 0), 0);
  EXPECT_EQ(TotalPercentOf(3, 2), 100);  // bytes counted twice after a retry
  // Totals past 4 GiB keep their precision.
  EXPECT_EQ(TotalPercentOf(int64_t(3) << 32, int64_t(6) << 32), 50);
}

TEST(DosDateTime, RepairClampsOnlyWhatIsOutOfRange) {
  uint32_t valid = DateTimeToDosDateTime({2024, 2, 29, 23, 59, 58});
  EXPECT_EQ(RepairDosDateTime(valid), valid);
  // Month 0 and day 0 become 1 and 1, the time stays.
  uint32_t zeroDate = 0x00006000;
  uint32_t repaired = RepairDosDateTime(zeroDate);
  EXPECT_EQ(repaired & 0xFFFF, zeroDate & 0xFFFF);
  EXPECT_EQ((repaired >> 16) & 0x1F, 1u);
  EXPECT_EQ((repaired >> 21) & 0x0F, 1u);
  // Hour 31 is clamped to 24, which still does not convert.
  uint32_t hour31 = (valid & 0xFFFF07FF) | (31u << 11);
  EXPECT_FALSE(DosDateTimeToDateTime(RepairDosDateTime(hour31)));
}

TEST(DosDateTime, ConversionRejectsImpossibleValues) {
  EXPECT_FALSE(DosDateTimeToDateTime(0));                               // month 0, day 0
  EXPECT_FALSE(DosDateTimeToDateTime(DateTimeToDosDateTime({2023, 4, 31, 0, 0, 0})));
  EXPECT_FALSE(DosDateTimeToDateTime(DateTimeToDosDateTime({2023, 2, 29, 0, 0, 0})));
  auto t = DosDateTimeToDateTime(DateTimeToDosDateTime({2024, 2, 29, 13, 7, 30}));
  ASSERT_TRUE(t);
  EXPECT_EQ(*t, (TDateTime{2024, 2, 29, 13, 7, 30}));
}

TEST(ZipLibText, WildcardsAndSlices) {
  EXPECT_TRUE(HasWildcards("a[1].txt"));
  EXPECT_TRUE(HasWildcards("*.zip"));
  EXPECT_FALSE(HasWildcards("plain.txt"));
  EXPECT_EQ(LeftStr("abc", 5), "abc");
  EXPECT_EQ(RightStr("abcdef", 3), "def");
  std::string p = "a\\b\\c";
  ToForwardSlashes(p);
  EXPECT_EQ(p, "a/b/c");
}
