#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <type_traits>

#include "DeflateTrace.h"
#include "engine/DeflateEnc.h"
#include "engine/Errors.h"
#include "engine/Inflate.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

struct TPacked {
  TDeflateResult result;
  Bytes out;
  int writes = 0;
};

TPacked pack(TDeflateEncoder& enc, const Bytes& in, int level, size_t readBlock = SIZE_MAX) {
  TMemoryEncodeIO io(in.data(), in.size(), readBlock);
  TPacked p;
  p.result = enc.Deflate(io, level);
  p.out = std::move(io.out);
  p.writes = io.writes;
  return p;
}

TPacked pack(const Bytes& in, int level, size_t readBlock = SIZE_MAX) {
  auto enc = std::make_unique<TDeflateEncoder>();
  return pack(*enc, in, level, readBlock);
}

// What an extractor gets back from the entry: the bytes themselves when stored, else the
// stream inflated by zlib, which our own Inflate must agree with.
Bytes unpack(const TPacked& p) {
  if (p.result.Method == 0) return p.out;
  Bytes out;
  EXPECT_TRUE(test::zlibInflateRaw(p.out, out)) << "zlib rejects the stream";
  TMemoryDecodeIO io(p.out.data(), p.out.size());
  EXPECT_EQ(Inflate(io), kInflateOk) << "our Inflate rejects the stream";
  EXPECT_TRUE(io.out == out) << "our Inflate decodes another result";
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

Bytes repeatByte(size_t n, uint8_t c) {
  return Bytes(n, c);
}

// Up to 256 KiB from each of the sorted regular files below a few folders, until `target`.
Bytes realFiles(size_t target) {
  namespace fs = std::filesystem;
  std::vector<fs::path> paths;
  for (const char* root : {"/usr/share/common-licenses", "/usr/bin", "/usr/share/doc"}) {
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(root, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
      if (!it->is_symlink(ec) && it->is_regular_file(ec)) paths.push_back(it->path());
    }
  }
  std::sort(paths.begin(), paths.end());
  Bytes all;
  for (size_t i = 0; i < paths.size() && all.size() < target; i += 7) {
    Bytes b = test::readFile(paths[i].string());
    b.resize(std::min({b.size(), size_t(256 << 10), target - all.size()}));
    all.insert(all.end(), b.begin(), b.end());
  }
  if (all.size() < target) {
    Bytes t = test::textBytes(target - all.size(), 5);
    all.insert(all.end(), t.begin(), t.end());
  }
  return all;
}

// Runs of random lengths (1..600) of random bytes: long matches at distance 1.
Bytes runs(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes v;
  while (v.size() < n) v.insert(v.end(), 1 + gen() % 600, uint8_t(gen()));
  v.resize(n);
  return v;
}

// Bytes in which no three-byte string occurs twice, drawn from [lo, lo + span); n must stay
// well below span cubed.
Bytes noRepeats(size_t n, uint32_t seed, int lo = 0, int span = 256) {
  std::mt19937 gen(seed);
  std::set<uint32_t> seen;
  Bytes v;
  while (v.size() < n) {
    uint8_t c = uint8_t(lo + int(gen() % unsigned(span)));
    if (v.size() >= 2) {
      uint32_t key = uint32_t(v[v.size() - 2]) << 16 | uint32_t(v[v.size() - 1]) << 8 | c;
      if (!seen.insert(key).second) continue;
    }
    v.push_back(c);
  }
  return v;
}

void expectSaneTrace(const test::TTrace& t) {
  ASSERT_TRUE(t.ok) << t.error;
  for (const auto& b : t.blocks)
    for (const auto& i : b.items) ASSERT_LE(i.distance, TDeflateEncoder::kMaxDist);
}

TEST(DeflateEnc, RoundTripsAtEveryLevel) {
  const Bytes text = test::textBytes(300000, 1);
  struct Input {
    const char* name;
    Bytes data;
    bool trace;  // also decode with the strict tracer (slow)
  };
  const Input inputs[] = {
      {"empty", {}, true},
      {"one byte", {0x41}, true},
      {"ten bytes without repeats", Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}, true},
      {"261 bytes", Bytes(text.begin(), text.begin() + 261), true},
      {"262 bytes", Bytes(text.begin(), text.begin() + 262), true},
      {"263 bytes", Bytes(text.begin(), text.begin() + 263), true},
      {"one long run", repeatByte(200000, 0), true},
      {"runs", runs(400000, 2), true},
      {"text across window slides", text, true},
      {"incompressible", test::randomBytes(150000, 3), true},
      {"incompressible, then repeated",
       concat({test::randomBytes(40000, 4), test::randomBytes(40000, 4)}), true},
      {"real files", realFiles(2 << 20), false},
  };
  auto enc = std::make_unique<TDeflateEncoder>();
  for (const auto& in : inputs) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(std::string(in.name) + ", level " + std::to_string(level));
      TPacked p = pack(*enc, in.data, level);
      EXPECT_EQ(p.result.CompressedSize, p.out.size());
      ASSERT_EQ(unpack(p), in.data);
      if (in.trace && p.result.Method == 8) {
        test::TTrace t = test::traceDeflate(p.out);
        expectSaneTrace(t);
        EXPECT_EQ(t.out, in.data);
        EXPECT_EQ(t.bytesUsed, p.out.size());
      }
    }
  }
}

