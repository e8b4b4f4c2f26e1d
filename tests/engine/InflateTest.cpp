#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Errors.h"
#include "engine/Inflate.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Writing deflate streams by hand ----

class BitWriter {
 public:
  void put(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      if (n_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= uint8_t(((value >> i) & 1) << (n_ % 8));
      ++n_;
    }
  }
  // Huffman codes go most significant bit first.
  void putCode(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) put((code >> i) & 1, 1);
  }
  void align() {
    while (n_ % 8) put(0, 1);
  }
  void putByte(uint8_t b) { put(b, 8); }
  Bytes bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t n_ = 0;
};

std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  unsigned count[17] = {}, next[17] = {};
  for (auto l : lengths) ++count[l];
  count[0] = 0;
  for (unsigned len = 1, code = 0; len <= 16; ++len)
    next[len] = code = (code + count[len - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

const unsigned kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A literal (length 0), a match, or the end of the block (length -1).
struct Token {
  int length;
  unsigned value;  // the literal byte or the distance
};
Token lit(uint8_t b) {
  return {0, b};
}
Token match(int length, unsigned dist) {
  return {length, dist};
}
const Token kEnd{-1, 0};

// The canonical codes of a literal/length and a distance code set.
struct Codes {
  std::vector<uint8_t> litLengths, distLengths;
  std::vector<uint32_t> lit, dist;
  explicit Codes(std::vector<uint8_t> l, std::vector<uint8_t> d)
      : litLengths(std::move(l)),
        distLengths(std::move(d)),
        lit(canonicalCodes(litLengths)),
        dist(canonicalCodes(distLengths)) {}
};

Codes fixedCodes() {
  std::vector<uint8_t> l(288, 8), d(30, 5);
  for (int i = 144; i < 256; ++i) l[i] = 9;
  for (int i = 256; i < 280; ++i) l[i] = 7;
  d.resize(32, 5);  // codes 30 and 31 exist in the fixed code, unused
  return Codes(l, d);
}

// A distance symbol written directly (to write codes the alphabet leaves unused).
void putDistSymbol(BitWriter& w, const Codes& c, unsigned sym) {
  w.putCode(c.dist[sym], c.distLengths[sym]);
}

void putTokens(BitWriter& w, const Codes& c, const std::vector<Token>& tokens) {
  for (const Token& t : tokens) {
    if (t.length < 0) {
      w.putCode(c.lit[256], c.litLengths[256]);
    } else if (t.length == 0) {
      w.putCode(c.lit[t.value], c.litLengths[t.value]);
    } else {
      int s = 28;
      while (t.length != 258 && (s == 28 || unsigned(t.length) < kLenBase[s])) --s;
      w.putCode(c.lit[257 + s], c.litLengths[257 + s]);
      w.put(t.length - kLenBase[s], kLenExtra[s]);
      int d = 29;
      while (t.value < kDistBase[d]) --d;
      putDistSymbol(w, c, d);
      w.put(t.value - kDistBase[d], kDistExtra[d]);
    }
  }
}

void fixedBlock(BitWriter& w, bool final, const std::vector<Token>& tokens) {
  w.put(final, 1);
  w.put(1, 2);
  putTokens(w, fixedCodes(), tokens);
}

void storedBlock(BitWriter& w, bool final, const Bytes& data) {
  w.put(final, 1);
  w.put(0, 2);
  w.align();
  w.put(uint32_t(data.size()), 16);
  w.put(uint32_t(~data.size() & 0xFFFF), 16);
  for (uint8_t b : data) w.putByte(b);
}

// A dynamic block header; the code lengths are written with a code-length code of 4 bits for
// each of 0..15 unless `clen` (19 lengths in symbol order) and raw `lengthSymbols` are given.
struct DynamicHeader {
  DynamicHeader(std::vector<uint8_t> l, std::vector<uint8_t> d,
                std::optional<std::vector<uint8_t>> c = std::nullopt,
                std::vector<std::pair<unsigned, unsigned>> seq = {},
                std::optional<unsigned> nl = std::nullopt,
                std::optional<unsigned> nd = std::nullopt)
      : lit(std::move(l)),
        dist(std::move(d)),
        clen(std::move(c)),
        lengthSymbols(std::move(seq)),
        nlit(nl),
        ndist(nd) {}
  std::vector<uint8_t> lit, dist;
  std::optional<std::vector<uint8_t>> clen;
  std::vector<std::pair<unsigned, unsigned>> lengthSymbols;  // (symbol, extra bits value)
  std::optional<unsigned> nlit, ndist;                       // stored counts, if not the sizes
};

const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void dynamicHeader(BitWriter& w, bool final, const DynamicHeader& h) {
  w.put(final, 1);
  w.put(2, 2);
  w.put(h.nlit.value_or(unsigned(h.lit.size())) - 257, 5);
  w.put(h.ndist.value_or(unsigned(h.dist.size())) - 1, 5);
  std::vector<uint8_t> clen(19, 4);
  clen[16] = clen[17] = clen[18] = 0;
  if (h.clen) clen = *h.clen;
  w.put(15, 4);  // all 19
  for (unsigned i = 0; i < 19; ++i) w.put(clen[kOrder[i]], 3);
  auto codes = canonicalCodes(clen);
  if (h.clen) {
    for (auto [sym, extra] : h.lengthSymbols) {
      w.putCode(codes[sym], clen[sym]);
      w.put(extra, sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0);
    }
    return;
  }
  for (auto l : h.lit) w.putCode(codes[l], 4);
  for (auto l : h.dist) w.putCode(codes[l], 4);
}

void dynamicBlock(BitWriter& w, bool final, const DynamicHeader& h, const std::vector<Token>& t) {
  dynamicHeader(w, final, h);
  putTokens(w, Codes(h.lit, h.dist), t);
}

// Literal/length lengths giving every byte, the end code and all length codes a code.
std::vector<uint8_t> fullLitLengths() {
  std::vector<uint8_t> l(286, 9);
  for (int i = 0; i < 226; ++i) l[i] = 8;  // 226 * 2 + 60 = 2^9: complete
  return l;
}

// What a list of tokens decodes to.
Bytes expand(const std::vector<Token>& tokens, Bytes out = {}) {
  for (const Token& t : tokens) {
    if (t.length == 0) out.push_back(uint8_t(t.value));
    for (int i = 0; i < t.length; ++i) out.push_back(out[out.size() - t.value]);
  }
  return out;
}

// ---- Running the decoder ----

struct Outcome {
  int result;
  Bytes out;
  int flushes;
  size_t consumed;  // bytes up to io.inPos at the end (when it lies in the input)
};

Outcome inflate(const Bytes& stream, size_t blockSize = 16000, size_t limit = SIZE_MAX) {
  TMemoryDecodeIO io(stream.data(), stream.size(), limit, blockSize);
  int r = Inflate(io);
  size_t consumed = io.inPos ? size_t(io.inPos - stream.data()) : 0;
  return {r, io.out, io.flushes, consumed};
}

TEST(Inflate, EmptyFixedBlockGivesNothing) {
  BitWriter w;
  fixedBlock(w, true, {kEnd});
  ASSERT_EQ(w.bytes(), (Bytes{0x03, 0x00}));
  Outcome r = inflate(w.bytes());
  EXPECT_EQ(r.result, kInflateOk);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.flushes, 1);
}

struct StreamCase {
  const char* name;
  Bytes stream;
  int result;
  Bytes out;  // checked on success
};

std::vector<StreamCase> handBuiltCases() {
  std::vector<StreamCase> cases;
  auto add = [&](const char* name, const BitWriter& w, int result, Bytes out = {}) {
    cases.push_back({name, w.bytes(), result, std::move(out)});
  };
  const Bytes hello{'h', 'e', 'l', 'l', 'o'};
  {
    BitWriter w;
    storedBlock(w, true, hello);
    add("stored block", w, kInflateOk, hello);
  }
  {
    BitWriter w;
    fixedBlock(w, false, {lit('a'), lit('b'), kEnd});
    storedBlock(w, false, {});
    storedBlock(w, false, hello);
    fixedBlock(w, true, {match(4, 5), kEnd});
    add("stored blocks between fixed ones, unaligned", w, kInflateOk,
        {'a', 'b', 'h', 'e', 'l', 'l', 'o', 'h', 'e', 'l', 'l'});
  }
  {
    // A final stored block longer than the window goes straight to the output, after the
    // bytes still waiting in the buffer, a short one too, and one cut short fails.
    for (size_t size : {size_t(3), size_t(40000), size_t(65535)}) {
      Bytes data = test::textBytes(size, unsigned(size));
      BitWriter w;
      fixedBlock(w, false, {lit('a'), lit('b'), match(3, 1), kEnd});
      storedBlock(w, true, data);
      Bytes want{'a', 'b', 'b', 'b', 'b'};
      want.insert(want.end(), data.begin(), data.end());
      add("final stored block after buffered bytes", w, kInflateOk, want);
      Bytes cut = w.bytes();
      cut.pop_back();
      cases.push_back({"final stored block cut short", cut, kInflateBadData, {}});
    }
  }
  {
    BitWriter w;
    w.put(1, 1);
    w.put(0, 2);
    w.align();
    w.put(5, 16);
    w.put(0xFFFB, 16);  // not the complement of 5
    for (uint8_t b : hello) w.putByte(b);
    add("stored LEN and NLEN disagree", w, kInflateBadData);
  }
  {
    BitWriter w;
    w.put(1, 1);
    w.put(3, 2);
    w.put(0, 13);
    add("block type 3", w, kInflateBadCodes);
  }
  {
    BitWriter w;
    std::vector<Token> t{lit('x'), match(258, 1), kEnd};
    fixedBlock(w, true, t);
    add("length 258 at distance 1", w, kInflateOk, Bytes(259, 'x'));
  }
  {
    BitWriter w;
    fixedBlock(w, true, {lit('a'), lit('b'), match(3, 2), match(5, 5), kEnd});
    add("distance reaching exactly the first byte", w, kInflateOk,
        expand({lit('a'), lit('b'), match(3, 2), match(5, 5)}));
  }
  {
    BitWriter w;
    fixedBlock(w, true, {lit('a'), match(3, 2), kEnd});
    add("distance before the first byte", w, kInflateBadData);
  }
  {
    BitWriter w;
    fixedBlock(w, false, {lit('a'), kEnd});
    fixedBlock(w, true, {lit('b'), match(3, 3), kEnd});
    add("distance before the first byte, in a later block", w, kInflateBadData);
  }
  {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    auto c = fixedCodes();
    putTokens(w, c, {lit('a')});
    w.putCode(c.lit[257], 7);  // length 3
    putDistSymbol(w, c, 30);   // a fixed code that means nothing
    putTokens(w, c, {kEnd});
    add("fixed distance code 30", w, kInflateBadData);
  }
  {
    BitWriter w;
    w.put(1, 1);
    w.put(1, 2);
    auto c = fixedCodes();
    putTokens(w, c, {lit('a')});
    w.putCode(0xC6, 8);  // length symbol 286
    putDistSymbol(w, c, 0);
    add("fixed length symbol 286", w, kInflateBadData);
  }

  // Dynamic blocks.
  auto lits = fullLitLengths();
  {
    BitWriter w;
    std::vector<Token> t{lit('q'), lit('r'), match(10, 2), match(3, 12), kEnd};
    dynamicBlock(w, true, {lits, std::vector<uint8_t>(30, 5)}, t);
    add("dynamic block with 30 distance codes of 5 bits", w, kInflateBadData);  // incomplete
  }
  {
    std::vector<uint8_t> dist(30, 0);
    dist[0] = 1;
    BitWriter w;
    std::vector<Token> t{lit('q'), match(7, 1), kEnd};
    dynamicBlock(w, true, {lits, dist}, t);
    add("single distance code of length 1", w, kInflateOk, expand(t));
  }
  {
    std::vector<uint8_t> dist(30, 0);
    dist[0] = 2;
    BitWriter w;
    dynamicBlock(w, true, {lits, dist}, {lit('q'), match(7, 1), kEnd});
    add("single distance code of length 2", w, kInflateBadData);
  }
  {
    std::vector<uint8_t> dist(30, 0);
    dist[0] = 1;
    BitWriter w;
    dynamicHeader(w, true, {lits, dist});
    Codes c(lits, dist);
    putTokens(w, c, {lit('q')});
    w.putCode(c.lit[257], c.litLengths[257]);
    w.putCode(1, 1);  // the unused half of the 1-bit distance code
    add("unused half of a single 1-bit distance code", w, kInflateBadData);
  }
  {
    BitWriter w;
    std::vector<Token> t{lit('o'), lit('k'), kEnd};
    dynamicBlock(w, true, {lits, std::vector<uint8_t>(1, 0)}, t);
    add("no distance codes, literals only", w, kInflateOk, expand(t));
  }
  {
    BitWriter w;
    dynamicHeader(w, true, {lits, std::vector<uint8_t>(4, 0)});
    Codes c(lits, std::vector<uint8_t>(4, 0));
    putTokens(w, c, {lit('o')});
    w.putCode(c.lit[260], c.litLengths[260]);
    w.put(0, 16);  // whatever would follow as a distance code
    add("no distance codes, but a match", w, kInflateBadData);
  }
  {
    BitWriter w;
    dynamicHeader(w, true, {lits, std::vector<uint8_t>(30, 5), std::vector<uint8_t>(19, 0), {}});
    w.put(0, 32);
    add("all-zero code-length code", w, kInflateBadData);
  }
  {
    // Code-length code: symbols 0 and 18 of 1 bit each; 286 + 30 zeros via 18s.
    std::vector<uint8_t> clen(19, 0);
    clen[0] = clen[18] = 1;
    BitWriter w;
    dynamicHeader(w, true,
                  {std::vector<uint8_t>(286, 0),
                   std::vector<uint8_t>(30, 0),
                   clen,
                   {{18, 127}, {18, 127}, {18, 29}}});
    w.put(0, 32);
    add("all-zero literal/length lengths", w, kInflateBadData);
  }
  {
    std::vector<uint8_t> clen(19, 0);
    clen[0] = clen[18] = 1;
    BitWriter w;
    dynamicHeader(w, true,
                  {std::vector<uint8_t>(286, 0),
                   std::vector<uint8_t>(30, 0),
                   clen,
                   {{18, 127}, {18, 127}, {18, 41}}});  // 138 + 138 + 52 > 316
    w.put(0, 32);
    add("repeat past the last length", w, kInflateBadData);
  }
  {
    std::vector<uint8_t> clen(19, 0);
    clen[8] = clen[16] = 1;
    BitWriter w;
    dynamicHeader(w, true, {lits, std::vector<uint8_t>(30, 5), clen, {{16, 0}, {8, 0}}});
    w.put(0, 32);
    add("repeat of the previous length with none before it", w, kInflateBadData);
  }
  {
    std::vector<uint8_t> clen(19, 0);
    clen[1] = 2;  // a lone 2-bit code: incomplete
    BitWriter w;
    dynamicHeader(w, true, {std::vector<uint8_t>(257, 1), std::vector<uint8_t>(1, 1), clen, {}});
    w.put(0, 32);
    add("incomplete code-length code", w, kInflateBadData);
  }
  {
    std::vector<uint8_t> clen(19, 1);  // 19 codes of one bit
    BitWriter w;
    dynamicHeader(w, true, {std::vector<uint8_t>(257, 1), std::vector<uint8_t>(1, 1), clen, {}});
    w.put(0, 32);
    add("over-subscribed code-length code", w, kInflateBadCodes);
  }
  {
    BitWriter w;
    dynamicHeader(w, true, {std::vector<uint8_t>(286, 8), std::vector<uint8_t>(30, 5)});
    w.put(0, 32);
    add("over-subscribed literal/length code", w, kInflateBadCodes);
  }
  {
    std::vector<uint8_t> l = lits;
    l[5] = 0;  // one code missing: incomplete
    BitWriter w;
    dynamicBlock(w, true, {l, std::vector<uint8_t>(2, 1)}, {lit('a'), kEnd});
    add("incomplete literal/length code", w, kInflateBadData);
  }
  {
    BitWriter w;
    dynamicHeader(w, true, {lits, std::vector<uint8_t>(30, 5), std::nullopt, {}, 287, 30});
    add("HLIT above 286", w, kInflateBadData);
  }
  {
    std::vector<uint8_t> dist(31, 5);
    dist[30] = 0;
    BitWriter w;
    dynamicHeader(w, true, {lits, dist, std::nullopt, {}, 286, 31});
    add("HDIST above 30", w, kInflateBadData);
  }
  {
    // A run of zeros written with code 18 across the literal/distance boundary.
    std::vector<uint8_t> l(286, 0), d(30, 0), clen(19, 0);
    std::fill(l.begin(), l.begin() + 228, 8);
    std::fill(l.begin() + 228, l.begin() + 284, 9);  // 228 * 2 + 56 = 512: complete
    d[28] = d[29] = 1;
    clen[1] = clen[8] = clen[9] = clen[18] = 2;
    std::vector<std::pair<unsigned, unsigned>> seq(228, {8, 0});
    seq.insert(seq.end(), 56, {9, 0});
    seq.push_back({18, 30 - 11});  // 2 literal/length zeros and 28 distance zeros
    seq.push_back({1, 0});
    seq.push_back({1, 0});
    BitWriter w;
    dynamicHeader(w, true, {l, d, clen, seq});
    std::vector<Token> t{lit('z'), lit('!'), kEnd};
    putTokens(w, Codes(l, d), t);
    add("zero run across the literal/distance boundary", w, kInflateOk, expand(t));
  }
  return cases;
}

TEST(Inflate, DecodesHandBuiltStreams) {
  for (const auto& c : handBuiltCases()) {
    for (size_t block : {size_t(1), size_t(3), size_t(16000)}) {
      Outcome r = inflate(c.stream, block);
      EXPECT_EQ(r.result, c.result) << c.name << ", blocks of " << block;
      if (c.result == kInflateOk) {
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.flushes, 1) << c.name;
      } else {
        EXPECT_EQ(r.flushes, 0) << c.name;
      }
    }
  }
}

