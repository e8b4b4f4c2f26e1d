// The Zip64 forms of the records: written only for values the classic fields cannot hold,
// and read back whole.
#include <gtest/gtest.h>

#include "engine/BufferStream.h"
#include "engine/ZipFormat.h"
#include "engine/ZipObj.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

std::string written(const std::function<void(TStream&)>& write) {
  TempDir dir;
  {
    TLFNFileStream out(dir / "h", TOpenMode::Create);
    write(out);
  }
  return readText(dir / "h");
}

TEST(Zip64Records, CentralHeaderCarriesOnlyTheValuesThatDoNotFit) {
  struct Case {
    uint64_t usize, csize, offset;
    size_t zip64Bytes;  // of the extra field's Zip64 block with its id and size, 0 for none
  } cases[] = {
      {100, 50, 1000, 0},
      {0xFFFFFFFEull, 0xFFFFFFFEull, 0xFFFFFFFEull, 0},  // the largest classic values
      {5ull << 30, 1000, 10, 12},
      {5ull << 30, 6ull << 30, 10, 20},
      {10, 10, 0x100000000ull, 12},
      {5ull << 30, 5ull << 30, 7ull << 30, 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.usize) + " " + std::to_string(c.offset));
    TZipHeaderInfo e;
    e.SetStoredPath("a.bin");
    e.SetModTime(1700000000);
    e.UncompressedSize = c.usize;
    e.CompressedSize = c.csize;
    e.RelativeOffset = c.offset;
    const std::string bytes = written([&](TStream& s) { e.WriteCentralHeader(s); });
    auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t extra = load16(h + central::kExtraLength);
    EXPECT_EQ(extra, 9 + c.zip64Bytes);
    EXPECT_EQ(load16(h + central::kVersionNeeded), c.zip64Bytes ? 45 : 20);
    EXPECT_EQ(load32(h + central::kUncompressedSize), c.usize >= 0xFFFFFFFF ? 0xFFFFFFFF : c.usize);
    EXPECT_EQ(load32(h + central::kRelativeOffset), c.offset >= 0xFFFFFFFF ? 0xFFFFFFFF : c.offset);

    TempDir dir;
    writeFile(dir / "h", bytes);
    TLFNFileStream in(dir / "h", TOpenMode::Read);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadCentralHeader(in));
    EXPECT_EQ(back.UncompressedSize, c.usize);
    EXPECT_EQ(back.CompressedSize, c.csize);
    EXPECT_EQ(back.RelativeOffset, c.offset);
    EXPECT_EQ(back.ModTimeUtc, 1700000000);
    // Written again, it is the same bytes: the Zip64 block is not kept twice.
    EXPECT_EQ(written([&](TStream& s) { back.WriteCentralHeader(s); }), bytes);
  }
}

TEST(Zip64Records, AShortZip64BlockLeavesTheMarkers) {
  TZipHeaderInfo e;
  e.SetStoredPath("a");
  e.UncompressedSize = e.CompressedSize = 5ull << 30;
  std::string bytes = written([&](TStream& s) { e.WriteCentralHeader(s); });
  // Claim only 8 bytes of the 16 the two markers need: the second value stays unknown.
  bytes[46 + 1 + 2] = 8;
  TempDir dir;
  writeFile(dir / "h", bytes);
  TLFNFileStream in(dir / "h", TOpenMode::Read);
  TZipHeaderInfo back;
  ASSERT_TRUE(back.ReadCentralHeader(in));
  EXPECT_EQ(back.UncompressedSize, 5ull << 30);
  EXPECT_EQ(back.CompressedSize, 0xFFFFFFFFu);
}

TEST(Zip64Records, EndRecordGainsZip64RecordsOnlyWhenNeeded) {
  struct Case {
    uint64_t entries, offset;
    bool zip64;
  } cases[] = {
      {65534, 1000, false}, {65535, 1000, true}, {70000, 1000, true}, {3, 0xFFFFFFFFull, true}};
  for (const Case& c : cases) {
    TEndCentral end;
    end.TotalEntries = end.EntriesThisDisk = c.entries;
    end.CentralDirOffset = c.offset;
    end.CentralDirSize = 46;
    const std::string bytes = written([&](TStream& s) { end.WriteEndRecord(s, 777); });
    ASSERT_EQ(bytes.size(), c.zip64 ? 98u : 22u);
    auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!c.zip64) continue;
    EXPECT_EQ(load32(p), kZip64EndRecordSig);
    EXPECT_EQ(load64(p + zip64end::kTotalEntries), c.entries);
    EXPECT_EQ(load64(p + zip64end::kCentralDirOffset), c.offset);
    EXPECT_EQ(load32(p + 56), kZip64LocatorSig);
    EXPECT_EQ(load64(p + 56 + zip64loc::kEndRecordOffset), 777u);
    EXPECT_EQ(load16(p + 76 + endrec::kTotalEntries), std::min<uint64_t>(c.entries, 0xFFFF));
  }
}

}  // namespace