TEST(DeflateEnc, ShortReadsDoNotChangeTheOutput) {
  const Bytes data =
      concat({test::textBytes(100000, 9), runs(50000, 9), test::randomBytes(30000, 9)});
  for (int level = 1; level <= 9; ++level) {
    TPacked whole = pack(data, level);
    for (size_t block : {size_t(1), size_t(7), size_t(261), size_t(4096)}) {
      TPacked part = pack(data, level, block);
      EXPECT_EQ(part.out, whole.out) << "level " << level << ", reads of " << block;
    }
  }
}

TEST(DeflateEnc, StoresEntriesThatDoNotShrink) {
  struct Case {
    const char* name;
    Bytes data;
    int method;
    uint64_t size;
  };
  const Case cases[] = {
      {"empty", {}, 0, 0},
      {"one byte", {0x7F}, 0, 1},
      {"ten bytes without repeats", Bytes{'q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p'}, 0, 10},
      {"noise in one block", test::randomBytes(30000, 21), 0, 30000},
      // Two blocks (the first ends at 32767 items): stored blocks, 5 bytes of header each.
      {"noise in two blocks", test::randomBytes(40000, 22), 8, 40010},
      {"text", test::textBytes(10000, 23), 8, 0},
  };
  for (const auto& c : cases) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
      TPacked p = pack(c.data, level);
      EXPECT_EQ(p.result.Method, c.method);
      if (c.size) {
        EXPECT_EQ(p.result.CompressedSize, c.size);
      }
      if (c.method == 0) {
        EXPECT_EQ(p.out, c.data);
      }
      if (c.method == 8 && c.size) {
        test::TTrace t = test::traceDeflate(p.out);
        ASSERT_TRUE(t.ok) << t.error;
        ASSERT_EQ(t.blocks.size(), 2u);
        EXPECT_EQ(t.blocks[0].type, 0);
        EXPECT_EQ(t.blocks[0].storedLength + t.blocks[1].storedLength, c.data.size());
        EXPECT_EQ(t.blocks[1].type, 0);
      }
    }
  }
}

TEST(DeflateEnc, SetsTheLevelFlags) {
  // Levels outside 1..9 count as the nearest end.
  const std::pair<int, uint16_t> cases[] = {{0, 4}, {1, 4}, {2, 4}, {3, 0}, {4, 0}, {5, 0},
                                            {6, 0}, {7, 0}, {8, 2}, {9, 2}, {10, 2}};
  const Bytes data = test::textBytes(5000, 4);
  for (auto [level, flags] : cases) {
    EXPECT_EQ(pack(data, level).result.Flags, flags) << "level " << level;
    EXPECT_EQ(pack({}, level).result.Flags, flags) << "level " << level << ", stored";
  }
}

