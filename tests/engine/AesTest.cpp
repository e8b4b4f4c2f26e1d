// AES-encrypted entries: 7z's entries decrypt through our stage in front of any decoder, a
// wrong password is told apart from changed data, and what our encrypting stage writes is
// read back by our stage and accepted by 7z.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/DeflateEnc.h"
#include "engine/ZipFormat.h"
#include "engine/codecs/AesDecodeIO.h"
#include "engine/codecs/AesEncodeIO.h"
#include "engine/codecs/CodecPump.h"
#include "engine/codecs/Methods.h"
#include "support/TestUtil.h"
#include "support/ToolStreams.h"
#include "support/ZipBuilder.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

struct TDecrypted {
  TAesResult start = TAesResult::Ok, password = TAesResult::Ok, finish = TAesResult::Ok;
  int decode = -1;
  Bytes out;
};

// Runs an entry's stored bytes through the decrypting stage and the real method's decoder.
// `storedSize` defaults to the bytes given; a larger one makes an archive cut short.
TDecrypted decrypt(const Bytes& stored, const TAesField& field, uint64_t size,
                   const std::string& password, size_t block = 16000,
                   std::optional<uint64_t> storedSize = std::nullopt, uint16_t flags = 0) {
  TMemoryDecodeIO source(stored.data(), stored.size(), SIZE_MAX, block);
  source.UncompressedSize = uint32_t(size);
  source.BitFlag = flags;
  source.CompressedSize = uint32_t(stored.size());
  TAesDecodeIO aes(source, field, storedSize.value_or(stored.size()));
  TDecrypted d;
  if ((d.start = aes.Start()) != TAesResult::Ok) return d;
  if ((d.password = aes.SetPassword(password)) != TAesResult::Ok) return d;
  d.decode = MethodDecoder(field.Method)(aes);
  d.finish = aes.Finish();
  d.out = std::move(source.out);
  return d;
}

// The stored bytes our encrypting stage makes of `plain`, written `chunk` bytes at a time.
Bytes encrypt(const Bytes& plain, const std::string& password, TAesStrength strength,
              size_t chunk = 65536, std::optional<Bytes> salt = std::nullopt) {
  TMemoryEncodeIO sink(nullptr, 0);
  std::optional<TAesEncodeIO> aes;
  if (salt)
    aes.emplace(sink, password, strength, *salt);
  else
    aes.emplace(sink, password, strength);
  aes->Begin();
  for (size_t at = 0; at < plain.size(); at += chunk)
    aes->Write(plain.data() + at, std::min(chunk, plain.size() - at));
  aes->Finish();
  EXPECT_EQ(sink.out.size(), plain.size() + aes->Overhead());
  return sink.out;
}

TAesField fieldOf(const test::TRawEntry& e) {
  std::optional<TAesField> f = ParseAesField(e.extra);
  if (!f) throw std::runtime_error(e.name + " has no usable AES field");
  return *f;
}

const Bytes& text() {
  static const Bytes t = test::textBytes(60000, 23);
  return t;
}

const std::vector<std::pair<std::string, Bytes>>& files() {
  static const std::vector<std::pair<std::string, Bytes>> f = {
      {"text", text()}, {"tiny", {'h', 'i', '\n'}}, {"empty", {}}};
  return f;
}

const Bytes& plainOf(const std::string& name) {
  for (const auto& [n, data] : files())
    if (n == name) return data;
  throw std::runtime_error("no file " + name);
}

// 7z's entries of every key size around several methods, made once.
struct TSevenZipCase {
  std::string switches;
  TAesStrength strength;
  std::vector<test::TRawEntry> entries;
};
std::vector<TSevenZipCase>& sevenZipCases() {
  static std::vector<TSevenZipCase> cases = [] {
    std::vector<TSevenZipCase> c = {
        {"-mem=AES128 -mm=Deflate", TAesStrength::Aes128, {}},
        {"-mem=AES192 -mm=Copy", TAesStrength::Aes192, {}},
        {"-mem=AES256 -mm=BZip2", TAesStrength::Aes256, {}},
        {"-mem=AES256 -mm=LZMA", TAesStrength::Aes256, {}},
        {"-mem=AES128 -mm=XZ", TAesStrength::Aes128, {}},
    };
    for (auto& k : c) k.entries = test::sevenZipEntries("-pS3cr3t! " + k.switches, files());
    return c;
  }();
  return cases;
}

const test::TRawEntry& sevenZipEntry(const std::string& switches, const std::string& name) {
  for (const auto& k : sevenZipCases())
    for (const auto& e : k.entries)
      if (k.switches == switches && e.name == name) return e;
  throw std::runtime_error("no entry " + name);
}

