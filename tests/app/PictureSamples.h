// Small pictures of every format the viewer reads, written by the tests themselves.
#pragma once

#include <QColor>
#include <QImage>
#include <functional>
#include <string>
#include <vector>

#include "PictureTestUtil.h"
#include "app/QtText.h"
#include "support/TestUtil.h"

namespace quelt::test {

// Four quadrants: red, green, blue and white.
inline QImage quadrants(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool right = x >= w / 2, bottom = y >= h / 2;
      image.setPixel(x, y,
                     !bottom ? (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0))
                             : (right ? qRgb(255, 255, 255) : qRgb(0, 0, 255)));
    }
  return image;
}

inline void saveWithQt(const QImage& image, const std::string& path, const char* format) {
  ASSERT_TRUE(image.save(PathToQt(path), format)) << path;
}

// ImageMagick marks pictures of no stated orientation as stored from the bottom while it
// writes them from the top; stating it keeps TGA files the right way up.
inline void saveWithImageMagick(const QImage& image, const std::string& path) {
  ASSERT_TRUE(haveTool("convert")) << "ImageMagick is needed to write " << path;
  const std::string png = path + ".source.png";
  saveWithQt(image, png, "PNG");
  auto r = run("convert " + shq(png) + " -orient TopLeft " + shq(path));
  ASSERT_EQ(r.status, 0) << r.err;
}

// Our own writer, so the palette layouts get a palette of the quadrants' colours.
inline void savePcx(const QImage& image, const std::string& path, TPcxLayout layout) {
  std::vector<TRgb> pal = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  // 16 colours go in the header, 256 behind the picture.
  pal.resize(layout.bits == 8 ? 256 : 16, TRgb{0, 0, 0});
  auto index = [&](int x, int y) {
    QRgb c = image.pixel(x, y);
    return c == qRgb(255, 0, 0) ? 0u : c == qRgb(0, 255, 0) ? 1u : c == qRgb(0, 0, 255) ? 2u : 3u;
  };
  auto rgb = [&](int x, int y) {
    QRgb c = image.pixel(x, y);
    return TRgb{uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))};
  };
  writeFile(path,
            MakePcx(layout, image.width(), image.height(), index, rgb, pal, TPcxRuns::PerLine));
}

// How closely a format keeps the quadrants' colours.
enum TColours { Exact, Near, Grey, BlackAndWhite };

struct TPictureFormat {
  const char* name;
  std::function<void(const QImage&, const std::string&)> save;
  TColours colours;
};

// Every format, with extensions in varied letter case.
inline std::vector<TPictureFormat> PictureFormats() {
  return {
      {"pic.bmp", [](auto& i, auto& p) { saveWithQt(i, p, "BMP"); }, Exact},
      {"PIC.GIF", saveWithImageMagick, Exact},
      {"photo.JPG", [](auto& i, auto& p) { saveWithQt(i, p, "JPEG"); }, Near},
      {"photo.jpeg", [](auto& i, auto& p) { saveWithQt(i, p, "JPEG"); }, Near},
      {"pic.Png", [](auto& i, auto& p) { saveWithQt(i, p, "PNG"); }, Exact},
      {"true.pcx",
       [](auto& i, auto& p) {
         savePcx(i, p, {8, 3});
       },
       Exact},
      {"PALETTE.PCX",
       [](auto& i, auto& p) {
         savePcx(i, p, {8, 1});
       },
       Exact},
      {"sixteen.Pcx",
       [](auto& i, auto& p) {
         savePcx(i, p, {1, 4});
       },
       Exact},
      {"pic.pbm", [](auto& i, auto& p) { saveWithQt(i, p, "PBM"); }, BlackAndWhite},
      {"pic.PGM", [](auto& i, auto& p) { saveWithQt(i, p, "PGM"); }, Grey},
      {"pic.ppm", [](auto& i, auto& p) { saveWithQt(i, p, "PPM"); }, Exact},
      {"PIC.TGA", saveWithImageMagick, Exact},
      {"scan.tif", [](auto& i, auto& p) { saveWithQt(i, p, "TIFF"); }, Exact},
      {"scan.TIFF", [](auto& i, auto& p) { saveWithQt(i, p, "TIFF"); }, Exact},
  };
}

// The picture shows the quadrants as its format can keep them.
inline void ExpectQuadrants(const QImage& shown, TColours colours) {
  const QImage source = quadrants(shown.width(), shown.height());
  for (QPoint p : {QPoint(shown.width() / 4, shown.height() / 4),
                   QPoint(3 * shown.width() / 4, shown.height() / 4),
                   QPoint(shown.width() / 4, 3 * shown.height() / 4),
                   QPoint(3 * shown.width() / 4, 3 * shown.height() / 4)}) {
    const QRgb want = source.pixel(p), got = shown.pixel(p);
    switch (colours) {
      case Exact:
        EXPECT_EQ(QColor(got), QColor(want)) << p.x() << "," << p.y();
        break;
      case Near:
        EXPECT_NEAR(qRed(got), qRed(want), 40);
        EXPECT_NEAR(qGreen(got), qGreen(want), 40);
        EXPECT_NEAR(qBlue(got), qBlue(want), 40);
        break;
      case Grey:
        EXPECT_TRUE(qRed(got) == qGreen(got) && qGreen(got) == qBlue(got));
        break;
      case BlackAndWhite:
        EXPECT_TRUE(got == qRgb(0, 0, 0) || got == qRgb(255, 255, 255));
        break;
    }
  }
}

}  // namespace quelt::test