TEST(DeflateEnc, ClassifiesTextAndBinary) {
  Bytes mostlyText = test::textBytes(20000, 6);
  Bytes quarterHigh = mostlyText;
  // Every third literal byte high: far more than a quarter of the text bytes.
  std::mt19937 gen(6);
  for (size_t i = 0; i < quarterHigh.size(); i += 3) quarterHigh[i] = uint8_t(128 + gen() % 128);
  struct Case {
    const char* name;
    Bytes data;
    uint16_t attributes;
  };
  const Case cases[] = {{"text", mostlyText, 1},
                        {"text with many high bytes", quarterHigh, 0},
                        {"noise", test::randomBytes(20000, 7), 0},
                        {"zeros (one literal, a byte below 7)", repeatByte(20000, 0), 0},
                        {"empty", {}, 1}};
  for (const auto& c : cases)
    for (int level : {1, 6, 9})
      EXPECT_EQ(pack(c.data, level).result.InternalAttributes, c.attributes) << c.name;
}

TEST(DeflateEnc, HundredEqualBytesAreTwoLiteralsAndOneMatch) {
  const Bytes data = repeatByte(100, 'z');
  for (int level = 1; level <= 9; ++level) {
    TPacked p = pack(data, level);
    ASSERT_EQ(p.result.Method, 8);
    test::TTrace t = test::traceDeflate(p.out);
    ASSERT_TRUE(t.ok) << t.error;
    ASSERT_EQ(t.blocks.size(), 1u);
    const auto& items = t.blocks[0].items;
    ASSERT_EQ(items.size(), 3u) << "level " << level;
    EXPECT_EQ(items[0].length, 0);
    EXPECT_EQ(items[1].length, 0);
    EXPECT_EQ(items[2].length, 98);
    EXPECT_EQ(items[2].distance, 1);
  }
}

