#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QTimer>
#include <functional>

#include "PictureSamples.h"
#include "app/QtText.h"
#include "app/viewers/IView.h"
#include "app/viewers/PictureFile.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::TempDir;

using test::ExpectQuadrants;
using test::quadrants;
using test::saveWithQt;

class ImageViewerTest : public ::testing::Test {
 protected:
  static std::vector<int> allSteps() {
    std::vector<int> steps(std::begin(TImgView::kZoomIn), std::end(TImgView::kZoomIn));
    steps.insert(steps.end(), std::begin(TImgView::kZoomOut), std::end(TImgView::kZoomOut));
    return steps;
  }
  std::string write(const std::string& name, const QImage& image) {
    std::string path = dir / name;
    saveWithQt(image, path, "PNG");
    return path;
  }
  TempDir dir;
  TImgView view;
};

TEST_F(ImageViewerTest, OpensEveryFormatWhateverTheCaseOfItsExtension) {
  const QImage source = quadrants(40, 30);
  for (const test::TPictureFormat& f : test::PictureFormats()) {
    SCOPED_TRACE(f.name);
    const std::string path = dir / f.name;
    f.save(source, path);
    ASSERT_NO_THROW(view.Open(PathToQt(path), false));
    EXPECT_EQ(view.windowTitle(), "Quelt ImageViewer - [" + PathToQt(path) + "]");
    ASSERT_EQ(view.Picture().size(), QSize(40, 30));
    EXPECT_EQ(view.ShownSize(), QSize(40, 30));
    ExpectQuadrants(view.Picture(), f.colours);
    view.close();
  }
}

TEST_F(ImageViewerTest, ZoomStepsAndActualView) {
  view.Open(PathToQt(write("pic.png", quadrants(40, 30))), false);
  for (int percent : allSteps()) {
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
    // Every zoom step scales both sides, and Actual View brings the picture back whole.
    for (int percent : allSteps()) {
      SCOPED_TRACE(percent);
      view.Command(QString("Zoom%1").arg(percent).toLatin1().constData())->trigger();
      EXPECT_EQ(view.ShownSize(), QSize(std::max(1, qRound(c.size.width() * percent / 100.0)),
                                        std::max(1, qRound(c.size.height() * percent / 100.0))));
    }
    view.Command("ActualView1")->trigger();
    EXPECT_EQ(view.ShownSize(), c.size);
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
