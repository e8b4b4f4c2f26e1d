// The decoders of the newer methods, reached through the table of methods, on streams the
// real tools write: exact bytes whatever the input's block size, and failure - never more
// output than declared - when a stream is cut, damaged, or disagrees with its entry's size.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/ZipFormat.h"
#include "engine/codecs/CodecPump.h"
#include "engine/codecs/LzmaDecoder.h"
#include "engine/codecs/Methods.h"
#include "engine/codecs/XzDecoder.h"
#include "engine/codecs/ZstdDecoder.h"
#include "support/TestUtil.h"
#include "support/ToolStreams.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

struct TDecoded {
  int result = -1;
  Bytes out;
  int flushes = 0;
};

TDecoded decodeWith(const std::function<int(TDecodeIO&)>& decode, const Bytes& data,
                    uint64_t declared, uint16_t flags = 0, size_t block = 16000) {
  TMemoryDecodeIO io(data.data(), data.size(), SIZE_MAX, block);
  io.UncompressedSize = uint32_t(declared);
  io.CompressedSize = uint32_t(data.size());
  io.BitFlag = flags;
  TDecoded d;
  d.result = decode(io);
  d.out = std::move(io.out);
  d.flushes = io.flushes;
  return d;
}

TDecoded decodeMethod(uint16_t method, const Bytes& data, uint64_t declared, uint16_t flags = 0,
                      size_t block = 16000) {
  TDecodeFn fn = MethodDecoder(method);
  if (!fn) throw std::runtime_error("no decoder for method " + std::to_string(method));
  return decodeWith(fn, data, declared, flags, block);
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A stream of one method and the bytes it holds.
struct TStream {
  std::string label;
  uint16_t method = 0;
  uint16_t flags = 0;
  Bytes data;
  Bytes plain;
};

const Bytes& text() {
  static const Bytes t = test::textBytes(300000, 17);
  return t;
}
const Bytes& noise() {
  static const Bytes n = test::randomBytes(70000, 5);
  return n;
}

TStream fromTool(const std::string& label, uint16_t method, const std::string& command,
                 const Bytes& plain) {
  return {label, method, 0, test::filterThrough(command, plain), plain};
}

// Bytes of 16 letters at random: compressible, so 7z keeps the method asked for.
const Bytes& letters() {
  static const Bytes l = [] {
    Bytes b = test::randomBytes(90000, 9);
    for (uint8_t& c : b) c = uint8_t('a' + c % 16);
    return b;
  }();
  return l;
}

// One entry of each kind 7z writes, of the text and of the letters.
void addSevenZip(std::vector<TStream>& out, const std::string& label, const std::string& sw) {
  auto entries = test::sevenZipEntries(sw, {{"text", text()}, {"letters", letters()}});
  for (auto& e : entries)
    out.push_back(
        {label + " " + e.name, e.method, e.flags, e.data, e.name == "text" ? text() : letters()});
}

// The streams Python's bz2 and lzma modules make, in one run of the interpreter: each line
// of the script writes one file from the inputs t (text), h (its first 100,000 bytes) and
// n (noise).
void addPython(std::vector<TStream>& out) {
  const Bytes half(text().begin(), text().begin() + 100000);
  const std::vector<std::pair<TStream, std::string>> made = {
      {{"bzip2, several blocks", kMethodBzip2, 0, {}, text()}, "bz2.compress(t, 1)"},
      {{"bzip2 of nothing", kMethodBzip2, 0, {}, {}}, "bz2.compress(b'')"},
      {{"bzip2, two streams", kMethodBzip2, 0, {}, concat(half, noise())},
       "bz2.compress(h) + bz2.compress(n)"},
      {{"xz, CRC64", kMethodXz, 0, {}, text()}, "lzma.compress(t)"},
      {{"xz, SHA-256", kMethodXz, 0, {}, noise()}, "lzma.compress(n, check=lzma.CHECK_SHA256)"},
      {{"xz of nothing", kMethodXz, 0, {}, {}}, "lzma.compress(b'')"},
      // Stream padding: multiples of four zero bytes between and after streams.
      {{"xz, two streams and padding", kMethodXz, 0, {}, concat(half, noise())},
       "lzma.compress(h) + bytes(4) + lzma.compress(n) + bytes(8)"},
      {{"xz -9", kMethodXz, 0, {}, noise()}, "lzma.compress(n, preset=9)"},
  };
  test::TempDir dir;
  test::writeFile(dir / "t", text());
  test::writeFile(dir / "h", half);
  test::writeFile(dir / "n", noise());
  std::string script = "import bz2, lzma\nt, h, n = (open(f, 'rb').read() for f in 'thn')\n";
  for (size_t i = 0; i < made.size(); ++i)
    script += "open('" + std::to_string(i) + "', 'wb').write(" + made[i].second + ")\n";
  test::writeFile(dir / "make.py", script);
  test::RunResult r = test::run("python3 make.py", dir.path());
  if (r.status != 0) throw std::runtime_error("python3 failed: " + r.err);
  for (size_t i = 0; i < made.size(); ++i) {
    TStream st = made[i].first;
    st.data = test::readFile(dir / std::to_string(i));
    out.push_back(std::move(st));
  }
}

// Every kind of stream, made once for all tests.
const std::vector<TStream>& streams() {
  static const std::vector<TStream> all = [] {
    std::vector<TStream> s;
    const Bytes half(text().begin(), text().begin() + 100000);
    addPython(s);
    s.push_back(fromTool("zstd -19", kMethodZstd, "zstd -q -19 in -o out", text()));
    s.push_back(
        fromTool("zstd, no checksum", kMethodZstd, "zstd -q --no-check in -o out", noise()));
    s.push_back(fromTool("zstd from a pipe", kMethodZstd, "zstd -q -3 <in >out", text()));
    s.push_back(fromTool("zstd -19 from a pipe", kMethodZstd, "zstd -q -19 <in >out", half));
    s.push_back(fromTool("zstd of nothing", kMethodZstd, "zstd -q in -o out", {}));
    s.push_back({"zstd, two frames", kMethodZstd, 0,
                 concat(test::filterThrough("zstd -q in -o out", half),
                        test::filterThrough("zstd -q in -o out", noise())),
                 concat(half, noise())});
    s.push_back({"zstd under its old number", kMethodZstdOld, 0,
                 test::filterThrough("zstd -q in -o out", half), half});
    addSevenZip(s, "7z BZip2", "-mm=BZip2");
    addSevenZip(s, "7z LZMA, end marker", "-mm=LZMA");
    addSevenZip(s, "7z LZMA, no end marker", "-mm=LZMA:eos=off");
    addSevenZip(s, "7z XZ", "-mm=XZ");
    addSevenZip(s, "7z Deflate", "-mm=Deflate");
    addSevenZip(s, "7z Copy", "-mm=Copy");
    return s;
  }();
  return all;
}

const TStream& streamNamed(const std::string& label) {
  for (const TStream& s : streams())
    if (s.label == label) return s;
  throw std::runtime_error("no stream " + label);
}

TEST(CodecDecode, ToolStreamsDecodeExactlyInAnyBlockSize) {
  std::map<uint16_t, int> seen;
  for (const TStream& s : streams()) {
    SCOPED_TRACE(s.label);
    ++seen[s.method];
    if (s.label.starts_with("7z ") && !s.label.starts_with("7z Copy")) {
      EXPECT_NE(s.method, kMethodStored) << "7z stored it";
    }
    for (size_t block : {size_t(16000), size_t(1) << 20, size_t(7)}) {
      TDecoded d = decodeMethod(s.method, s.data, s.plain.size(), s.flags, block);
      ASSERT_EQ(d.result, kCodecOk) << "block " << block;
      ASSERT_TRUE(d.out == s.plain) << "block " << block;
      EXPECT_EQ(d.flushes, 1);
    }
  }
  // The 7z switches really gave the methods they name, both LZMA forms among them.
  for (uint16_t m :
       {kMethodBzip2, kMethodLzma, kMethodXz, kMethodZstd, kMethodDeflated, kMethodStored})
    EXPECT_GT(seen[m], 0) << "method " << m;
  EXPECT_NE(streamNamed("7z LZMA, end marker text").flags & kFlagLzmaEndMarker, 0);
  EXPECT_EQ(streamNamed("7z LZMA, no end marker text").flags & kFlagLzmaEndMarker, 0);
}

// The streams whose failures are checked: every library-backed method and both LZMA forms.
const std::vector<std::string>& damageLabels() {
  static const std::vector<std::string> labels = {"bzip2, several blocks",
                                                  "xz, CRC64",
                                                  "zstd -19",
                                                  "7z LZMA, end marker text",
                                                  "7z LZMA, no end marker letters",
                                                  "7z BZip2 letters",
                                                  "7z XZ letters",
                                                  "7z Copy text"};
  return labels;
}

TEST(CodecDecode, DeclaredSizeCapsTheOutput) {
  for (const std::string& label : damageLabels()) {
    SCOPED_TRACE(label);
    const TStream& s = streamNamed(label);
    const uint64_t size = s.plain.size();
    // Declared one byte short: the stream would give more, so it is damaged, and the
    // output stops at what was declared.
    TDecoded less = decodeMethod(s.method, s.data, size - 1, s.flags);
    EXPECT_EQ(less.result, kCodecDamaged);
    EXPECT_LE(less.out.size(), size - 1);
    EXPECT_EQ(less.flushes, 0);
    TDecoded none = decodeMethod(s.method, s.data, 0, s.flags);
    EXPECT_EQ(none.result, kCodecDamaged);
    EXPECT_TRUE(none.out.empty());
    // Declared one byte long: the stream ends first.
    TDecoded more = decodeMethod(s.method, s.data, size + 1, s.flags);
    EXPECT_NE(more.result, kCodecOk);
    EXPECT_EQ(more.flushes, 0);
  }
}

TEST(CodecDecode, CutStreamsAreTruncated) {
  for (const std::string& label : damageLabels()) {
    SCOPED_TRACE(label);
    const TStream& s = streamNamed(label);
    for (size_t keep : {size_t(0), size_t(3), s.data.size() / 2, s.data.size() - 1}) {
      Bytes cut(s.data.begin(), s.data.begin() + keep);
      TDecoded d = decodeMethod(s.method, cut, s.plain.size(), s.flags, 4096);
      EXPECT_EQ(d.result, kCodecTruncated) << "kept " << keep;
      EXPECT_LE(d.out.size(), s.plain.size());
      EXPECT_EQ(d.flushes, 0);
    }
  }
}

TEST(CodecDecode, DamagedStreamsFail) {
  // Methods whose streams carry checks: a changed byte anywhere is found. LZMA has none; its
  // entries rely on the CRC of the extraction, and only bounded output is asked of it here.
  for (const std::string& label : damageLabels()) {
    SCOPED_TRACE(label);
    const TStream& s = streamNamed(label);
    const bool checked = s.method != kMethodLzma && s.method != kMethodStored;
    for (size_t at : {size_t(2), s.data.size() / 3, s.data.size() / 2, s.data.size() - 2}) {
      Bytes bad = s.data;
      bad[at] ^= 0x55;
      TDecoded d = decodeMethod(s.method, bad, s.plain.size(), s.flags);
      if (checked) {
        EXPECT_NE(d.result, kCodecOk) << "byte " << at;
      }
      EXPECT_LE(d.out.size(), s.plain.size());
    }
  }
  // Bytes after the last stream are not a stream of the method.
  for (const char* label : {"bzip2, several blocks", "xz, CRC64", "zstd -19"}) {
    SCOPED_TRACE(label);
    const TStream& s = streamNamed(label);
    const Bytes junk = test::randomBytes(40, 3);
    TDecoded d = decodeMethod(s.method, concat(s.data, junk), s.plain.size());
    EXPECT_NE(d.result, kCodecOk);
    EXPECT_EQ(d.flushes, 0);
  }
}

TEST(CodecDecode, ZstdFramesAreOfThePublishedFormat) {
  const TStream& s = streamNamed("zstd, no checksum");
  // A skippable frame (magic, size, bytes) ahead of the data is passed over.
  Bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 'x', 'y', 'z'};
  // The magic of a draft of the format before its publication: refused however it arrives.
  const Bytes draft = {0x27, 0xB5, 0x2F, 0xFD, 1, 0, 0, 0, 0, 0x84, 0, 0, 0, 0x82};
  // A frame cut short after an empty block, whose header bytes after the magic would read
  // as a skippable frame of their own: never a whole frame, wherever the blocks end.
  const Bytes cut = {0x28, 0xB5, 0x2F, 0xFD, 0x50, 0x2A, 0x4D, 0x18, 0, 0, 0, 0};
  for (size_t block : {size_t(1), size_t(3), size_t(4), size_t(16000)}) {
    SCOPED_TRACE(block);
    EXPECT_NE(decodeMethod(kMethodZstd, cut, 0, 0, block).result, kCodecOk);
    TDecoded d = decodeMethod(kMethodZstd, concat(skippable, s.data), s.plain.size(), 0, block);
    EXPECT_EQ(d.result, kCodecOk);
    EXPECT_TRUE(d.out == s.plain);
    EXPECT_EQ(decodeMethod(kMethodZstd, draft, 100, 0, block).result, kCodecDamaged);
    EXPECT_EQ(
        decodeMethod(kMethodZstd, concat(s.data, draft), s.plain.size() + 100, 0, block).result,
        kCodecDamaged);
  }
}

