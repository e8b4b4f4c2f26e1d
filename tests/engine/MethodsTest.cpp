// The table of methods: the names listings and messages show, which methods have a reader
// and a writer, and the classic decoders reached through it.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/Crc32.h"
#include "engine/codecs/AesCrypt.h"
#include "engine/codecs/CodecPump.h"
#include "engine/codecs/Methods.h"
#include "support/LegacyArchives.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

TEST(Methods, NamesReadersAndWriters) {
  struct TCase {
    uint16_t method;
    const char* name;
    bool reads, writes;
  };
  const TCase cases[] = {
      {0, "Stored", true, true},
      {1, "Shrunk", true, false},
      {2, "Reduced (factor 1)", true, false},
      {5, "Reduced (factor 4)", true, false},
      {6, "Imploded", true, false},
      {8, "Deflated", true, true},
      {9, "Deflate64", true, false},
      {12, "bzip2", true, false},
      {14, "LZMA", true, false},
      {20, "Zstandard", true, false},
      {93, "Zstandard", true, false},
      {95, "xz", true, false},
      {98, "PPMd", false, false},
      {99, "AES-encrypted", false, true},
      {42, "Method 42", false, false},
      {65535, "Method 65535", false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.method);
    EXPECT_EQ(MethodName(c.method), c.name);
    EXPECT_EQ(MethodDecoder(c.method) != nullptr, c.reads);
    const TMethodInfo* row = FindMethod(c.method);
    EXPECT_EQ(row && row->CanWrite, c.writes);
  }
}

TEST(Methods, MessagesNameWhatCannotBeRead) {
  EXPECT_EQ(CannotReadMessage(kMethodPpmd), "compressed with PPMd, which Quelt cannot read");
  EXPECT_EQ(CannotReadMessage(97), "compressed with WavPack, which Quelt cannot read");
  EXPECT_EQ(CannotReadMessage(42), "compressed with method 42, which Quelt cannot read");
  EXPECT_EQ(CannotReadMessage(kMethodAes), "encrypted with AES in a form Quelt cannot read");
}

TEST(Methods, ListingShowsTheRealMethodOfAesEntries) {
  auto name = [](uint16_t method, const std::vector<uint8_t>& extra) {
    return EntryMethodName(method, extra.data(), extra.size());
  };
  auto field = [](TAesField f) {
    auto b = MakeAesField(f);
    return std::vector<uint8_t>(b.begin(), b.end());
  };
  EXPECT_EQ(name(kMethodAes, field({2, TAesStrength::Aes256, 8})), "Deflated, AES-256");
  EXPECT_EQ(name(kMethodAes, field({1, TAesStrength::Aes128, 12})), "bzip2, AES-128");
  EXPECT_EQ(name(kMethodAes, field({2, TAesStrength::Aes192, 98})), "PPMd, AES-192");
  EXPECT_EQ(name(kMethodAes, {}), "AES-encrypted");
  EXPECT_EQ(name(kMethodDeflated, field({2, TAesStrength::Aes256, 0})), "Deflated");
}

// The legacy archives of the shared test data decode through the table's rows, reduce
// factors among them.
TEST(Methods, ClassicEntriesDecodeThroughTheTable) {
  int decoded = 0;
  for (const auto& archive : test::readLegacyManifest()) {
    auto raw = test::readLocalEntries(test::testdataPath("legacy/" + archive.file));
    ASSERT_EQ(raw.size(), archive.entries.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      SCOPED_TRACE(archive.file + " " + raw[i].name);
      TDecodeFn decode = MethodDecoder(raw[i].method);
      ASSERT_NE(decode, nullptr);
      TMemoryDecodeIO io(raw[i].data.data(), raw[i].data.size());
      io.UncompressedSize = raw[i].uncompressedSize;
      io.CompressedSize = uint32_t(raw[i].data.size());
      io.BitFlag = raw[i].flags;
      EXPECT_EQ(decode(io), kCodecOk);
      EXPECT_EQ(Crc32Of(io.out.data(), io.out.size()), archive.entries[i].crc);
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, 27);
}

}  // namespace
}  // namespace quelt
