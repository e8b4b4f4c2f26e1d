#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "engine/ZipCrypt.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

namespace quelt {
namespace {

TEST(ZipCrypt, ExpectsTheCheckByteFromTimeOrCrc) {
  const struct {
    uint16_t flags;
    uint32_t crc, dosDateTime;
    uint8_t expected;
  } cases[] = {
      {0x0000, 0xA1B2C3D4, 0x5A2C6E37, 0xA1},
      {0x0001, 0xA1B2C3D4, 0x5A2C6E37, 0xA1},
      {0x0008, 0xA1B2C3D4, 0x5A2C6E37, 0x6E},  // sizes follow the data: the time's high byte
      {0x0009, 0x00000000, 0x00001200, 0x12},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExpectedCheckByte(c.flags, c.crc, c.dosDateTime), c.expected) << c.flags;
}

TEST(ZipCrypt, EmptyPasswordLeavesTheInitialKeys) {
  TZipCrypt crypt;
  crypt.Key0 = crypt.Key1 = crypt.Key2 = 7;
  crypt.InitKeys("");
  EXPECT_EQ(crypt.Key0, 0x12345678u);
  EXPECT_EQ(crypt.Key1, 0x23456789u);
  EXPECT_EQ(crypt.Key2, 0x34567890u);
  crypt.InitKeys("x");
  EXPECT_NE(crypt.Key0, 0x12345678u);
}

TEST(ZipCrypt, HeaderAndDataRoundTripAndWrongPasswordsFailTheCheck) {
  auto plain = test::randomBytes(5000, 9);
  const uint32_t crc = Crc32Of(plain.data(), plain.size());
  for (std::string password : {"", "secret", "p\xE4ss w\xF6rd"}) {
    TZipCrypt writer;
    TEncryptionHeader header = writer.MakeEncryptionHeader(password, crc);
    std::vector<uint8_t> sealed(plain.size());
    writer.EncryptBuffer(plain.data(), sealed.data(), sealed.size());
    EXPECT_NE(sealed, plain);

    TZipCrypt reader;
    TEncryptionHeader copy = header;
    ASSERT_EQ(reader.DecryptHeader(password, copy.data()), uint8_t(crc >> 24));
    EXPECT_EQ(copy, header) << "the caller's header bytes stay as read";
    reader.DecryptBuffer(sealed.data(), sealed.size());
    EXPECT_EQ(sealed, plain);

    // The plain header ends with the CRC's bits 16-23 and 24-31.
    TZipCrypt probe;
    probe.InitKeys(password);
    probe.DecryptBuffer(copy.data(), copy.size());
    EXPECT_EQ(copy[10], uint8_t(crc >> 16));
    EXPECT_EQ(copy[11], uint8_t(crc >> 24));
  }
  // About one wrong password in 256 passes the check byte; among these ten none does.
  TZipCrypt writer, reader;
  TEncryptionHeader header =
      writer.MakeEncryptionHeader("right", crc, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  int passed = 0;
  for (int i = 0; i < 10; ++i)
    passed +=
        reader.DecryptHeader("wrong" + std::to_string(i), header.data()) == uint8_t(crc >> 24);
  EXPECT_EQ(passed, 0);
}

TEST(ZipCrypt, HeadersTakeFreshRandomBytes) {
  TZipCrypt a, b;
  EXPECT_NE(a.MakeEncryptionHeader("pw", 0), b.MakeEncryptionHeader("pw", 0));
  // Given bytes make the header reproducible.
  const std::array<uint8_t, 10> r{9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  EXPECT_EQ(a.MakeEncryptionHeader("pw", 0xDEADBEEF, r),
            b.MakeEncryptionHeader("pw", 0xDEADBEEF, r));
}

TEST(ZipCrypt, EncryptByteAndDecryptBufferAreInverse) {
  TZipCrypt enc, dec;
  enc.InitKeys("k");
  dec.InitKeys("k");
  std::vector<uint8_t> data = test::textBytes(3000, 1), sealed;
  for (uint8_t p : data) sealed.push_back(enc.EncryptByte(p));
  // Decrypting in uneven pieces keeps the key state running across them.
  for (size_t at = 0, piece = 1; at < sealed.size(); at += piece, piece = piece * 3 % 997 + 1)
    dec.DecryptBuffer(sealed.data() + at, std::min(piece, sealed.size() - at));
  EXPECT_EQ(sealed, data);
}

// Entry facts as Python's zipfile reads them from an archive another tool wrote.
struct EntryFacts {
  unsigned flags = 0, crc = 0, dosTime = 0;
  size_t dataOffset = 0, compressedSize = 0;
};

EntryFacts factsOf(const std::string& zipPath) {
  const char* script =
      "import sys,zipfile,struct\n"
      "z=zipfile.ZipFile(sys.argv[1]); i=z.infolist()[0]; f=open(sys.argv[1],'rb')\n"
      "f.seek(i.header_offset); h=f.read(30); n,e=struct.unpack('<HH',h[26:30])\n"
      "t=struct.unpack('<H',h[10:12])[0]\n"
      "print(i.flag_bits, i.CRC, t, i.header_offset+30+n+e, i.compress_size)\n";
  test::TempDir dir;
  test::writeFile(dir / "facts.py", std::string(script));
  auto r = test::run("python3 " + test::shq(dir / "facts.py") + " " + test::shq(zipPath));
  EXPECT_EQ(r.status, 0) << r.err;
  EntryFacts f;
  std::istringstream(r.out) >> f.flags >> f.crc >> f.dosTime >> f.dataOffset >> f.compressedSize;
  return f;
}

TEST(ZipCrypt, DecryptsWhatZipEncrypted) {
  if (!test::haveTool("zip")) GTEST_SKIP() << "zip not installed";
  test::TempDir dir;
  auto plain = test::textBytes(20000, 4);
  test::writeFile(dir / "doc.txt", plain);
  auto r = test::run("zip -q -0 -P 'open sesame' a.zip doc.txt", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EntryFacts f = factsOf(dir / "a.zip");
  ASSERT_TRUE(f.flags & kFlagEncrypted);
  ASSERT_EQ(f.compressedSize, plain.size() + kEncryptionHeaderSize);
  auto zip = test::readFile(dir / "a.zip");
  std::vector<uint8_t> data(zip.begin() + f.dataOffset,
                            zip.begin() + f.dataOffset + f.compressedSize);

  TZipCrypt crypt;
  uint8_t expected = ExpectedCheckByte(uint16_t(f.flags), f.crc, f.dosTime);
  ASSERT_EQ(crypt.DecryptHeader("open sesame", data.data()), expected);
  crypt.DecryptBuffer(data.data() + kEncryptionHeaderSize, plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), data.begin() + kEncryptionHeaderSize));
}

TEST(ZipCrypt, UnzipReadsWhatWeEncrypted) {
  if (!test::haveTool("unzip")) GTEST_SKIP() << "unzip not installed";
  test::TempDir dir;
  auto plain = test::textBytes(30000, 8);
  const uint32_t crc = Crc32Of(plain.data(), plain.size());
  TZipCrypt crypt;
  TEncryptionHeader header = crypt.MakeEncryptionHeader("s3cret", crc);
  std::vector<uint8_t> data(header.begin(), header.end());
  data.resize(header.size() + plain.size());
  crypt.EncryptBuffer(plain.data(), data.data() + header.size(), plain.size());

  test::ZipSpec spec;
  test::ZipEntrySpec e;
  e.name = "doc.txt";
  e.data = data;
  e.flags = kFlagEncrypted;
  e.crc = crc;
  e.uncompressedSize = uint32_t(plain.size());
  spec.entries.push_back(e);
  test::writeFile(dir / "ours.zip", test::buildZip(spec));
  auto r = test::run("unzip -p -P s3cret ours.zip doc.txt", dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(plain.begin(), plain.end()));
  r = test::run("unzip -p -P wrong ours.zip doc.txt", dir.path());
  EXPECT_NE(r.status, 0);
}

}  // namespace
}  // namespace quelt