// Python's zlib (another decoder) accepts exactly the hand-built streams we accept, with
// the same output.
TEST(Inflate, AgreesWithZlibOnHandBuiltStreams) {
  auto cases = handBuiltCases();
  test::TempDir dir;
  std::string list;
  for (size_t i = 0; i < cases.size(); ++i) {
    test::writeFile(dir / std::to_string(i), cases[i].stream);
    list += std::to_string(i) + " ";
  }
  const char* script =
      "import sys,zlib\n"
      "for n in sys.argv[2:]:\n"
      "  d=zlib.decompressobj(-15)\n"
      "  try:\n"
      "    o=d.decompress(open(sys.argv[1]+'/'+n,'rb').read())\n"
      "    print(n, 'ok' if d.eof else 'short', o.hex() or '-')\n"
      "  except zlib.error:\n"
      "    print(n, 'bad', '-')\n";
  test::writeFile(dir / "check.py", std::string(script));
  auto r = test::run("python3 " + test::shq(dir / "check.py") + " " + test::shq(dir.path()) + " " +
                     list);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  size_t i;
  std::string verdict, hex;
  int seen = 0;
  while (lines >> i >> verdict >> hex) {
    ++seen;
    const auto& c = cases.at(i);
    Outcome ours = inflate(c.stream);
    EXPECT_EQ(ours.result == kInflateOk, verdict == "ok") << c.name << ": zlib says " << verdict;
    if (verdict == "ok") {
      std::string oursHex;
      for (uint8_t b : ours.out)
        oursHex += "0123456789abcdef"[b >> 4], oursHex += "0123456789abcdef"[b & 15];
      EXPECT_EQ(oursHex.empty() ? "-" : oursHex, hex) << c.name;
    }
  }
  EXPECT_EQ(seen, int(cases.size()));
}

