#include <gtest/gtest.h>

#include "engine/BufferStream.h"
#include "engine/Errors.h"
#include "support/TestUtil.h"

using namespace quelt;
using quelt::test::TempDir;

namespace {
// Counts the reads that reach the file.
class CountingStream : public TStream {
 public:
  explicit CountingStream(TStream& s) : s_(s) {}
  size_t Read(void* b, size_t n) override {
    ++reads;
    return s_.Read(b, n);
  }
  size_t Write(const void* b, size_t n) override { return s_.Write(b, n); }
  int64_t Seek(int64_t o, int origin) override { return s_.Seek(o, origin); }
  int reads = 0;

 private:
  TStream& s_;
};
}  // namespace

TEST(BufferStream, ByteReadsRefillOncePerBuffer) {
  TempDir dir;
  test::writeFile(dir / "f", test::randomBytes(20000, 1));
  TFileStream file(dir / "f", TOpenMode::Read);
  CountingStream counting(file);
  TBufferStream s(counting);
  uint8_t b;
  int n = 0;
  while (s.ReadByte(b)) ++n;
  EXPECT_EQ(n, 20000);
  EXPECT_EQ(counting.reads, 4);  // 8192, 8192, 3616 and one that finds the end
}

TEST(BufferStream, SeekFromEndIgnoresTheSign) {
  TempDir dir;
  test::writeFile(dir / "f", test::randomBytes(100, 2));
  TLFNFileStream s(dir / "f", TOpenMode::Read);
  EXPECT_EQ(s.Seek(-22, soFromEnd), 78);
  EXPECT_EQ(s.Seek(22, soFromEnd), 78);
  EXPECT_THROW(s.Seek(0, 7), EZipError);
}

TEST(BufferStream, WritesLandAtTheLogicalPosition) {
  TempDir dir;
  auto original = test::randomBytes(20000, 3);
  test::writeFile(dir / "f", original);
  {
    TLFNFileStream s(dir / "f", TOpenMode::ReadWrite);
    uint8_t head[100];
    ASSERT_TRUE(s.ReadExact(head, sizeof head));  // the buffer now holds 8192 bytes ahead
    s.Write("XYZ", 3);
    EXPECT_EQ(s.Position(), 103);
    s.Seek(0, soFromBeginning);  // pending bytes reach the file before the move
    uint8_t again[103];
    ASSERT_TRUE(s.ReadExact(again, sizeof again));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(again + 100), 3), "XYZ");
    s.Seek(0, soFromEnd);
    s.Write("END", 3);
    s.Close();
  }
  auto after = test::readFile(dir / "f");
  ASSERT_EQ(after.size(), 20003u);
  EXPECT_EQ(std::string(after.begin() + 100, after.begin() + 103), "XYZ");
  EXPECT_TRUE(std::equal(after.begin() + 103, after.begin() + 20000, original.begin() + 103));
  EXPECT_EQ(std::string(after.end() - 3, after.end()), "END");
}

TEST(BufferStream, PutBackNeedsRoomInTheBuffer) {
  TempDir dir;
  test::writeFile(dir / "f", std::string("abc"));
  TLFNFileStream s(dir / "f", TOpenMode::Read);
  EXPECT_THROW(s.PutBack('x'), EStreamError);
  uint8_t b;
  ASSERT_TRUE(s.ReadByte(b));
  s.PutBack('z');
  ASSERT_TRUE(s.ReadByte(b));
  EXPECT_EQ(b, 'z');
}

TEST(BufferStream, AFailedWriteIsNeverSilent) {
  // /dev/full accepts the open and refuses every write.
  TLFNFileStream s("/dev/full", TOpenMode::ReadWrite);
  std::vector<uint8_t> data(100, 7);
  s.Write(data.data(), data.size());  // still buffered
  EXPECT_THROW(s.Close(), EStreamError);
  TLFNFileStream big("/dev/full", TOpenMode::ReadWrite);
  std::vector<uint8_t> more(20000, 7);
  EXPECT_THROW(big.Write(more.data(), more.size()), EStreamError);
}

TEST(BufferStream, OpenErrorsNameTheFile) {
  try {
    TLFNFileStream s("/nonexistent/dir/x.zip", TOpenMode::Read);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/x.zip"), std::string::npos);
  }
}