TEST(Aes, DecryptsSevenZipEntriesOfEveryKeySize) {
  for (const auto& k : sevenZipCases()) {
    SCOPED_TRACE(k.switches);
    ASSERT_EQ(k.entries.size(), files().size());
    for (const auto& e : k.entries) {
      SCOPED_TRACE(e.name);
      ASSERT_EQ(e.method, kMethodAes);
      ASSERT_NE(e.flags & kFlagEncrypted, 0);
      const TAesField field = fieldOf(e);
      EXPECT_EQ(field.Strength, k.strength);
      const Bytes& plain = plainOf(e.name);
      if (!field.ChecksCrc()) {
        EXPECT_EQ(e.crc, 0u);
      }
      // Small blocks split the salt, the verifier and the code across refills.
      for (size_t block : {size_t(16000), size_t(5)}) {
        TDecrypted d =
            decrypt(e.data, field, plain.size(), "S3cr3t!", block, std::nullopt, e.flags);
        ASSERT_EQ(d.password, TAesResult::Ok);
        EXPECT_EQ(d.decode, kCodecOk);
        EXPECT_EQ(d.finish, TAesResult::Ok);
        EXPECT_TRUE(d.out == plain) << "block " << block;
      }
    }
  }
}

TEST(Aes, WrongPasswordIsToldApartFromChangedData) {
  const test::TRawEntry& e = sevenZipEntry("-mem=AES256 -mm=BZip2", "text");
  const TAesField field = fieldOf(e);
  for (const char* wrong : {"s3cr3t!", "", "S3cr3t! "}) {
    SCOPED_TRACE(wrong);
    TDecrypted d = decrypt(e.data, field, text().size(), wrong);
    // One wrong password in 65,536 passes the 2-byte verifier; the code then refuses it.
    if (d.password == TAesResult::Ok)
      EXPECT_EQ(d.finish, TAesResult::AuthenticationFailed);
    else
      EXPECT_EQ(d.password, TAesResult::WrongPassword);
  }
  // Another try on the same stage after a refusal.
  TMemoryDecodeIO source(e.data.data(), e.data.size());
  source.UncompressedSize = uint32_t(text().size());
  TAesDecodeIO aes(source, field, e.data.size());
  ASSERT_EQ(aes.Start(), TAesResult::Ok);
  ASSERT_EQ(aes.SetPassword("\xff\xfe"), TAesResult::WrongPassword);
  ASSERT_EQ(aes.SetPassword("S3cr3t!"), TAesResult::Ok);
  EXPECT_EQ(MethodDecoder(field.Method)(aes), kCodecOk);
  EXPECT_EQ(aes.Finish(), TAesResult::Ok);
  EXPECT_TRUE(source.out == text());
}

TEST(Aes, ChangedOrCutEntriesAreRefused) {
  for (const char* sw : {"-mem=AES192 -mm=Copy", "-mem=AES128 -mm=Deflate"}) {
    SCOPED_TRACE(sw);
    const test::TRawEntry& e = sevenZipEntry(sw, "text");
    const TAesField field = fieldOf(e);
    const size_t dataStart = AesSaltSize(field.Strength) + kAesVerifierSize;
    const size_t codeStart = e.data.size() - kAesAuthCodeSize;
    // A changed byte of the data or of the code: whatever the decoder makes of it, the
    // entry fails its code.
    for (size_t at :
         {dataStart, (dataStart + codeStart) / 2, codeStart - 1, codeStart, e.data.size() - 1}) {
      Bytes bad = e.data;
      bad[at] ^= 0x01;
      TDecrypted d = decrypt(bad, field, text().size(), "S3cr3t!");
      EXPECT_EQ(d.finish, TAesResult::AuthenticationFailed) << "byte " << at;
      EXPECT_LE(d.out.size(), text().size());
    }
    // A changed verifier is a wrong password to the reader.
    Bytes badVerifier = e.data;
    badVerifier[dataStart - 1] ^= 0x80;
    EXPECT_EQ(decrypt(badVerifier, field, text().size(), "S3cr3t!").password,
              TAesResult::WrongPassword);
    // An archive that ends inside the code, or inside the salt.
    for (size_t keep : {e.data.size() - 1, size_t(3)}) {
      Bytes cut(e.data.begin(), e.data.begin() + keep);
      TDecrypted d = decrypt(cut, field, text().size(), "S3cr3t!", 16000, e.data.size());
      EXPECT_TRUE(d.start == TAesResult::Truncated || d.finish == TAesResult::Truncated)
          << "kept " << keep;
    }
    // An entry too short to hold salt, verifier and code.
    Bytes tiny(e.data.begin(), e.data.begin() + field.Overhead() - 1);
    EXPECT_EQ(decrypt(tiny, field, 0, "S3cr3t!").start, TAesResult::Truncated);
  }
}

