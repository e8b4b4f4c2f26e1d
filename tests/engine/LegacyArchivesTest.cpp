// Entries written by an independent encoder decode to the bytes its manifest describes.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/Crc32.h"
#include "engine/Explode.h"
#include "engine/LegacyBits.h"
#include "engine/Unreduce.h"
#include "engine/Unshrink.h"
#include "engine/ZipFormat.h"
#include "support/LegacyArchives.h"
#include "support/Sha256.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::TRawEntry;

int decode(const TRawEntry& e, TMemoryDecodeIO& io) {
  // The driver's work area holds whatever the previous entry left.
  std::memset(io.WorkArea(), 0xEE, TDecodeIO::kWorkAreaSize);
  io.UncompressedSize = e.uncompressedSize;
  io.CompressedSize = uint32_t(e.data.size());
  io.BitFlag = e.flags;
  if (e.method == kMethodShrunk) return Unshrink(io);
  if (e.method >= kMethodReduced1 && e.method <= kMethodReduced4) return Unreduce(io, e.method - 1);
  if (e.method == kMethodImploded) return Explode(io);
  ADD_FAILURE() << e.name << ": method " << e.method << " not expected here";
  return -1;
}

TEST(LegacyArchives, EveryEntryDecodesToTheManifestBytes) {
  auto manifest = test::readLegacyManifest();
  ASSERT_EQ(manifest.size(), 9u);
  int decoded = 0;
  for (const auto& archive : manifest) {
    auto raw = test::readLocalEntries(test::testdataPath("legacy/" + archive.file));
    ASSERT_EQ(raw.size(), archive.entries.size()) << archive.file;
    for (size_t i = 0; i < raw.size(); ++i) {
      const auto& want = archive.entries[i];
      SCOPED_TRACE(archive.file + " " + want.path);
      ASSERT_EQ(raw[i].name, want.path);
      // Full blocks as the driver reads them, and tiny ones that refill inside codes.
      for (size_t block : {size_t(16000), size_t(3)}) {
        TMemoryDecodeIO io(raw[i].data.data(), raw[i].data.size(), SIZE_MAX, block);
        EXPECT_EQ(decode(raw[i], io), kLegacyOk);
        EXPECT_EQ(io.out.size(), want.size);
        EXPECT_EQ(Crc32Of(io.out.data(), io.out.size()), want.crc);
        EXPECT_EQ(test::sha256Hex(io.out), want.sha256);
        EXPECT_EQ(raw[i].crc, want.crc);
      }
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, 27);
}

// A truncated entry stops where its data ends: never more output than declared, and the
// shortfall is reported.
TEST(LegacyArchives, TruncatedEntriesStopWithoutFiller) {
  for (const char* file : {"legacy_shrink.zip", "legacy_reduce1.zip", "legacy_reduce4.zip",
                           "legacy_implode.zip", "legacy_implode4k_nolit.zip"}) {
    auto raw = test::readLocalEntries(test::testdataPath(std::string("legacy/") + file));
    for (auto& e : raw) {
      SCOPED_TRACE(std::string(file) + " " + e.name);
      TMemoryDecodeIO full(e.data.data(), e.data.size());
      ASSERT_EQ(decode(e, full), kLegacyOk);
      for (size_t keep : {size_t(0), size_t(1), e.data.size() / 2, e.data.size() - 1}) {
        TMemoryDecodeIO io(e.data.data(), keep);
        int r = decode(e, io);
        EXPECT_LT(io.out.size(), e.uncompressedSize) << keep;
        // What was produced is a prefix of the real contents.
        EXPECT_TRUE(std::equal(io.out.begin(), io.out.end(), full.out.begin())) << keep;
        if (e.method != kMethodShrunk) {
          EXPECT_EQ(r, kLegacyTruncated) << keep;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quelt