TEST(DeflateEnc, PositionZeroIsNeverAMatchSource) {
  Bytes data;
  for (int i = 0; i < 40; ++i) data.insert(data.end(), {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
  for (int level = 1; level <= 9; ++level) {
    TPacked p = pack(data, level);
    test::TTrace t = test::traceDeflate(p.out);
    ASSERT_TRUE(t.ok) << t.error;
    const auto& items = t.blocks[0].items;
    // The string at 8 repeats the one at 0 but is sent as a literal; the one at 9 matches.
    ASSERT_GE(items.size(), 10u);
    for (int i = 0; i < 9; ++i)
      EXPECT_EQ(items[size_t(i)].length, 0) << "level " << level << " item " << i;
    EXPECT_EQ(items[9].distance, 8);
  }
}

// A three-byte match more than 4096 bytes back costs more than its literals at the lazy
// levels, and is taken at levels 2 and 3; level 1 looks for four bytes or more only.
TEST(DeflateEnc, ShortFarMatchesOnlyAtTheQuickLevels) {
  struct Case {
    size_t distance;
    bool usedByLazy;
  };
  for (auto [distance, usedByLazy] : {Case{4097, false}, Case{4200, false}, Case{4096, true},
                                      Case{3000, true}, Case{100, true}, Case{5, true}}) {
    // Bytes with no three-byte repeat, then one planted: a single possible match of length 3.
    Bytes data;
    for (uint32_t seed = 1;; ++seed) {
      data = noRepeats(6000, seed, 'a', 26);
      const size_t at = 5500;
      std::copy_n(data.begin() + long(at - distance), 3, data.begin() + long(at));
      std::set<uint32_t> seen;
      int repeats = 0;
      for (size_t i = 0; i + 2 < data.size(); ++i)
        repeats +=
            !seen.insert(uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2]).second;
      if (repeats == 1 && data[at + 3] != data[at - distance + 3]) break;
    }
    for (int level = 1; level <= 9; ++level) {
      TPacked p = pack(data, level);
      ASSERT_EQ(p.result.Method, 8);
      test::TTrace t = test::traceDeflate(p.out);
      ASSERT_TRUE(t.ok) << t.error;
      bool used = level == 1 ? false : level <= 3 || usedByLazy;
      ASSERT_EQ(t.matches(), used ? 1u : 0u) << "distance " << distance << ", level " << level;
      if (used) {
        for (const auto& i : t.blocks[0].items)
          if (i.length) {
            EXPECT_EQ(i.length, 3);
            EXPECT_EQ(i.distance, distance);
          }
      }
    }
  }
}

// Level 1 keeps the two latest positions of each four-byte string: the longer of their
// matches wins, and an older, longer one is not seen (it is at level 2).
TEST(DeflateEnc, LevelOneSeesTheTwoLatestCandidates) {
  const Bytes u = noRepeats(4000, 71, 'a', 26);
  auto part = [&](size_t from, size_t n) {
    return Bytes(u.begin() + long(from), u.begin() + long(from + n));
  };
  // No four bytes of the data share the prefix's bucket, which would push a candidate out.
  const Bytes prefix = {200, 201, 202, 204};
  auto tail = [&](int k) { return part(3000 + size_t(k) * 100, 20); };
  for (int k : {1, 2, 3}) {
    Bytes data;
    std::vector<size_t> at = {0};  // where each prefix starts, the first one at index 1
    auto add = [&](const Bytes& filler, int t) {
      data.insert(data.end(), filler.begin(), filler.end());
      // A byte of its own before each prefix, so that no match starts a byte early by chance
      // (the fillers' last bytes may agree) and leaves the prefix an inner position.
      data.push_back(uint8_t(150 + at.size()));
      at.push_back(data.size());
      for (const Bytes& b : {prefix, tail(t)}) data.insert(data.end(), b.begin(), b.end());
    };
    add(part(0, 1000), 1);
    add(part(1000, 1000), 2);
    add(part(2000, 900), 3);
    add(part(3500, 400), k);
    const size_t last = at.back();
    for (int level : {1, 2}) {
      TPacked p = pack(data, level);
      test::TTrace t = test::traceDeflate(p.out);
      ASSERT_TRUE(t.ok) << t.error;
      size_t pos = 0;
      const test::TTraceItem* found = nullptr;
      for (const auto& b : t.blocks)
        for (const auto& i : b.items) {
          if (pos == last) found = &i;
          pos += i.length ? size_t(i.length) : 1;
        }
      ASSERT_NE(found, nullptr) << "k " << k << ", level " << level;
      if (k == 1 && level == 1) {
        EXPECT_EQ(found->length, 4);
        EXPECT_EQ(size_t(found->distance), last - at[3]);
      } else {
        EXPECT_EQ(found->length, 24) << "k " << k << ", level " << level;
        EXPECT_EQ(size_t(found->distance), last - at[k]);
      }
    }
  }
}

// Levels 4 to 7 chain positions by five bytes and keep four-byte matches in a side table:
// a lone four-byte repeat must still be found at every level, and where an older candidate
// repeats more than the nearest four bytes, the older one must win.
TEST(DeflateEnc, FourByteRepeatsAndLongerOlderOnes) {
  const Bytes u = noRepeats(6000, 29, 'a', 26);
  auto itemAt = [](const test::TTrace& t, size_t at) -> const test::TTraceItem* {
    size_t pos = 0;
    for (const auto& b : t.blocks)
      for (const auto& i : b.items) {
        if (pos == at) return &i;
        pos += i.length ? size_t(i.length) : 1;
      }
    return nullptr;
  };
  for (size_t distance : {5u, 300u, 5000u}) {
    // One four-byte repeat; the byte after it differs from the one after its source.
    Bytes data = u;
    const size_t at = 5800;
    const Bytes four = {240, 241, 242, 243};
    std::copy(four.begin(), four.end(), data.begin() + long(at - distance));
    std::copy(four.begin(), four.end(), data.begin() + long(at));
    for (int level = 1; level <= 9; ++level) {
      test::TTrace t = test::traceDeflate(pack(data, level).out);
      ASSERT_TRUE(t.ok) << t.error;
      const test::TTraceItem* i = itemAt(t, at);
      ASSERT_NE(i, nullptr) << "distance " << distance << ", level " << level;
      EXPECT_EQ(i->length, 4) << "distance " << distance << ", level " << level;
      EXPECT_EQ(size_t(i->distance), distance) << "level " << level;
    }
  }
  // The same four bytes three times: followed by X, by Y, then by X again.
  Bytes data = u;
  const Bytes x = {240, 241, 242, 243, 250, 251}, y = {240, 241, 242, 243, 252, 253};
  std::copy(x.begin(), x.end(), data.begin() + 1000);
  std::copy(y.begin(), y.end(), data.begin() + 3000);
  std::copy(x.begin(), x.end(), data.begin() + 5000);
  for (int level = 2; level <= 9; ++level) {
    test::TTrace t = test::traceDeflate(pack(data, level).out);
    ASSERT_TRUE(t.ok) << t.error;
    const test::TTraceItem* i = itemAt(t, 5000);
    ASSERT_NE(i, nullptr) << "level " << level;
    EXPECT_EQ(i->length, 6) << "level " << level;
    EXPECT_EQ(i->distance, 4000) << "level " << level;
  }
}

// The finder reaches 32506 bytes back and no further, also after the window slid.
TEST(DeflateEnc, MatchesReachTheLongestDistanceAndNoFurther) {
  const Bytes filler = test::textBytes(40000, 31);  // all below 128: shares nothing with the marker
  const Bytes marker = noRepeats(1000, 32, 128, 128);
  for (int gap : {0, 1}) {
    Bytes between = test::textBytes(TDeflateEncoder::kMaxDist - 1000 + size_t(gap), 33);
    Bytes data = concat({filler, marker, between, marker, filler});
    for (int level = 1; level <= 9; ++level) {
      TPacked p = pack(data, level);
      ASSERT_EQ(unpack(p), data);
      test::TTrace t = test::traceDeflate(p.out);
      expectSaneTrace(t);
      size_t longAtMax = 0;
      for (const auto& b : t.blocks)
        for (const auto& i : b.items)
          longAtMax += i.length >= 200 && i.distance == TDeflateEncoder::kMaxDist;
      EXPECT_EQ(longAtMax > 0, gap == 0) << "gap " << gap << ", level " << level;
    }
  }
}

TEST(DeflateEnc, QuickLevelsEndBlocksAtTheItemLimit) {
  const Bytes data = noRepeats(120000, 41, 0, 128);  // literals only: one item a byte
  for (int level : {1, 2}) {
    TPacked p = pack(data, level);
    test::TTrace t = test::traceDeflate(p.out);
    ASSERT_TRUE(t.ok) << t.error;
    ASSERT_EQ(t.blocks.size(), 4u);
    for (size_t b = 0; b + 1 < t.blocks.size(); ++b) EXPECT_EQ(t.blocks[b].items.size(), 32767u);
  }
}

// An encoder reused after any entry, even one cut short by the writer, produces what a fresh
// one does.
TEST(DeflateEnc, ReuseGivesTheSameOutputAsAFreshEncoder) {
  struct TFailingIO : TMemoryEncodeIO {
    using TMemoryEncodeIO::TMemoryEncodeIO;
    void Write(const uint8_t* p, size_t n) override {
      if (++calls == 5) throw EUserCanceled("User Aborted Operation");
      TMemoryEncodeIO::Write(p, n);
    }
    int calls = 0;
  };
  const Bytes big = concat({test::textBytes(200000, 51), test::randomBytes(50000, 52)});
  const Bytes small = test::textBytes(3000, 53);
  for (int level : {1, 6, 9}) {
    const TPacked fresh = pack(small, level);
    auto enc = std::make_unique<TDeflateEncoder>();
    pack(*enc, big, level);
    EXPECT_EQ(pack(*enc, small, level).out, fresh.out);

    TFailingIO failing(big.data(), big.size());
    EXPECT_THROW(enc->Deflate(failing, level), EUserCanceled);
    EXPECT_EQ(pack(*enc, small, level).out, fresh.out);
  }
}

// Where each item of a trace starts in the output.
struct TPlacedItem {
  size_t at;
  test::TTraceItem item;
};
std::vector<TPlacedItem> placeItems(const test::TTrace& t) {
  std::vector<TPlacedItem> v;
  size_t at = 0;
  for (const auto& b : t.blocks) {
    if (b.type == 0) {
      at += b.storedLength;
      continue;
    }
    for (const auto& i : b.items) {
      v.push_back({at, i});
      at += i.length ? i.length : 1;
    }
  }
  return v;
}

// Literals sent for the bytes in [from, to).
size_t literalsIn(const test::TTrace& t, size_t from, size_t to) {
  size_t n = 0;
  for (const auto& p : placeItems(t)) n += p.item.length == 0 && p.at >= from && p.at < to;
  return n;
}

// Inputs at the edges of what the match finder handles: each must round-trip through zlib and
// our Inflate at every level, and copies must come out as matches.
TEST(DeflateEnc, EdgeInputsRoundTripAndRepeatsBecomeMatches) {
  // Noise of 7-bit bytes: few matches, yet Huffman-coded blocks, so the trace shows the items.
  auto noise7 = [](size_t n, uint32_t seed) {
    Bytes b = test::randomBytes(n, seed);
    for (auto& c : b) c &= 0x7F;
    return b;
  };
  const Bytes noise = noise7(70000, 71);
  // A copy of 600 noise bytes from 20000 back, placed across the position where the window
  // first slides (65274), after long noise that makes the finder skip ahead.
  Bytes acrossSlide = noise;
  std::copy_n(noise.begin() + 45000, 600, acrossSlide.begin() + 65000);
  // Noise, then a copy of its start: after skipping through the noise the copy must still be
  // found.
  const Bytes lead = noise7(30000, 72);
  const Bytes noiseThenCopy = concat({lead, Bytes(lead.begin() + 100, lead.begin() + 2100)});
  struct Case {
    const char* name;
    Bytes data;
    size_t copyFrom, copyTo;  // bytes that repeat earlier ones and need (almost) no literals
  };
  const Case cases[] = {
      {"empty", {}, 0, 0},
      {"one byte", {'a'}, 0, 0},
      {"two bytes", {'a', 'a'}, 0, 0},
      {"three bytes", {'a', 'b', 'c'}, 0, 0},
      {"four equal bytes", {7, 7, 7, 7}, 0, 0},
      {"four bytes", {'w', 'x', 'y', 'z'}, 0, 0},
      {"all zero", Bytes(100000, 0), 2, 100000},
      {"one byte over and over across slides", Bytes(140000, 0xA5), 2, 140000},
      {"a copy across the first slide", acrossSlide, 65008, 65600},
      {"noise, then a copy of it", noiseThenCopy, 30008, 32000},
  };
  auto enc = std::make_unique<TDeflateEncoder>();
  for (const auto& c : cases) {
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
      TPacked p = pack(*enc, c.data, level);
      ASSERT_EQ(unpack(p), c.data);
      if (c.data.size() < 5) continue;
      ASSERT_EQ(p.result.Method, 8);
      test::TTrace t = test::traceDeflate(p.out);
      expectSaneTrace(t);
      EXPECT_EQ(t.out, c.data);
      for (const auto& b : t.blocks) EXPECT_NE(b.type, 0) << "a stored block hides the items";
      if (c.copyTo > c.copyFrom) {
        EXPECT_LE(literalsIn(t, c.copyFrom, c.copyTo), 8u);
      }
    }
  }
}

