#include <gtest/gtest.h>

#include <QImage>
#include <functional>

#include "PictureTestUtil.h"
#include "app/viewers/TgaDecoder.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::TempDir;

struct TLayout {
  const char* what;
  uint8_t type;
  int bits;
  int mapBits;
  bool fromTop, fromRight;
  int alphaBits;
};

using TRgba = std::array<uint8_t, 4>;

uint8_t widen(unsigned five) {
  return uint8_t(five << 3 | five >> 2);
}

// Colours that 15 bits hold exactly, so every layout shows the same picture.
TRgba colour(int x, int y) {
  return {widen(unsigned(x * 3) % 32), widen(unsigned(y * 5) % 32), widen(unsigned(x + y) % 32),
          255};
}
constexpr int kMapFirst = 2, kMapLength = 7;

TRgba expected(const TLayout& l, int x, int y) {
  const int base = l.type & ~8;
  if (base == 3) {
    const uint8_t g = uint8_t(x * 20 + y);
    return {g, g, g, 255};
  }
  TRgba c = base == 1 ? colour((x + 2 * y) % kMapLength, 0) : colour(x, y);
  if (l.alphaBits == 8) c[3] = uint8_t(x * 40 + 1);
  return c;
}

void putColour(std::vector<uint8_t>& out, TRgba c, int bits) {
  if (bits == 16 || bits == 15) {
    const unsigned v = unsigned(c[0] >> 3) << 10 | unsigned(c[1] >> 3) << 5 | unsigned(c[2] >> 3);
    out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
    return;
  }
  out.insert(out.end(), {c[2], c[1], c[0]});
  if (bits == 32) out.push_back(c[3]);
}

std::vector<uint8_t> makeTga(const TLayout& l, int w, int h) {
  const int base = l.type & ~8;
  std::vector<uint8_t> out = {3, uint8_t(base == 1 ? 1 : 0), l.type};
  auto put16 = [&](int v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  put16(base == 1 ? kMapFirst : 0);
  put16(base == 1 ? kMapLength : 0);
  out.push_back(uint8_t(l.mapBits));
  put16(0);
  put16(0);
  put16(w);
  put16(h);
  out.push_back(uint8_t(l.bits));
  out.push_back(uint8_t(l.alphaBits | (l.fromRight ? 0x10 : 0) | (l.fromTop ? 0x20 : 0)));
  out.insert(out.end(), {'i', 'd', '!'});
  if (base == 1)
    for (int i = 0; i < kMapLength; ++i) putColour(out, colour(i, 0), l.mapBits);

  std::vector<std::vector<uint8_t>> pixels;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const int y = l.fromTop ? r : h - 1 - r, x = l.fromRight ? w - 1 - c : c;
      std::vector<uint8_t> p;
      if (base == 1)
        p.push_back(uint8_t(kMapFirst + (x + 2 * y) % kMapLength));
      else if (base == 3)
        p.push_back(uint8_t(x * 20 + y));
      else
        putColour(p, expected(l, x, y), l.bits);
      pixels.push_back(p);
    }
  // Packets run on across line ends, as many writers let them.
  for (size_t i = 0; i < pixels.size();) {
    if (!(l.type & 8)) {
      out.insert(out.end(), pixels[i].begin(), pixels[i].end());
      ++i;
      continue;
    }
    size_t n = 1;
    while (n < 128 && i + n < pixels.size() && pixels[i + n] == pixels[i]) ++n;
    if (n > 1) {
      out.push_back(uint8_t(0x80 | (n - 1)));
      out.insert(out.end(), pixels[i].begin(), pixels[i].end());
    } else {
      while (n < 128 && i + n < pixels.size() && pixels[i + n] != pixels[i + n - 1]) ++n;
      out.push_back(uint8_t(n - 1));
      for (size_t k = i; k < i + n; ++k) out.insert(out.end(), pixels[k].begin(), pixels[k].end());
    }
    i += n;
  }
  return out;
}

// ImageMagick reads every TGA; its pixels must be ours. It widens five-bit colours by cutting
// off where we round, so those may differ by one.
void expectSameAsImageMagick(const std::vector<uint8_t>& file, const TTgaPicture& ours,
                             int tolerance = 0) {
  if (!test::haveTool("convert")) return;
  TempDir dir;
  test::writeFile(dir / "p.tga", file);
  auto r = test::run("convert " + test::shq(dir / "p.tga") + " -auto-orient -depth 8 " +
                     test::shq("rgba:" + dir / "p.raw"));
  ASSERT_EQ(r.status, 0) << r.err;
  auto theirs = test::readFile(dir / "p.raw");
  ASSERT_EQ(theirs.size(), ours.rgba.size());
  for (size_t i = 0; i < theirs.size(); ++i)
    ASSERT_NEAR(int(ours.rgba[i]), int(theirs[i]), tolerance)
        << "pixel " << i / 4 << " byte " << i % 4;
}

