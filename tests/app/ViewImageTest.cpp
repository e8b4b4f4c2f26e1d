// View Image: a picture entry of the archive shown in the viewer, its temporary copy gone
// once the viewer closes.
#include <QTimer>

#include "ArchiveTestUtil.h"
#include "PictureSamples.h"
#include "app/QtText.h"
#include "app/commands/ViewImageCommand.h"
#include "app/viewers/IView.h"
#include "support/ZipBuilder.h"

namespace quelt::test {
namespace {

class ViewingImages : public TArchiveTest {
 protected:
  std::string temp() const { return dir / "cache/quelt"; }
  // Puts the files of `src` into an archive under "pics/" and opens it.
  void openPictures(const std::vector<std::string>& names) {
    ZipSpec spec;
    for (const std::string& name : names) {
      std::string bytes = readText(dir / ("src/" + name));
      ZipEntrySpec entry;
      entry.name = "pics/" + name;
      entry.data.assign(bytes.begin(), bytes.end());
      spec.entries.push_back(entry);
    }
    writeFile(dir / "pics.zip", buildZip(spec));
    start();
    open(dir / "pics.zip");
  }
  // Runs View Image on the row; `look` sees the viewer while it is up, then it is closed.
  void view(const QString& row, const std::function<void(TImgView&)>& look) {
    selectRows({row});
    bool shown = false;
    closeWhenShown([&](TImgView& viewer) {
      shown = true;
      look(viewer);
    });
    form->Command("ViewImage1")->trigger();
    EXPECT_TRUE(shown);
  }
  // Once the viewer is up (the extraction before it lets events run), `look` sees it and
  // the viewer is closed.
  void closeWhenShown(const std::function<void(TImgView&)>& look) {
    auto* poll = new QTimer(form.get());
    QObject::connect(poll, &QTimer::timeout, form.get(), [this, poll, look] {
      TImgView& viewer = ImageViewer(*form);
      if (!viewer.isVisible()) return;
      poll->deleteLater();
      poll->stop();
      look(viewer);
      viewer.close();
    });
    poll->start(5);
  }
};

TEST_F(ViewingImages, EveryFormatIsShownFromTheArchiveAndItsCopyGoesWithTheViewer) {
  makeDirs(dir / "src");
  std::vector<std::string> names;
  for (const TPictureFormat& f : PictureFormats()) {
    f.save(quadrants(40, 30), dir / ("src/" + std::string(f.name)));
    names.push_back(f.name);
  }
  openPictures(names);
  for (const TPictureFormat& f : PictureFormats()) {
    SCOPED_TRACE(f.name);
    const std::string copy = temp() + "/" + f.name;
    view(PathToQt("pics\\" + std::string(f.name)), [&](TImgView& viewer) {
      EXPECT_EQ(viewer.windowTitle(), "Quelt ImageViewer - [" + PathToQt(copy) + "]");
      EXPECT_TRUE(fileExists(copy));
      ASSERT_EQ(viewer.Picture().size(), QSize(40, 30));
      EXPECT_EQ(viewer.ShownSize(), QSize(40, 30));
      ExpectQuadrants(viewer.Picture(), f.colours);
    });
    EXPECT_FALSE(fileExists(copy));
    EXPECT_EQ(dialogs->Messages(), std::vector<std::string>{});
  }
  // The context menu's item shows the same viewer.
  selectRows({"pics\\pic.Png"});
  bool shown = false;
  closeWhenShown([&](TImgView&) { shown = true; });
  form->Command("ViewImage2")->trigger();
  EXPECT_TRUE(shown);
  EXPECT_FALSE(fileExists(temp() + "/pic.Png"));
}

TEST_F(ViewingImages, AnUndecodablePictureIsToldAndItsCopyDeleted) {
  makeDirs(dir / "src");
  writeFile(dir / "src/broken.png", "\x89PNG\r\n\x1a\n and then nothing");
  saveWithQt(quadrants(8, 8), dir / "src/fine.png", "PNG");
  openPictures({"broken.png", "fine.png"});
  selectRows({"pics\\broken.png"});
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("ViewImage1")->trigger();
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_NE(dialogs->Messages()[0].find("Cannot display " + temp() + "/broken.png"),
            std::string::npos)
      << dialogs->Messages()[0];
  EXPECT_FALSE(ImageViewer(*form).isVisible());
  EXPECT_FALSE(fileExists(temp() + "/broken.png"));

  // A file of the user's beside the copy stays; only the copy goes.
  writeFile(temp() + "/mine.png", "the user's");
  view("pics\\fine.png", [](TImgView&) {});
  EXPECT_EQ(readText(temp() + "/mine.png"), "the user's");
  EXPECT_FALSE(fileExists(temp() + "/fine.png"));
  // A folder entry or nothing selected: no viewer.
  selectRows({});
  form->Command("ViewImage1")->trigger();
  EXPECT_FALSE(ImageViewer(*form).isVisible());
}

}  // namespace
}  // namespace quelt::test
