// Extraction and test reach every decoder through the table of methods: entries of the newer
// methods, as the real tools write them, come out byte for byte beside one we cannot read.
#include <gtest/gtest.h>

#include "engine/UnZipEngine.h"
#include "engine/codecs/Methods.h"
#include "support/TestUtil.h"
#include "support/ToolStreams.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {

std::vector<uint8_t> sample() {
  std::string s;
  for (int i = 0; i < 3000; ++i)
    s += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
  return {s.begin(), s.end()};
}

ZipEntrySpec entryOf(const std::string& name, uint16_t method, std::vector<uint8_t> packed,
                     const std::vector<uint8_t>& plain) {
  ZipEntrySpec e;
  e.name = name;
  e.method = method;
  e.data = std::move(packed);
  e.crc = crc32Of(plain);
  e.uncompressedSize = uint32_t(plain.size());
  return e;
}

TEST(ExtractMethods, NewerMethodsExtractAndAnUnreadableOneIsNamed) {
  if (!haveTool("7z") || !haveTool("xz") || !haveTool("zstd"))
    GTEST_SKIP() << "7z, xz or zstd missing";
  const auto plain = sample();
  ZipSpec spec;
  // 7z writes the zip forms of bzip2, LZMA (with its own small header) and PPMd.
  for (const char* m : {"BZip2", "LZMA", "PPMd"}) {
    auto made = sevenZipEntries(std::string("-mm=") + m, {{std::string(m) + ".txt", plain}});
    ASSERT_EQ(made.size(), 1u);
    spec.entries.push_back(entryOf(made[0].name, made[0].method, made[0].data, plain));
  }
  spec.entries.push_back(
      entryOf("xz.txt", kMethodXz, filterThrough("xz -c in > out", plain), plain));
  spec.entries.push_back(
      entryOf("zstd.txt", kMethodZstd, filterThrough("zstd -q in -o out", plain), plain));
  ASSERT_EQ(spec.entries[0].method, kMethodBzip2);
  ASSERT_EQ(spec.entries[1].method, kMethodLzma);
  ASSERT_EQ(spec.entries[2].method, kMethodPpmd);

  TempDir dir;
  writeFile(dir / "m.zip", buildZip(spec));
  for (bool testOnly : {false, true}) {
    SCOPED_TRACE(testOnly ? "test" : "extract");
    TUnZipEngine engine;
    engine.SetZipName(dir / "m.zip");
    engine.SetDestDir(dir / (testOnly ? "t" : "x"));
    engine.TestOnly = testOnly;
    engine.DoAll = true;
    std::vector<std::string> skipped, messages;
    engine.OnSkippingFile = [&](TUnZipEngine& e, TSkipReason r, int i) {
      skipped.push_back(std::to_string(int(r)) + " " + e.Filename(i) + ": " + e.LastError());
    };
    engine.Host.ShowMessage = [&](const std::string& text, const std::string&, TMsgButtons) {
      messages.push_back(text);
      return TMsgResult::OK;
    };
    EXPECT_EQ(engine.ExtractEntries(), 4);
    EXPECT_EQ(skipped, std::vector<std::string>{
                           "3 PPMd.txt: compressed with PPMd, which Quelt cannot read"});
    EXPECT_EQ(messages, std::vector<std::string>{"Unknown Compression Method: PPMd"});
    if (testOnly) continue;
    for (const char* name : {"BZip2.txt", "LZMA.txt", "xz.txt", "zstd.txt"})
      EXPECT_EQ(readFile(dir / (std::string("x/") + name)), plain) << name;
    EXPECT_FALSE(fileExists(dir / "x/PPMd.txt"));
  }
}

TEST(ExtractMethods, DamagedStreamsOfTheNewerMethodsFailOnlyTheirEntry) {
  if (!haveTool("xz") || !haveTool("zstd") || !haveTool("bzip2")) GTEST_SKIP();
  const auto plain = sample();
  struct Case {
    const char* name;
    uint16_t method;
    const char* command;
  } cases[] = {{"a.xz", kMethodXz, "xz -c in > out"},
               {"a.zst", kMethodZstd, "zstd -q in -o out"},
               {"a.bz2", kMethodBzip2, "bzip2 -c in > out"}};
  ZipSpec spec;
  for (const Case& c : cases) {
    auto packed = filterThrough(c.command, plain);
    packed[packed.size() / 2] ^= 0x55;
    spec.entries.push_back(entryOf(c.name, c.method, packed, plain));
  }
  spec.entries.push_back(stored("good.txt", "good"));
  TempDir dir;
  writeFile(dir / "d.zip", buildZip(spec));
  TUnZipEngine engine;
  engine.SetZipName(dir / "d.zip");
  engine.SetDestDir(dir / "x");
  engine.DoAll = true;
  int failed = 0;
  engine.OnBadCRC = [&](TUnZipEngine&, uint32_t, uint32_t, int) { ++failed; };
  EXPECT_EQ(engine.ExtractEntries(), 1);
  EXPECT_EQ(failed, 3);
  EXPECT_EQ(run("ls -A " + shq(dir / "x")).out, "good.txt\n");
}

}  // namespace