TEST(Aes, OwnEncryptionReadsBackAtEveryLength) {
  const Bytes plain = test::randomBytes(70001, 41);
  for (TAesStrength strength : {TAesStrength::Aes128, TAesStrength::Aes192, TAesStrength::Aes256}) {
    for (size_t size : {0, 1, 15, 16, 17, 4095, 4096, 4097, 70001}) {
      SCOPED_TRACE(testing::Message() << "strength " << int(strength) << ", " << size << " bytes");
      const Bytes part(plain.begin(), plain.begin() + size);
      // Written in odd pieces, read in odd blocks: the keystream runs on across both.
      const Bytes stored = encrypt(part, "pass word", strength, size % 2 ? 7 : 65536);
      const size_t dataStart = AesSaltSize(strength) + kAesVerifierSize;
      if (size >= 16) {
        EXPECT_FALSE(std::equal(part.begin(), part.end(), stored.begin() + dataStart));
      }
      const TAesField field{2, strength, kMethodStored};
      for (size_t block : {size_t(13), size_t(16000)}) {
        TDecrypted d = decrypt(stored, field, size, "pass word", block);
        ASSERT_EQ(d.password, TAesResult::Ok);
        EXPECT_EQ(d.decode, kCodecOk);
        EXPECT_EQ(d.finish, TAesResult::Ok);
        EXPECT_TRUE(d.out == part);
      }
    }
  }
}

TEST(Aes, SaltIsFreshEachTimeAndDecidesTheBytes) {
  const Bytes plain = test::textBytes(1000, 2);
  const Bytes a = encrypt(plain, "pw", TAesStrength::Aes256);
  const Bytes b = encrypt(plain, "pw", TAesStrength::Aes256);
  const size_t saltSize = AesSaltSize(TAesStrength::Aes256);
  EXPECT_FALSE(std::equal(a.begin(), a.begin() + saltSize, b.begin()));
  EXPECT_NE(a, b);
  const Bytes salt(a.begin(), a.begin() + saltSize);
  EXPECT_EQ(encrypt(plain, "pw", TAesStrength::Aes256, 100, salt), a);
  EXPECT_NE(encrypt(plain, "pW", TAesStrength::Aes256, 100, salt), a);
}

