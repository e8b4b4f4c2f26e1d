#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QTimer>
#include <functional>

#include "PictureTestUtil.h"
#include "app/QtText.h"
#include "app/viewers/IView.h"
#include "app/viewers/PictureFile.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::TempDir;

// Four quadrants: red, green, blue and white.
QImage quadrants(int w, int h) {
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

void saveWithQt(const QImage& image, const std::string& path, const char* format) {
  ASSERT_TRUE(image.save(PathToQt(path), format)) << path;
}

// ImageMagick marks pictures of no stated orientation as stored from the bottom while it
// writes them from the top; stating it keeps TGA files the right way up.
void saveWithImageMagick(const QImage& image, const std::string& path) {
  ASSERT_TRUE(test::haveTool("convert")) << "ImageMagick is needed to write " << path;
  const std::string png = path + ".source.png";
  saveWithQt(image, png, "PNG");
  auto r = test::run("convert " + test::shq(png) + " -orient TopLeft " + test::shq(path));
  ASSERT_EQ(r.status, 0) << r.err;
}

void savePcx(const QImage& image, const std::string& path, test::TPcxLayout layout) {
  // Our own writer, so the 256-colour layout gets a palette of the quadrants' colours.
  std::vector<test::TRgb> pal = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  // 16 colours go in the header, 256 behind the picture.
  pal.resize(layout.bits == 8 ? 256 : 16, test::TRgb{0, 0, 0});
  auto index = [&](int x, int y) {
    QRgb c = image.pixel(x, y);
    return c == qRgb(255, 0, 0) ? 0u : c == qRgb(0, 255, 0) ? 1u : c == qRgb(0, 0, 255) ? 2u : 3u;
  };
  auto rgb = [&](int x, int y) {
    QRgb c = image.pixel(x, y);
    return test::TRgb{uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))};
  };
  test::writeFile(path, test::MakePcx(layout, image.width(), image.height(), index, rgb, pal,
                                      test::TPcxRuns::PerLine));
}

class ImageViewerTest : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const QImage& image) {
    std::string path = dir / name;
    saveWithQt(image, path, "PNG");
    return path;
  }
  TempDir dir;
  TImgView view;
};

TEST_F(ImageViewerTest, OpensEveryFormatWhateverTheCaseOfItsExtension) {
  enum TColours { Exact, Near, Grey, BlackAndWhite };
  struct TFormat {
    const char* name;
    std::function<void(const QImage&, const std::string&)> save;
    TColours colours;
  } formats[] = {
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
  const QImage source = quadrants(40, 30);
  const QPoint centres[] = {{10, 7}, {30, 7}, {10, 22}, {30, 22}};
  for (const TFormat& f : formats) {
    SCOPED_TRACE(f.name);
    const std::string path = dir / f.name;
    f.save(source, path);
    ASSERT_NO_THROW(view.Open(PathToQt(path), false));
    EXPECT_EQ(view.windowTitle(), "Quelt ImageViewer - [" + PathToQt(path) + "]");
    const QImage& shown = view.Picture();
    ASSERT_EQ(shown.size(), QSize(40, 30));
    EXPECT_EQ(view.ShownSize(), QSize(40, 30));
    for (const QPoint& p : centres) {
      const QRgb want = source.pixel(p), got = shown.pixel(p);
      switch (f.colours) {
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
    view.close();
  }
}

TEST_F(ImageViewerTest, ZoomStepsAndActualView) {
  view.Open(PathToQt(write("pic.png", quadrants(40, 30))), false);
  std::vector<int> steps(std::begin(TImgView::kZoomIn), std::end(TImgView::kZoomIn));
  steps.insert(steps.end(), std::begin(TImgView::kZoomOut), std::end(TImgView::kZoomOut));
  for (int percent : steps) {
    SCOPED_TRACE(percent);
    QAction* item = view.Command(QString("Zoom%1").arg(percent).toLatin1().constData());
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString("%1%").arg(percent));
    item->trigger();
    EXPECT_DOUBLE_EQ(view.ZoomFactor(), percent * 0.01);
    EXPECT_EQ(view.ShownSize(), QSize(qRound(40 * percent / 100.0), qRound(30 * percent / 100.0)));
  }
  view.Command("ActualView1")->trigger();
  EXPECT_EQ(view.ShownSize(), QSize(40, 30));
  // 10 % of a tiny picture still shows something.
  view.Open(PathToQt(write("dot.png", quadrants(3, 2))), false);
  view.Command("Zoom10")->trigger();
  EXPECT_EQ(view.ShownSize(), QSize(1, 1));
}

TEST_F(ImageViewerTest, FitToWindowKeepsTallWideAndHugePicturesWholeAndVisible) {
  struct TCase {
    const char* what;
    QSize size;
  } cases[] = {
      {"tall", {60, 3000}}, {"wide", {4000, 50}}, {"small", {30, 20}}, {"huge", {12000, 9000}}};
  view.show();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    QImage picture(c.size, QImage::Format_Mono);
    picture.fill(1);
    view.Open(PathToQt(write(std::string(c.what) + ".png", picture)), false);
    QAction* fit = view.Command("FitToWindow1");
    fit->trigger();
    ASSERT_TRUE(fit->isChecked());
    const QSize area = view.AreaSize(), shown = view.ShownSize();
    EXPECT_GT(view.ZoomFactor(), 0.0);
    // Whole, with no scroll bars ...
    EXPECT_LE(shown.width(), area.width());
    EXPECT_LE(shown.height(), area.height());
    // ... and large enough to see.
    EXPECT_GE(
        std::max(double(shown.width()) / area.width(), double(shown.height()) / area.height()),
        0.45);
    EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
    fit->trigger();
    EXPECT_FALSE(fit->isChecked());
    EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.0);
    EXPECT_EQ(view.ShownSize(), c.size);
  }
  // The classic case: a 1000 x 500 picture in an 800 x 600 area.
  EXPECT_NEAR(TImgView::FitZoom({800, 600}, {1000, 500}), 0.72, 1e-6);
}

