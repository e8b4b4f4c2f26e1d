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

// Every multi-byte path (folding in 256-bit and in 128-bit registers, where the processor
// has them, and slicing) agrees with one table step per byte, whatever the alignment, length
// and starting register.
TEST(Crc32, FastPathsAgreeWithByteStepsAtEveryAlignmentAndLength) {
  auto data = test::randomBytes(9000, 11);
  std::vector<size_t> lengths;
  for (size_t len = 0; len < 300; ++len) lengths.push_back(len);
  for (size_t len : {511, 512, 513, 1000, 1023, 1024, 1025, 1151, 4095, 4096, 4097, 8191})
    lengths.push_back(len);
  for (size_t align = 0; align < 16; ++align) {
    for (size_t len : lengths) {
      const uint8_t* p = data.data() + align;
      const uint32_t start = 0x9E3779B9u * uint32_t(len + align);
      const uint32_t want = bytewise(start, p, len);
      ASSERT_EQ(UpdateCRC(start, p, len), want) << "align " << align << " len " << len;
      ASSERT_EQ(crcdetail::updateNarrow(start, p, len), want)
          << "align " << align << " len " << len;
      ASSERT_EQ(crcdetail::updateSliced(start, p, len), want)
          << "align " << align << " len " << len;
    }
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