TEST(Aes, ExtraFieldIsReadOnlyWhenWhole) {
  auto block = [](const Bytes& body, uint16_t id = kAesExtraId) {
    Bytes b(4 + body.size());
    store16(&b[0], id);
    store16(&b[2], uint16_t(body.size()));
    std::copy(body.begin(), body.end(), b.begin() + 4);
    return b;
  };
  const Bytes good = block({2, 0, 'A', 'E', 3, 8, 0});
  const Bytes other = block({1, 2, 3, 4, 5}, 0x5455);  // a time stamp block before it
  struct TCase {
    const char* label;
    Bytes extra;
    std::optional<TAesField> expected;
  };
  const std::vector<TCase> cases = {
      {"AE-2, 256 bits, deflated", good, TAesField{2, TAesStrength::Aes256, 8}},
      {"AE-1, 128 bits, stored", block({1, 0, 'A', 'E', 1, 0, 0}),
       TAesField{1, TAesStrength::Aes128, 0}},
      {"after another block",
       [&] {
         Bytes e = other;
         e.insert(e.end(), good.begin(), good.end());
         return e;
       }(),
       TAesField{2, TAesStrength::Aes256, 8}},
      {"padding after it",
       [&] {
         Bytes e = good;
         e.insert(e.end(), {0, 0});
         return e;
       }(),
       TAesField{2, TAesStrength::Aes256, 8}},
      {"no extra field", {}, std::nullopt},
      {"another block only", other, std::nullopt},
      {"version 3", block({3, 0, 'A', 'E', 3, 8, 0}), std::nullopt},
      {"version 0", block({0, 0, 'A', 'E', 3, 8, 0}), std::nullopt},
      {"another vendor", block({2, 0, 'A', 'X', 3, 8, 0}), std::nullopt},
      {"strength 0", block({2, 0, 'A', 'E', 0, 8, 0}), std::nullopt},
      {"strength 4", block({2, 0, 'A', 'E', 4, 8, 0}), std::nullopt},
      {"method 99 again", block({2, 0, 'A', 'E', 3, 99, 0}), std::nullopt},
      {"body cut short", block({2, 0, 'A', 'E', 3, 8}), std::nullopt},
      {"block claims more than the field", Bytes(good.begin(), good.end() - 1), std::nullopt},
      {"block before it claims too much",
       [&] {
         Bytes e = {0x55, 0x54, 200, 0};
         e.insert(e.end(), good.begin(), good.end());
         return e;
       }(),
       std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::optional<TAesField> got = ParseAesField(c.extra);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (!got) continue;
    EXPECT_EQ(got->Version, c.expected->Version);
    EXPECT_EQ(got->Strength, c.expected->Strength);
    EXPECT_EQ(got->Method, c.expected->Method);
    const auto made = MakeAesField(*got);
    EXPECT_EQ(Bytes(made.begin(), made.end()),
              block({uint8_t(got->Version), 0, 'A', 'E', uint8_t(got->Strength),
                     uint8_t(got->Method), 0}));
  }
}

// An AES entry of our own for the archive builder: deflated by our encoder through the
// encrypting stage, or stored.
test::ZipEntrySpec ourEntry(const std::string& name, const Bytes& plain, uint16_t version,
                            TAesStrength strength, bool deflate) {
  TMemoryEncodeIO io(plain.data(), plain.size());
  TAesEncodeIO aes(io, "S3cr3t!", strength);
  aes.Begin();
  uint16_t method = kMethodStored, flags = kFlagEncrypted;
  if (deflate) {
    TDeflateEncoder encoder;
    const TDeflateResult r = encoder.Deflate(aes, 6);
    method = r.Method;
    flags |= r.Flags;
  } else {
    aes.Write(plain.data(), plain.size());
  }
  aes.Finish();
  test::ZipEntrySpec e;
  e.name = name;
  e.data = io.out;
  e.method = kMethodAes;
  e.flags = flags;
  e.crc = version == 1 ? test::crc32Of(plain) : 0;
  e.uncompressedSize = uint32_t(plain.size());
  const auto field = MakeAesField({version, strength, method});
  e.extra.assign(field.begin(), field.end());
  return e;
}

TEST(Aes, SevenZipAcceptsOurEntries) {
  if (!test::haveTool("7z")) GTEST_SKIP() << "7z not installed";
  const Bytes big = test::textBytes(200000, 8);
  const Bytes noise = test::randomBytes(5000, 8);
  const std::vector<std::pair<test::ZipEntrySpec, Bytes>> entries = {
      {ourEntry("deflated.txt", big, 2, TAesStrength::Aes256, true), big},
      {ourEntry("stored.bin", noise, 2, TAesStrength::Aes256, false), noise},
      {ourEntry("ae1.txt", big, 1, TAesStrength::Aes256, true), big},
      {ourEntry("aes128.txt", big, 2, TAesStrength::Aes128, true), big},
      {ourEntry("empty", {}, 2, TAesStrength::Aes256, true), {}},
  };
  test::ZipSpec spec;
  for (const auto& [e, plain] : entries) spec.entries.push_back(e);
  test::TempDir dir;
  test::writeFile(dir / "a.zip", test::buildZip(spec));

  test::RunResult t = test::run("7z t -bd -pS3cr3t! a.zip", dir.path());
  EXPECT_EQ(t.status, 0) << t.out << t.err;
  EXPECT_NE(t.out.find("Everything is Ok"), std::string::npos) << t.out;
  for (const auto& [e, plain] : entries) {
    test::RunResult x = test::run("7z x -so -pS3cr3t! a.zip " + test::shq(e.name), dir.path());
    EXPECT_EQ(x.status, 0) << e.name << ": " << x.err;
    EXPECT_TRUE(Bytes(x.out.begin(), x.out.end()) == plain) << e.name;
  }
  EXPECT_NE(test::run("7z t -bd -pwrong a.zip", dir.path()).status, 0);

  // And they read back through our own stage.
  for (const auto& [e, plain] : entries) {
    SCOPED_TRACE(e.name);
    const TAesField field = *ParseAesField(Bytes(e.extra.begin(), e.extra.end()));
    TDecrypted d = decrypt(e.data, field, plain.size(), "S3cr3t!");
    EXPECT_EQ(d.decode, kCodecOk);
    EXPECT_EQ(d.finish, TAesResult::Ok);
    EXPECT_TRUE(d.out == plain);
  }
}

}  // namespace
}  // namespace quelt