TEST_F(ImageViewerTest, CopyPutsThePictureOnTheClipboard) {
  view.Open(PathToQt(write("pic.png", quadrants(40, 30))), false);
  QApplication::clipboard()->clear();
  view.Command("Copy1")->trigger();
  EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
            quadrants(40, 30));
  EXPECT_EQ(view.Command("Copy1")->shortcut(), QKeySequence("Ctrl+C"));
}

TEST_F(ImageViewerTest, ClosingDeletesOnlyTheCopyItWasGivenAndStartsAt100Percent) {
  const std::string copy = write("COPY.PNG", quadrants(40, 30));
  const std::string users = write("mine.png", quadrants(40, 30));

  view.Open(PathToQt(copy), true);
  view.show();
  view.Command("FitToWindow1")->trigger();
  view.close();
  EXPECT_FALSE(test::fileExists(copy));
  EXPECT_FALSE(view.Command("FitToWindow1")->isChecked());
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.0);

  // The modal run ends with the window, and the file the user had stays.
  QTimer::singleShot(0, &view, [this] { view.close(); });
  view.Execute(PathToQt(users), false);
  EXPECT_TRUE(test::fileExists(users));
  EXPECT_FALSE(view.isVisible());
}

TEST_F(ImageViewerTest, PicturesThatCannotBeShownAreReportedNeverShownEmpty) {
  QImage nothing(1, 1, QImage::Format_RGB32);
  auto emptyPcx = test::MakePcx(
      {8, 3}, 4, 4, nullptr, [](int, int) { return test::TRgb{}; }, {}, test::TPcxRuns::None);
  emptyPcx[8] = 0;  // the right edge left of the left one
  struct TCase {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"damaged.png", "\x89PNG\r\n\x1a\n but nothing after", "Cannot display"},
      {"notes.txt", "plain words", "format is not known"},
      {"EMPTY.PCX", std::string(emptyPcx.begin(), emptyPcx.end()), "the picture is empty"},
  };
  for (const TCase& c : cases) {
    for (bool owned : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (owned ? " extracted" : " the user's"));
      const std::string path = dir / c.name;
      test::writeFile(path, c.bytes);
      try {
        view.Open(PathToQt(path), owned);
        ADD_FAILURE() << "opened";
      } catch (const EPictureError& e) {
        EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      }
      EXPECT_EQ(test::fileExists(path), !owned);
      EXPECT_FALSE(view.isVisible());
    }
  }
}

}  // namespace
}  // namespace quelt
