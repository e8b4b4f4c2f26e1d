// Other ZIP tools must accept the encoder's streams: entries at every level are wrapped in a
// minimal archive and tested and extracted by unzip, 7z and Python's zipfile.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/DeflateEnc.h"
#include "engine/ZipFormat.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

struct TEntry {
  std::string name;
  Bytes data;
  int level;
};

// Local headers, data, central directory and end record; no extra fields, no comments.
Bytes buildZip(const std::vector<TEntry>& entries, std::vector<TDeflateResult>& results) {
  auto enc = std::make_unique<TDeflateEncoder>();
  Bytes zip, central;
  const uint16_t date = uint16_t(((2024 - 1980) << 9) | (3 << 5) | 14),
                 time = uint16_t((12 << 11) | (30 << 5));
  for (const auto& e : entries) {
    TMemoryEncodeIO io(e.data.data(), e.data.size());
    TDeflateResult r = enc->Deflate(io, e.level);
    results.push_back(r);
    uint32_t crc = uint32_t(crc32(0, e.data.data(), uInt(e.data.size())));
    uint32_t offset = uint32_t(zip.size());

    uint8_t lh[kLocalHeaderSize] = {};
    store32(lh + local::kSignature, kLocalHeaderSig);
    store16(lh + local::kVersionNeeded, 20);
    store16(lh + local::kFlags, r.Flags);
    store16(lh + local::kMethod, r.Method);
    store16(lh + local::kTime, time);
    store16(lh + local::kDate, date);
    store32(lh + local::kCrc, crc);
    store32(lh + local::kCompressedSize, uint32_t(r.CompressedSize));
    store32(lh + local::kUncompressedSize, uint32_t(e.data.size()));
    store16(lh + local::kNameLength, uint16_t(e.name.size()));
    zip.insert(zip.end(), lh, lh + sizeof lh);
    zip.insert(zip.end(), e.name.begin(), e.name.end());
    zip.insert(zip.end(), io.out.begin(), io.out.end());

    uint8_t ch[kCentralHeaderSize] = {};
    store32(ch + central::kSignature, kCentralHeaderSig);
    store16(ch + central::kVersionMadeBy, 20);
    store16(ch + central::kVersionNeeded, 20);
    store16(ch + central::kFlags, r.Flags);
    store16(ch + central::kMethod, r.Method);
    store16(ch + central::kTime, time);
    store16(ch + central::kDate, date);
    store32(ch + central::kCrc, crc);
    store32(ch + central::kCompressedSize, uint32_t(r.CompressedSize));
    store32(ch + central::kUncompressedSize, uint32_t(e.data.size()));
    store16(ch + central::kNameLength, uint16_t(e.name.size()));
    store16(ch + central::kInternalAttributes, r.InternalAttributes);
    store32(ch + central::kRelativeOffset, offset);
    central.insert(central.end(), ch, ch + sizeof ch);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  uint32_t centralOffset = uint32_t(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  uint8_t end[kEndRecordSize] = {};
  store32(end + endrec::kSignature, kEndRecordSig);
  store16(end + endrec::kEntriesThisDisk, uint16_t(entries.size()));
  store16(end + endrec::kTotalEntries, uint16_t(entries.size()));
  store32(end + endrec::kCentralDirSize, uint32_t(central.size()));
  store32(end + endrec::kCentralDirOffset, centralOffset);
  zip.insert(zip.end(), end, end + sizeof end);
  return zip;
}

class DeflateInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    const Bytes text = test::textBytes(150000, 71);
    const Bytes binary = test::readFile("/usr/bin/env");
    entries = {
        {"empty.txt", {}, 6},
        {"ten.bin", Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, 6},
        {"noise.bin", test::randomBytes(100000, 72), 5},
        {"binary.bin", binary, 6},
    };
    for (int level = 1; level <= 9; ++level) {
      Bytes t = text;
      t.insert(t.end(), binary.begin(), binary.end());
      entries.push_back({"level" + std::to_string(level) + ".dat", t, level});
    }
    std::vector<TDeflateResult> results;
    test::writeFile(dir / "a.zip", buildZip(entries, results));
    ASSERT_EQ(results[0].Method, 0);  // the archive holds stored entries too
    ASSERT_EQ(results[1].Method, 0);
    ASSERT_EQ(results[4].Method, 8);
  }

  void expectExtracted(const std::string& folder) {
    for (const auto& e : entries) {
      ASSERT_TRUE(test::fileExists(folder + "/" + e.name)) << e.name;
      EXPECT_EQ(test::readFile(folder + "/" + e.name), e.data) << e.name;
    }
  }

  test::TempDir dir;
  std::vector<TEntry> entries;
};

TEST_F(DeflateInterop, UnzipTestsAndExtracts) {
  if (!test::haveTool("unzip")) GTEST_SKIP() << "unzip not installed";
  test::RunResult t = test::run("unzip -t a.zip", dir.path());
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  EXPECT_NE(t.out.find("No errors detected"), std::string::npos) << t.out;
  test::RunResult x = test::run("unzip -q -o a.zip -d out", dir.path());
  ASSERT_EQ(x.status, 0) << x.out << x.err;
  expectExtracted(dir / "out");
}

TEST_F(DeflateInterop, SevenZipTestsAndExtracts) {
  if (!test::haveTool("7z")) GTEST_SKIP() << "7z not installed";
  test::RunResult t = test::run("7z t a.zip", dir.path());
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  EXPECT_NE(t.out.find("Everything is Ok"), std::string::npos) << t.out;
  test::RunResult x = test::run("7z x -y -oout7 a.zip", dir.path());
  ASSERT_EQ(x.status, 0) << x.out << x.err;
  expectExtracted(dir / "out7");
}

TEST_F(DeflateInterop, PythonZipfileReadsEveryEntry) {
  if (!test::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
  test::RunResult r = test::run(
      "python3 -c 'import zipfile,sys; z=zipfile.ZipFile(\"a.zip\"); bad=z.testzip(); "
      "z.extractall(\"outpy\"); print(\"bad\", bad)'",
      dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("bad None"), std::string::npos) << r.out;
  expectExtracted(dir / "outpy");
}

}  // namespace
}  // namespace quelt