// One encoder used for a series of entries at mixed levels writes for each exactly what a
// fresh encoder writes: no chain, side-table or skipping state leaks from one to the next.
TEST(DeflateEnc, ASeriesOfEntriesMatchesFreshEncoders) {
  const Bytes text = test::textBytes(90000, 81);
  const struct {
    Bytes data;
    int level;
  } entries[] = {
      {test::randomBytes(100000, 82), 6},  // leaves the finder skipping
      {concat({text, text}), 1},
      {Bytes{'a', 'b', 'c'}, 9},
      {Bytes(70000, 0), 4},
      {concat({test::randomBytes(5000, 83), text}), 9},
      {text, 2},
      {Bytes(text.begin(), text.begin() + 300), 6},
  };
  auto shared = std::make_unique<TDeflateEncoder>();
  for (size_t i = 0; i < std::size(entries); ++i) {
    const auto& e = entries[i];
    TPacked reused = pack(*shared, e.data, e.level);
    TPacked fresh = pack(e.data, e.level);
    EXPECT_EQ(reused.out, fresh.out) << "entry " << i;
    EXPECT_EQ(reused.result.Method, fresh.result.Method) << "entry " << i;
    EXPECT_EQ(unpack(reused), e.data) << "entry " << i;
  }
}

TEST(DeflateEnc, ReadErrorsEndTheCallAndOverlongReadsAreRefused) {
  struct TBadIO : TEncodeIO {
    explicit TBadIO(int mode) : mode(mode) {}
    size_t Read(uint8_t*, size_t count) override {
      if (mode == 0) throw EStreamError("read failed");
      return count + 1;  // claims more than it was asked for
    }
    void Write(const uint8_t*, size_t) override {}
    int mode;
  };
  auto enc = std::make_unique<TDeflateEncoder>();
  TBadIO failing(0), overlong(1);
  EXPECT_THROW(enc->Deflate(failing, 6), EStreamError);
  EXPECT_THROW(enc->Deflate(overlong, 6), EAssertionFailed);
}

