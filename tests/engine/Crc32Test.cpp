#include <gtest/gtest.h>

#include <string>

#include "engine/Crc32.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

uint32_t bytewise(uint32_t crc, const uint8_t* p, size_t n) {
  while (n--) crc = CRCByte(crc, *p++);
  return crc;
}

TEST(Crc32, GivesKnownValues) {
  EXPECT_EQ(kCrcTable[0], 0u);
  EXPECT_EQ(kCrcTable[1], 0x77073096u);
  EXPECT_EQ(kCrcTable[128], 0xEDB88320u);
  EXPECT_EQ(kCrcTable[255], 0x2D02EF8Du);
  const struct {
    std::string text;
    uint32_t crc;
  } cases[] = {
      {"", 0},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
      {std::string(32, '\0'), 0x190A55AD},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Crc32Of(c.text.data(), c.text.size()), c.crc) << '"' << c.text << '"';
    EXPECT_EQ(~bytewise(kCrcInit, reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()),
              c.crc);
  }
}

TEST(Crc32, SlicedStepsAgreeWithByteStepsAtEveryAlignmentAndLength) {
  auto data = test::randomBytes(4096 + 64, 11);
  for (size_t align = 0; align < 16; ++align) {
    for (size_t len = 0; len < 200; ++len) {
      const uint8_t* p = data.data() + align;
      ASSERT_EQ(UpdateCRC(0x1234567u * uint32_t(len), p, len),
                bytewise(0x1234567u * uint32_t(len), p, len))
          << "align " << align << " len " << len;
    }
    const uint8_t* p = data.data() + align;
    ASSERT_EQ(UpdateCRC(kCrcInit, p, 4096), bytewise(kCrcInit, p, 4096));
  }
}

TEST(Crc32, RunsOverPiecesAsOverTheWhole) {
  auto data = test::textBytes(100000, 3);
  uint32_t whole = Crc32Of(data.data(), data.size());
  for (size_t piece : {1, 7, 15, 16, 17, 4093, 16000}) {
    uint32_t crc = kCrcInit;
    for (size_t at = 0; at < data.size(); at += piece)
      crc = UpdateCRC(crc, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(~crc, whole) << "pieces of " << piece;
  }
}

TEST(Crc32, AgreesWithPython) {
  test::TempDir dir;
  auto data = test::randomBytes(1 << 20, 5);
  test::writeFile(dir / "data", data);
  auto r = test::run(
      "python3 -c \"import sys,zlib; print(zlib.crc32(open(sys.argv[1],'rb').read()))\" " +
      test::shq(dir / "data"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::stoul(r.out), Crc32Of(data.data(), data.size()));
}

}  // namespace
}  // namespace quelt