TEST(TgaDecoder, ReadsEveryKindPlainAndPacked) {
  const TLayout layouts[] = {
      {"mapped, 24-bit map", 1, 8, 24, false, false, 0},
      {"mapped, 16-bit map, from the top", 1, 8, 16, true, false, 0},
      {"true colour 16", 2, 16, 0, false, false, 0},
      {"true colour 24, from the top", 2, 24, 0, true, false, 0},
      {"true colour 24, from the right", 2, 24, 0, false, true, 0},
      {"true colour 32 with alpha", 2, 32, 0, true, false, 8},
      {"grey", 3, 8, 0, false, false, 0},
  };
  const int w = 21, h = 6;
  for (const TLayout& base : layouts) {
    for (bool packed : {false, true}) {
      TLayout l = base;
      if (packed) l.type = uint8_t(l.type | 8);
      SCOPED_TRACE(testing::Message() << l.what << (packed ? ", packed" : ""));
      auto file = makeTga(l, w, h);
      TTgaPicture pic = DecodeTga(file.data(), file.size());
      ASSERT_EQ(pic.width, uint32_t(w));
      ASSERT_EQ(pic.height, uint32_t(h));
      EXPECT_EQ(pic.hasAlpha, l.alphaBits == 8);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t* p = pic.rgba.data() + (size_t(y) * w + size_t(x)) * 4;
          ASSERT_EQ((TRgba{p[0], p[1], p[2], p[3]}), expected(l, x, y)) << x << "," << y;
        }
      expectSameAsImageMagick(file, pic, l.bits == 16 || l.mapBits == 16 ? 1 : 0);
    }
  }
}

TEST(TgaDecoder, ReadsWhatImageMagickWrites) {
  if (!test::haveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  QImage source(29, 17, QImage::Format_ARGB32);
  for (int y = 0; y < source.height(); ++y)
    for (int x = 0; x < source.width(); ++x) source.setPixel(x, y, qRgb(x * 8, y * 15, 100));
  ASSERT_TRUE(source.save(QString::fromStdString(dir / "s.png")));
  for (const char* options : {"", "-compress RLE", "-colors 9 -type Palette", "-colorspace Gray"}) {
    SCOPED_TRACE(options);
    auto r = test::run("convert " + test::shq(dir / "s.png") + " " + options + " " +
                       test::shq(dir / "s.tga"));
    ASSERT_EQ(r.status, 0) << r.err;
    auto file = test::readFile(dir / "s.tga");
    expectSameAsImageMagick(file, DecodeTga(file.data(), file.size()));
  }
}

TEST(TgaDecoder, UnfilledAlphaDoesNotHideThePicture) {
  TLayout l{"", 2, 32, 0, true, false, 8};
  auto file = makeTga(l, 3, 2);
  for (size_t i = 18 + 3 + 3; i < file.size(); i += 4) file[i] = 0;
  TTgaPicture pic = DecodeTga(file.data(), file.size());
  EXPECT_FALSE(pic.hasAlpha);
  EXPECT_EQ(pic.rgba[3], 255);
}

TEST(TgaDecoder, RefusesDamagedAndHostileFiles) {
  const auto good = makeTga({"", 10, 24, 0, false, false, 0}, 30, 20);
  const auto mapped = makeTga({"", 1, 8, 24, false, false, 0}, 4, 4);
  auto with = [](std::vector<uint8_t> f, size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), f.begin() + long(at));
    return f;
  };
  test::ExpectRefused<ETgaError>(
      {
          {"shorter than a header", std::vector<uint8_t>(good.begin(), good.begin() + 10),
           "not a TGA picture"},
          {"no picture", with(good, 2, {0}), "empty"},
          {"unknown kind", with(good, 2, {5}), "not a TGA picture"},
          {"unknown depth", with(good, 16, {12}), "12 bits are not supported"},
          {"no width", with(good, 12, {0, 0}), "empty"},
          {"65535 by 65535 pixels", with(good, 12, {0xFF, 0xFF, 0xFF, 0xFF}), "too large"},
          {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 5), "ends early"},
          {"as tall as the format allows", with(good, 14, {0xFF, 0x0F}), "ends early"},
          {"identification longer than the file", with(mapped, 0, {0xFF}), "ends early"},
          {"colour map without a map", with(mapped, 1, {0}), "colour map is missing"},
          {"index beyond the map", with(mapped, 3, {40}), "outside the picture's colour map"},
      },
      DecodeTga);
}

}  // namespace
}  // namespace quelt