// The ZIP form of LZMA with its properties changed to claim another dictionary.
Bytes withDictionary(Bytes lzma, uint32_t dict) {
  store32(&lzma[5], dict);
  return lzma;
}

TEST(CodecDecode, MemoryIsBoundedWhateverHeadersClaim) {
  constexpr uint64_t kSmall = 4 << 20;
  // An LZMA dictionary larger than the entry is never allocated: the claim of 4 GiB decodes
  // in a few MiB, since no match can reach further back than the entry's start.
  const TStream& lzma = streamNamed("7z LZMA, end marker text");
  const Bytes huge = withDictionary(lzma.data, 0xFFFFFFFF);
  auto lzmaSmall = [](TDecodeIO& io) { return DecodeLzma(io, kSmall); };
  TDecoded d = decodeWith(lzmaSmall, huge, lzma.plain.size(), lzma.flags);
  EXPECT_EQ(d.result, kCodecOk);
  EXPECT_TRUE(d.out == lzma.plain);
  // An entry that claims to be large as well is refused before anything is allocated.
  EXPECT_EQ(decodeWith(lzmaSmall, huge, 0x7FFFFFFF, lzma.flags).result, kCodecNoMemory);

  // xz -9 asks for a 64 MiB dictionary; zstd -19 from a pipe (no size in the frame) for an
  // 8 MiB window. Both decode within the default limit (the first test).
  const TStream& xz9 = streamNamed("xz -9");
  auto xzSmall = [](TDecodeIO& io) { return DecodeXz(io, kSmall); };
  EXPECT_EQ(decodeWith(xzSmall, xz9.data, xz9.plain.size()).result, kCodecNoMemory);
  const TStream& zstd19 = streamNamed("zstd -19 from a pipe");
  auto zstdSmall = [](TDecodeIO& io) { return DecodeZstd(io, kSmall); };
  EXPECT_EQ(decodeWith(zstdSmall, zstd19.data, zstd19.plain.size()).result, kCodecNoMemory);
}

TEST(CodecDecode, LzmaHeaderIsChecked) {
  const TStream& s = streamNamed("7z LZMA, no end marker text");
  Bytes sizeNotFive = s.data;
  sizeNotFive[2] = 6;
  EXPECT_EQ(decodeMethod(kMethodLzma, sizeNotFive, s.plain.size()).result, kCodecDamaged);
  Bytes badProperties = s.data;
  badProperties[4] = 9 * 5 * 5;  // lc, lp and pb out of range
  EXPECT_EQ(decodeMethod(kMethodLzma, badProperties, s.plain.size()).result, kCodecDamaged);
  // The version bytes say which library wrote the stream and change nothing.
  Bytes otherVersion = s.data;
  otherVersion[0] = 0x63;
  otherVersion[1] = 0x01;
  EXPECT_TRUE(decodeMethod(kMethodLzma, otherVersion, s.plain.size()).out == s.plain);
}

}  // namespace
}  // namespace quelt
