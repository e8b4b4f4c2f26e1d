#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include "PictureTestUtil.h"
#include "app/viewers/PcxDecoder.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::MakePcx;
using test::TempDir;
using test::TPcxLayout;
using test::TPcxRuns;
using test::TRgb;

std::vector<TRgb> palette(size_t n) {
  std::vector<TRgb> p;
  for (size_t i = 0; i < n; ++i)
    p.push_back(TRgb{uint8_t(i * 37 + 11), uint8_t(255 - i * 5), uint8_t(i * i)});
  if (n == 2) p = {{0, 0, 0}, {255, 255, 255}};
  return p;
}

TRgb at(const TPcxPicture& pic, uint32_t x, uint32_t y) {
  const uint8_t* p = pic.rgb.data() + (size_t(y) * pic.width + x) * 3;
  return TRgb{p[0], p[1], p[2]};
}

// ImageMagick reads the same file; its pixels must be ours.
void expectSameAsImageMagick(const std::vector<uint8_t>& file, const TPcxPicture& ours) {
  if (!test::haveTool("convert")) return;
  TempDir dir;
  test::writeFile(dir / "p.pcx", file);
  auto r =
      test::run("convert " + test::shq(dir / "p.pcx") + " -depth 8 " + test::shq(dir / "p.ppm"));
  ASSERT_EQ(r.status, 0) << r.err;
  QImage theirs(QString::fromStdString(dir / "p.ppm"));
  ASSERT_EQ(theirs.size(), QSize(int(ours.width), int(ours.height)));
  for (uint32_t y = 0; y < ours.height; ++y)
    for (uint32_t x = 0; x < ours.width; ++x) {
      QRgb c = theirs.pixel(int(x), int(y));
      ASSERT_EQ(at(ours, x, y), (TRgb{uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))}))
          << "at " << x << "," << y;
    }
}

TEST(PcxDecoder, ReadsEveryLayoutWithAndWithoutRuns) {
  const TPcxLayout layouts[] = {{1, 1}, {1, 4}, {2, 1}, {4, 1}, {8, 1}, {8, 3}};
  const TPcxRuns runs[] = {TPcxRuns::None, TPcxRuns::PerLine, TPcxRuns::AcrossLines};
  // An odd width leaves padding at the end of every scan line; stripes give long runs.
  const int w = 45, h = 9;
  for (TPcxLayout layout : layouts) {
    const unsigned colours = layout.bits == 8 ? 256 : 1u << (layout.bits * layout.planes);
    const std::vector<TRgb> pal = palette(colours);
    auto index = [&](int x, int y) { return unsigned(x < 20 ? y : x * 3 + y) % colours; };
    auto rgb = [](int x, int y) { return TRgb{uint8_t(x * 5), uint8_t(y * 20), uint8_t(x ^ y)}; };
    for (TPcxRuns r : runs) {
      SCOPED_TRACE(testing::Message()
                   << layout.bits << " bits, " << layout.planes << " planes, runs " << int(r));
      auto file = MakePcx(layout, w, h, index, rgb, pal, r);
      TPcxPicture pic = DecodePcx(file.data(), file.size());
      ASSERT_EQ(pic.width, uint32_t(w));
      ASSERT_EQ(pic.height, uint32_t(h));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          TRgb want = layout.planes == 3 ? rgb(x, y) : pal[index(x, y)];
          ASSERT_EQ(at(pic, uint32_t(x), uint32_t(y)), want) << "at " << x << "," << y;
        }
      // ImageMagick shows monochrome pictures the other way round; the painting programs and
      // the other readers (GIMP, Pillow) agree with us that 0 is black.
      if (layout.planes * layout.bits > 1) expectSameAsImageMagick(file, pic);
    }
  }
}

TEST(PcxDecoder, ReadsWhatImageMagickWrites) {
  if (!test::haveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  QImage source(53, 31, QImage::Format_RGB32);
  for (int y = 0; y < source.height(); ++y)
    for (int x = 0; x < source.width(); ++x) source.setPixel(x, y, qRgb(x * 4, y * 8, 255 - x));
  ASSERT_TRUE(source.save(QString::fromStdString(dir / "s.png")));
  // True colour gives 24 bits in three planes; a reduced palette gives 256 colours.
  for (const char* options : {"", "-colors 17"}) {
    SCOPED_TRACE(options);
    auto r = test::run("convert " + test::shq(dir / "s.png") + " " + options + " " +
                       test::shq(dir / "s.pcx"));
    ASSERT_EQ(r.status, 0) << r.err;
    auto file = test::readFile(dir / "s.pcx");
    TPcxPicture pic = DecodePcx(file.data(), file.size());
    expectSameAsImageMagick(file, pic);
  }
}

TEST(PcxDecoder, MissingPaletteAndEmptyHeaderColours) {
  // 256 colours without the palette behind them are grey; 16 colours with an empty header
  // palette are the standard ones.
  auto grey = MakePcx(
      {8, 1}, 4, 1, [](int x, int) { return unsigned(x * 60); }, nullptr, palette(16),
      TPcxRuns::PerLine);
  TPcxPicture g = DecodePcx(grey.data(), grey.size());
  EXPECT_EQ(at(g, 3, 0), (TRgb{180, 180, 180}));

  auto standard = MakePcx(
      {4, 1}, 16, 1, [](int x, int) { return unsigned(x); }, nullptr,
      std::vector<TRgb>(16, TRgb{0, 0, 0}), TPcxRuns::PerLine);
  TPcxPicture s = DecodePcx(standard.data(), standard.size());
  EXPECT_EQ(at(s, 1, 0), (TRgb{0x00, 0x00, 0xAA}));
  EXPECT_EQ(at(s, 14, 0), (TRgb{0xFF, 0xFF, 0x55}));
}

TEST(PcxDecoder, RefusesDamagedAndHostileFiles) {
  auto good = MakePcx(
      {8, 3}, 30, 20, nullptr,
      [](int x, int y) {
        return TRgb{uint8_t(x), 0, uint8_t(y)};
      },
      {}, TPcxRuns::PerLine);
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    auto f = good;
    std::copy(bytes.begin(), bytes.end(), f.begin() + long(at));
    return f;
  };
  test::ExpectRefused<EPcxError>(
      {
          {"too short for a header", std::vector<uint8_t>(good.begin(), good.begin() + 100),
           "not a PCX picture"},
          {"another signature", with(0, {0x0B}), "not a PCX picture"},
          {"unknown encoding", with(2, {7}), "encoding 7"},
          {"unknown layout", with(3, {3}), "not supported"},
          {"right edge left of the left one", with(8, {5, 0}), "empty"},
          {"65536 by 65536 pixels", with(4, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), "too large"},
          {"lines shorter than the width", with(66, {4, 0}), "shorter than its width"},
          {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 40), "ends early"},
          {"as tall as the format allows", with(10, {0xFF, 0x0F}), "ends early"},
      },
      DecodePcx);
}

}  // namespace
}  // namespace quelt
