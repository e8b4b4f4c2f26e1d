#include <gtest/gtest.h>

#include "engine/CodePage.h"

using namespace quelt;

TEST(CodePage, Cp437RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  std::string utf8 = cp437ToUtf8(all);
  EXPECT_TRUE(isValidUtf8(utf8));
  auto back = utf8ToCp437(utf8);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, all);
  EXPECT_EQ(cp437ToUtf8("\x82t\x82"), "\xc3\xa9t\xc3\xa9");  // été
  EXPECT_FALSE(utf8ToCp437("\xe6\x97\xa5"));                 // 日 has no CP437 form
}

TEST(CodePage, StoredNamesAreDecodedByFlagAndHost) {
  const std::string utf8Name = "caf\xc3\xa9.txt", cp437Name = "caf\x82.txt";
  struct Case {
    std::string raw;
    uint16_t flags, madeBy;
    bool known;
    std::string expected;
  } cases[] = {
      {utf8Name, 0x0800, 0x0314, true, utf8Name},   // flag bit 11
      {utf8Name, 0, 0x0314, true, utf8Name},        // Unix, valid UTF-8
      {cp437Name, 0, 0x0314, true, utf8Name},       // Unix, not UTF-8: CP437
      {utf8Name, 0, 0x0014, true, "caf\xe2\x94\x9c\xe2\x8c\x90.txt"},  // DOS host: always CP437
      {cp437Name, 0, 0x0B14, true, utf8Name},       // NTFS
      {utf8Name, 0, 0, false, utf8Name},            // found by the walk
      {cp437Name, 0, 0, false, utf8Name},
  };
  for (const auto& c : cases)
    EXPECT_EQ(decodeStoredText(c.raw, c.flags, c.madeBy, c.known), c.expected) << c.raw;
}

TEST(CodePage, RejectsMalformedUtf8) {
  EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xe6\x97"));          // cut short
  EXPECT_TRUE(isValidUtf8("\xf0\x9f\x98\x80"));
}