// Matches that cross the window's end, whose source wraps around it, or that start right
// at it, at many window positions.
TEST(Inflate, MatchesAcrossTheWindowEnd) {
  for (unsigned lead :
       {32768u - 300, 32768u - 258, 32768u - 257, 32768u - 100, 32768u - 3, 32768u - 1, 32768u,
        32768u + 5, 40000u, 65536u - 130, 65535u + 3, 100000u}) {
    Bytes start = test::textBytes(lead, lead);
    BitWriter w;
    // A few bytes in the window before the stored data, which may be long enough to pass
    // the window by.
    fixedBlock(w, false, {lit(start[0]), lit(start[1]), lit(start[2]), kEnd});
    for (size_t at = 3; at < start.size(); at += 65535) {
      Bytes part(start.begin() + at, start.begin() + std::min(start.size(), at + 65535));
      storedBlock(w, false, part);
    }
    std::vector<Token> t{match(258, 1), lit('!'),        match(258, 100), match(200, 32768),
                         lit('#'),      match(3, 32768), match(258, 7),   match(258, 30000)};
    // Enough after the matches that the decoder's fast path runs to the window's end.
    for (int i = 0; i < 40; ++i) t.push_back(lit(uint8_t('a' + i % 26)));
    t.push_back(kEnd);
    fixedBlock(w, true, t);
    Bytes want = expand(t, start);
    for (size_t block : {size_t(7), size_t(16000)}) {
      Outcome r = inflate(w.bytes(), block);
      ASSERT_EQ(r.result, kInflateOk) << "lead " << lead;
      ASSERT_EQ(r.out.size(), want.size());
      auto diff = std::mismatch(r.out.begin(), r.out.end(), want.begin());
      ASSERT_TRUE(diff.first == r.out.end())
          << "lead " << lead << ", blocks of " << block << ": first difference at "
          << (diff.first - r.out.begin());
    }
  }
}

