// Level 0 stores, and at every other level data Deflate cannot shrink is stored instead, so no
// entry takes more room than its file; the rewritten entry still reads back byte for byte.
#include <gtest/gtest.h>

#include "engine/ZipEngine.h"
#include "engine/ZipFormat.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

TEST(StoreFallback, EntriesNeverGrow) {
  const std::vector<uint8_t> random = randomBytes(200000, 21), text = textBytes(200000, 21);
  const struct {
    int level;
    const char* password;
    bool randomData;
    uint16_t method;
  } cases[] = {
      {0, "", false, kMethodStored},   {0, "pw", false, kMethodStored},
      {1, "", true, kMethodStored},    {6, "", true, kMethodStored},
      {9, "", true, kMethodStored},    {6, "pw", true, kMethodStored},
      {1, "", false, kMethodDeflated}, {9, "pw", false, kMethodDeflated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level << " password '" << c.password << "' "
                                    << (c.randomData ? "random" : "text"));
    TempDir dir;
    const std::vector<uint8_t>& data = c.randomData ? random : text;
    writeFile(dir / "f.bin", data);
    writeFile(dir / "tail.txt", std::string("after the rewritten entry\n"));
    TZipEngine engine;
    engine.TempPath = dir.path();
    engine.PackLevel = c.level;
    engine.Password = c.password;
    engine.SetZipName(dir / "a.zip");
    engine.FilesList = {dir / "f.bin", dir / "tail.txt"};
    ASSERT_EQ(engine.CompressFiles(), 2);

    TUnZipEngine reader;
    reader.SetZipName(dir / "a.zip");
    reader.LoadCatalogue();
    ASSERT_EQ(reader.Count(), 2);
    const TZipHeaderInfo& e = reader.Entry(0);
    EXPECT_EQ(e.CompressionMethod, c.method);
    const uint32_t header = *c.password ? 12 : 0;
    if (c.method == kMethodStored) {
      EXPECT_EQ(e.CompressedSize, data.size() + header);
      EXPECT_EQ(e.BitFlag & 6, 0) << "no Deflate level flags on a stored entry";
    } else {
      EXPECT_LT(e.CompressedSize, data.size() / 2);
    }
    reader.Password = c.password;
    reader.SetDestDir(dir / "out");
    reader.DoAll = true;
    EXPECT_EQ(reader.ExtractEntries(), 2);
    EXPECT_EQ(readFile(dir / "out/f.bin"), data);
    EXPECT_EQ(readText(dir / "out/tail.txt"), "after the rewritten entry\n");
  }
}