// The writer encrypts what it is given; the bytes are the encoder's (a stored block's come
// straight from the match window, which later blocks still match against), so it must
// encrypt a copy. The interface hands it read-only bytes to say so.
TEST(DeflateEnc, WriterSeesReadOnlyBytesAndAnEncryptedCopyDecodes) {
  static_assert(
      std::is_same_v<decltype(&TEncodeIO::Write), void (TEncodeIO::*)(const uint8_t*, size_t)>);
  struct TCipherIO : TMemoryEncodeIO {
    using TMemoryEncodeIO::TMemoryEncodeIO;
    void Write(const uint8_t* p, size_t n) override {
      Bytes copy(p, p + n);
      for (auto& b : copy) b ^= key(pos++);
      TMemoryEncodeIO::Write(copy.data(), copy.size());
    }
    static uint8_t key(uint64_t i) { return uint8_t(i * 2654435761u >> 13); }
    uint64_t pos = 0;
  };
  // Noise stored as blocks, then repeated, so matches reach back into the stored bytes.
  const Bytes noise = test::randomBytes(40000, 61);
  const Bytes data = concat({noise, noise, test::textBytes(20000, 62), noise});
  auto enc = std::make_unique<TDeflateEncoder>();
  for (int level : {1, 6}) {
    TCipherIO io(data.data(), data.size());
    TDeflateResult r = enc->Deflate(io, level);
    Bytes plain = io.out;
    for (uint64_t i = 0; i < plain.size(); ++i) plain[i] ^= TCipherIO::key(i);
    Bytes out;
    ASSERT_TRUE(test::zlibInflateRaw(plain, out));
    EXPECT_EQ(out, data);
    EXPECT_EQ(r.CompressedSize, plain.size());
  }
}