// ---- Streams made by zlib ----

struct ZlibConfig {
  int level, wbits, memLevel, strategy;
  size_t flushEvery;  // a full flush every so many bytes (0 = none): empty stored blocks
};

// Raw deflate streams of `data` for each configuration, made by Python's zlib.
std::vector<Bytes> zlibStreams(const Bytes& data, const std::vector<ZlibConfig>& configs) {
  test::TempDir dir;
  test::writeFile(dir / "in", data);
  std::string args;
  for (const auto& c : configs)
    args += " " + std::to_string(c.level) + "," + std::to_string(c.wbits) + "," +
            std::to_string(c.memLevel) + "," + std::to_string(c.strategy) + "," +
            std::to_string(c.flushEvery);
  const char* script =
      "import sys,zlib\n"
      "d=open(sys.argv[1]+'/in','rb').read()\n"
      "for i,a in enumerate(sys.argv[2:]):\n"
      "  l,wb,m,s,f=map(int,a.split(','))\n"
      "  c=zlib.compressobj(l,zlib.DEFLATED,wb,m,s)\n"
      "  step=f or len(d) or 1\n"
      "  out=b''.join(c.compress(d[k:k+step])+(c.flush(zlib.Z_FULL_FLUSH) if f else b'')\n"
      "              for k in range(0,len(d),step))+c.flush()\n"
      "  open(sys.argv[1]+'/out%d'%i,'wb').write(out)\n";
  test::writeFile(dir / "deflate.py", std::string(script));
  auto r =
      test::run("python3 " + test::shq(dir / "deflate.py") + " " + test::shq(dir.path()) + args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Bytes> out;
  for (size_t i = 0; i < configs.size(); ++i)
    out.push_back(test::readFile(dir / ("out" + std::to_string(i))));
  return out;
}

// Long runs, short periods (overlapping copies of every distance below 8) and text.
Bytes mixedData(size_t n, uint32_t seed) {
  Bytes out;
  Bytes text = test::textBytes(n, seed), noise = test::randomBytes(n, seed + 1);
  size_t t = 0, k = 0;
  while (out.size() < n) {
    unsigned kind = noise[k++ % n] % 4, len = 1 + noise[k++ % n] * 4;
    unsigned period = 1 + noise[k++ % n] % 12;
    for (unsigned i = 0; i < len && out.size() < n; ++i) {
      if (kind == 0)
        out.push_back(text[t++ % n]);
      else if (kind == 1)
        out.push_back(noise[(k + i) % n]);
      else
        out.push_back(out.size() >= period ? out[out.size() - period] : uint8_t(i));
    }
  }
  return out;
}

TEST(Inflate, DecodesWhatZlibMakes) {
  const std::vector<ZlibConfig> configs = {
      {0, -15, 8, 0, 0}, {1, -15, 8, 0, 0}, {6, -15, 8, 0, 0},    {9, -15, 9, 0, 0},
      {6, -15, 8, 1, 0}, {6, -15, 8, 2, 0}, {6, -15, 8, 3, 0},    {6, -15, 8, 4, 0},
      {9, -9, 1, 0, 0},  {6, -15, 1, 0, 0}, {6, -15, 8, 0, 1000}, {1, -15, 8, 4, 77},
  };
  const struct {
    const char* name;
    Bytes data;
  } inputs[] = {
      {"empty", {}},
      {"one byte", {'z'}},
      {"text", test::textBytes(300000, 1)},
      {"random", test::randomBytes(70000, 2)},
      {"mixed", mixedData(400000, 3)},
      {"zeros", Bytes(100000, 0)},
  };
  for (const auto& in : inputs) {
    auto streams = zlibStreams(in.data, configs);
    for (size_t i = 0; i < streams.size(); ++i) {
      const auto& c = configs[i];
      for (size_t block : {size_t(1), size_t(5), size_t(8), size_t(13), size_t(16000), SIZE_MAX}) {
        if (block < 8 && in.data.size() > 100000 && i % 3) continue;  // keep the run short
        Outcome r = inflate(streams[i], block);
        ASSERT_EQ(r.result, kInflateOk) << in.name << " level " << c.level << " strategy "
                                        << c.strategy << " blocks of " << block;
        ASSERT_EQ(r.out, in.data) << in.name << " config " << i << " blocks of " << block;
        ASSERT_EQ(r.consumed, streams[i].size()) << in.name << " config " << i;
      }
    }
  }
}

TEST(Inflate, TruncatedStreamsAreDataErrors) {
  Bytes data = mixedData(6000, 9);
  auto streams = zlibStreams(data, {{6, -15, 8, 0, 0}, {0, -15, 8, 0, 0}, {6, -15, 8, 4, 0}});
  for (const Bytes& full : streams) {
    for (size_t cut = 0; cut < full.size(); ++cut) {
      Bytes part(full.begin(), full.begin() + cut);
      for (size_t block : {size_t(1), size_t(16000)}) {
        Outcome r = inflate(part, block);
        ASSERT_EQ(r.result, kInflateBadData) << "cut at " << cut << " of " << full.size();
        ASSERT_EQ(r.flushes, 0);
      }
    }
  }
}

TEST(Inflate, StopsAtTheFinalBlockAndLeavesTheRest) {
  BitWriter w;
  fixedBlock(w, true, {lit('a'), kEnd});
  Bytes stream = w.bytes();
  const size_t streamSize = stream.size();
  for (int i = 0; i < 40; ++i) stream.push_back(uint8_t(0xA5 + i));  // not deflate data
  for (size_t block : {size_t(1), size_t(16000)}) {
    Outcome r = inflate(stream, block);
    EXPECT_EQ(r.result, kInflateOk);
    EXPECT_EQ(r.out, Bytes{'a'});
    EXPECT_EQ(r.consumed, streamSize);
  }
}

// A byte source that throws as the driver's does when the user cancels.
class CancellingIO : public TMemoryDecodeIO {
 public:
  CancellingIO(const Bytes& data, int refills)
      : TMemoryDecodeIO(data.data(), data.size(), SIZE_MAX, 100), left_(refills) {}
  bool Refill() override {
    if (left_-- == 0) throw EUserCanceled("User Aborted Operation");
    return TMemoryDecodeIO::Refill();
  }

 private:
  int left_;
};

TEST(Inflate, ExceptionsOfTheByteSourcePassThrough) {
  auto streams = zlibStreams(test::textBytes(200000, 4), {{6, -15, 8, 0, 0}, {0, -15, 8, 0, 0}});
  for (const Bytes& s : streams) {
    for (int refills : {0, 1, 7, 50}) {
      CancellingIO io(s, refills);
      try {
        (void)Inflate(io);
        FAIL() << "no exception after " << refills << " refills";
      } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User Aborted Operation");
      }
    }
  }
}

TEST(Inflate, OutputOfDamagedDataStaysBounded) {
  // Random bytes as deflate data: whatever they decode to, the decoder ends, with output
  // bounded by what the input can describe (258 bytes per bit at most).
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    Bytes junk = test::randomBytes(1 + seed % 200, seed);
    Outcome r = inflate(junk, 1 + seed % 9);
    EXPECT_LE(r.out.size(), junk.size() * 8 * 258);
    if (r.result == kInflateOk) {
      EXPECT_EQ(r.flushes, 1);
    }
  }
}

}  // namespace
}  // namespace quelt
