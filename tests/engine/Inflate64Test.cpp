// Deflate64: hand-built streams for what differs from Deflate (symbol 285, distance codes
// 30 and 31, the 64 KiB window), and 7-Zip's Deflate64 entries decoded through the table of
// methods.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Inflate.h"
#include "engine/codecs/Methods.h"
#include "support/DeflateStreams.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

using test::Expand;
using test::StoredBlocks;
using test::TLsbBitWriter;
using test::TToken;

// Deflate64's fixed block: symbol 285 is base 3 plus 16 extra bits; distance symbols 30
// and 31 are in use.
void FixedBlock64(TLsbBitWriter& w, bool final, const std::vector<TToken>& tokens) {
  test::FixedBlock(w, final, tokens, test::TDeflateFormat::kDeflate64);
}

struct Outcome {
  int result;
  Bytes out;
};

Outcome decode(TDecodeFn fn, const Bytes& stream, size_t block) {
  TMemoryDecodeIO io(stream.data(), stream.size(), SIZE_MAX, block);
  int r = fn(io);
  return {r, io.out};
}

TEST(Inflate64, DecodesWhatOnlyDeflate64Has) {
  struct TCase {
    const char* name;
    size_t lead;  // stored random bytes before the fixed block
    std::vector<TToken> tokens;
    bool ok;
  };
  // Literals after the matches let the fast loop, which stops short of the input's end,
  // take the matches.
  auto withTail = [](std::vector<TToken> t) {
    for (unsigned i = 0; i < 40; ++i) t.push_back({0, 'a' + i % 26});
    return t;
  };
  const size_t bufferEnd = 65536 + 131072;  // history and chunk of the decoder's buffer
  const TCase cases[] = {
      {"symbol 285 with no extra value: length 3", 0, {{0, 'x'}, {3, 1}}, true},
      {"long matches of short periods across the buffer's end", bufferEnd - 1000,
       withTail({{0, 'a'},
                 {65538, 2},
                 {0, 'b'},
                 {40000, 3},
                 {0, 'c'},
                 {1001, 7},
                 {0, 'd'},
                 {333, 17},
                 {65538, 65536}}),
       true},
      {"a long match in the fast loop reaching before the first byte", 1000,
       withTail({{0, 'a'}, {300, 5}, {65538, 1302}}), false},
      {"the longest match, 65538 bytes at distance 1", 0, {{0, 'x'}, {65538, 1}}, true},
      {"long matches past the buffer's end",
       10,
       {{65538, 7}, {65538, 9}, {65538, 3}, {300, 1}},
       true},
      {"distance code 30", 40000, {{300, 32769}, {258, 39999}}, true},
      {"distance code 31 up to 65536", 70000, {{1000, 49153}, {65538, 65536}, {5, 60001}}, true},
      {"distance 65536 one byte before the first", 65535, {{3, 65536}}, false},
      {"a long match reaching before the first byte", 100, {{60000, 101}}, false},
  };
  for (const TCase& c : cases) {
    Bytes lead = test::randomBytes(c.lead, uint32_t(c.lead) + 1);
    TLsbBitWriter w;
    StoredBlocks(w, lead);
    FixedBlock64(w, true, c.tokens);
    Bytes want = c.ok ? Expand(c.tokens, lead) : Bytes();
    // The fast loop the processor chooses and the portable one (the same without BMI2).
    const TDecodeFn portable = [](TDecodeIO& io) { return InflatePortable(io, true); };
    for (TDecodeFn fn : {TDecodeFn(Inflate64), portable}) {
      const char* loop = fn == portable ? "portable loop" : "chosen loop";
      for (size_t block : {size_t(1), size_t(7), size_t(16000)}) {
        if (block == 1 && c.lead > 50000) continue;  // keep the run short
        Outcome r = decode(fn, w.bytes(), block);
        ASSERT_EQ(r.result == kInflateOk, c.ok)
            << c.name << ", " << loop << ", blocks of " << block;
        if (c.ok) {
          ASSERT_EQ(r.out.size(), want.size()) << c.name;
          EXPECT_TRUE(r.out == want) << c.name << ", " << loop << ", blocks of " << block;
        }
      }
    }
  }
}