// Over 512 MiB of output: a 32-bit count of bits would wrap.
TEST(DeflateEnc, CountsSizesBeyondFourGigabits) {
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs an optimised build to run in reasonable time";
#else
  struct TNoiseIO : TEncodeIO {
    size_t Read(uint8_t* buf, size_t count) override {
      size_t n = std::min<uint64_t>(count, total - produced);
      for (size_t i = 0; i < n; i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(buf + i, &x, std::min<size_t>(8, n - i));
      }
      crcIn = crc32(crcIn, buf, uInt(n));
      produced += n;
      return n;
    }
    void Write(const uint8_t* p, size_t n) override {
      written += n;
      z.next_in = const_cast<uint8_t*>(p);
      z.avail_in = uInt(n);
      while (z.avail_in > 0 && rc == Z_OK) {
        z.next_out = sink;
        z.avail_out = sizeof sink;
        rc = inflate(&z, Z_NO_FLUSH);
        crcOut = crc32(crcOut, sink, uInt(sizeof sink - z.avail_out));
      }
    }
    const uint64_t total = (uint64_t(1) << 29) + (uint64_t(24) << 20);
    uint64_t produced = 0, written = 0, x = 88172645463325252ull;
    uLong crcIn = crc32(0, nullptr, 0), crcOut = crc32(0, nullptr, 0);
    z_stream z{};
    int rc = Z_OK;
    uint8_t sink[1 << 16];
  };
  auto io = std::make_unique<TNoiseIO>();
  ASSERT_EQ(inflateInit2(&io->z, -15), Z_OK);
  auto enc = std::make_unique<TDeflateEncoder>();
  TDeflateResult r = enc->Deflate(*io, 1);
  inflateEnd(&io->z);
  EXPECT_EQ(io->rc, Z_STREAM_END);
  EXPECT_EQ(io->crcOut, io->crcIn);
  EXPECT_EQ(r.CompressedSize, io->written);
  EXPECT_GT(r.CompressedSize, uint64_t(1) << 29);
  EXPECT_EQ(r.Method, 8);
#endif
}

}  // namespace
}  // namespace quelt