TEST(Inflate64, DeflateStillRefusesWhatOnlyDeflate64Has) {
  TLsbBitWriter w;
  StoredBlocks(w, test::randomBytes(40000, 3));
  FixedBlock64(w, true, {{200, 32769}});  // a length both read alike
  EXPECT_EQ(decode(Inflate, w.bytes(), 16000).result, kInflateBadData);
  EXPECT_EQ(decode(Inflate64, w.bytes(), 16000).result, kInflateOk);
}

// Data whose best matches are long or far: what Deflate64 is for.
Bytes farRepeats(size_t n, uint32_t seed) {
  Bytes unit = test::randomBytes(45000, seed), out;
  Bytes text = test::textBytes(n, seed);
  for (size_t k = 0; out.size() < n; ++k) {
    if (k % 3 == 2)
      out.insert(out.end(), text.begin() + k * 1000 % (n / 2),
                 text.begin() + k * 1000 % (n / 2) + 20000);
    else
      out.insert(out.end(), unit.begin(), unit.end());
  }
  out.resize(n);
  return out;
}

// 7-Zip's Deflate64 entries, their raw data taken out by Python and decoded through the
// table of methods, as extraction reaches them.
TEST(Inflate64, Decodes7ZipEntries) {
  if (!test::haveTool("7z")) GTEST_SKIP() << "7z not installed";
  test::TempDir dir;
  const struct {
    const char* name;
    Bytes data;
  } files[] = {
      {"empty", {}},
      {"text", test::textBytes(200000, 5)},
      {"far", farRepeats(300000, 6)},
      {"zeros", Bytes(300000, 0)},
      {"random", test::randomBytes(100000, 7)},
  };
  for (const auto& f : files) test::writeFile(dir / f.name, f.data);
  for (const char* level : {"-mx9", "-mx5"}) {
    std::string zip = dir / (std::string("d64") + level + ".zip");
    auto made = test::run("7z a -tzip -mm=Deflate64 " + std::string(level) + " -bd -bso0 " +
                              test::shq(zip) + " empty text far zeros random",
                          dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    const char* script =
        "import sys,zipfile,struct\n"
        "z=zipfile.ZipFile(sys.argv[1]); f=open(sys.argv[1],'rb')\n"
        "for i in z.infolist():\n"
        "  f.seek(i.header_offset); h=f.read(30); n,e=struct.unpack('<HH',h[26:30])\n"
        "  f.seek(i.header_offset+30+n+e)\n"
        "  open(sys.argv[2]+'/'+i.filename+'.raw','wb').write(f.read(i.compress_size))\n"
        "  print(i.filename, i.compress_type)\n";
    test::writeFile(dir / "raw.py", std::string(script));
    auto listed = test::run("python3 " + test::shq(dir / "raw.py") + " " + test::shq(zip) + " " +
                            test::shq(dir.path()));
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::string name;
    int method, seen = 0;
    while (lines >> name >> method) {
      ++seen;
      const auto* file = std::find_if(std::begin(files), std::end(files),
                                      [&](const auto& x) { return name == x.name; });
      ASSERT_NE(file, std::end(files)) << name;
      // 7z stores what does not shrink; the rest must be Deflate64.
      if (method == 0 && (file->data.empty() || name == "random")) continue;
      EXPECT_EQ(method, kMethodDeflate64) << name;
      Bytes raw = test::readFile(dir / (name + ".raw"));
      for (size_t block : {size_t(16000), size_t(13)}) {
        Outcome r = decode(MethodDecoder(uint16_t(method)), raw, block);
        ASSERT_EQ(r.result, kInflateOk) << name << level << ", blocks of " << block;
        EXPECT_TRUE(r.out == file->data) << name << level << ", blocks of " << block;
      }
      // Cut short, the same data is an error, never a success with less output.
      for (size_t cut : {raw.size() / 3, raw.size() - 1}) {
        Bytes part(raw.begin(), raw.begin() + cut);
        EXPECT_NE(decode(Inflate64, part, 16000).result, kInflateOk) << name << " cut at " << cut;
      }
    }
    EXPECT_EQ(seen, 5);
  }
}

}  // namespace
}  // namespace quelt
