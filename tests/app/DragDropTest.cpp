// Files dropped on the window after the "Confirm Action" question, and entries dragged out of
// the listing as files.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QRadioButton>
#include <QUrl>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "app/commands/DragDrop.h"
#include "app/dialogs/DDrop.h"

namespace quelt::test {
namespace {

class DraggingAndDropping : public TArchiveTest {
 protected:
  // Drops the files on the window as a file manager would; true when the window took them.
  bool drop(const std::vector<std::string>& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& p : paths) urls << QUrl::fromLocalFile(PathToQt(p));
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &dropped);
    // The question comes once the other program's drag is over.
    QCoreApplication::processEvents();
    return dropped.isAccepted();
  }
  // Answers the next "Confirm Action" with the radio button, then the button.
  void answer(const char* radio, const char* button, bool addEnabled = true) {
    expectDialog("DragDrop", [=](QDialog& d) {
      auto& dd = static_cast<TDragDrop&>(d);
      EXPECT_EQ(dd.AddSelectedRadio->isEnabled(), addEnabled);
      d.findChild<QRadioButton*>(radio)->setChecked(true);
      press(d, button);
    });
  }
  void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
             Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QWidget* viewport = form->ListView()->viewport();
    QMouseEvent e(type, at, viewport->mapToGlobal(at),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, keys);
    QApplication::sendEvent(viewport, &e);
  }
  // The middle of the row showing this entry ("docs\\a.txt").
  QPoint rowPoint(const QString& name) {
    const TCatalogueModel& m = form->Listing();
    for (int r = 0; r < m.rowCount(); ++r)
      if (m.CellText(r, TCatalogueModel::colPath) + m.CellText(r, TCatalogueModel::colFilename) ==
          name)
        return form->ListView()->visualRect(m.index(r, 0)).center();
    ADD_FAILURE() << "no row " << name.toStdString();
    return {};
  }
};

TEST_F(DraggingAndDropping, DroppedFilesAreOpenedAddedOrIgnoredAsTheUserChooses) {
  // Longer than the 79 characters a dropped path was once cut to.
  const std::string deep = dir / std::string(60, 'd') + "/" + std::string(40, 'e');
  makeDirs(deep);
  const std::string other = zip("other.zip", {{"inside.txt", "in"}});
  writeFile(deep + "/first.txt", "one");
  writeFile(deep + "/second.txt", "two");
  const std::string far = deep + "/far away.zip";
  MakeZip(far, {{"far.txt", "far"}});
  start();

  // No archive open: adding is not offered; Open takes the first path, whole.
  answer("OpenFirstRadio", "OKBut", false);
  EXPECT_TRUE(drop({far, other}));
  EXPECT_EQ(form->CurrentArchive(), PathToQt(far));
  EXPECT_EQ(rows().size(), 1);
  EXPECT_EQ(storedText("DDOpenFirst"), "1");

  // Add: both files go into the open archive through the Add Files dialog.
  answer("AddSelectedRadio", "OKBut");
  expectDialog("AddForm", [&](QDialog& d) {
    EXPECT_EQ(static_cast<TAddForm&>(d).Entries(),
              (QStringList{PathToQt(deep + "/first.txt"), PathToQt(deep + "/second.txt")}));
    press(d, "OKBut");
  });
  EXPECT_TRUE(drop({deep + "/first.txt", deep + "/second.txt"}));
  EXPECT_EQ(storedNames(far), (std::vector<std::string>{"far.txt", "first.txt", "second.txt"}));
  EXPECT_EQ(storedText("DDAddSelected"), "1");
  EXPECT_EQ(storedText("DDOpenFirst"), "0");

  // Ignore, and Cancel whatever was checked: nothing happens.
  answer("IgnoreRadio", "OKBut");
  EXPECT_TRUE(drop({other}));
  answer("OpenFirstRadio", "CancelBut");
  EXPECT_TRUE(drop({other}));
  EXPECT_EQ(form->CurrentArchive(), PathToQt(far));
  EXPECT_EQ(storedNames(far).size(), 3u);
  EXPECT_EQ(storedText("DDIgnore"), "1");

  // The next run's dialog starts from the last answer.
  restart();
  EXPECT_TRUE(DropDialog(*form).IgnoreRadio->isChecked());
}

TEST_F(DraggingAndDropping, EntriesDragOutAsFilesEachInItsOwnFolder) {
  start();
  open(zip("two.zip", {{"docs/Notes.TXT", "the notes\n"},
                       {"other/Notes.TXT", "other notes\n"},
                       {"Pictures/", ""},
                       {"readme.md", "# read me\n"}}));
  form->resize(600, 400);
  form->show();
  auto* wiring = form->findChild<TDragDropWiring*>();
  ASSERT_NE(wiring, nullptr);
  std::vector<QStringList> drags;  // the files each drag offered
  bool droppedOnUs = true;
  wiring->ExecDrag = [&](QDrag& drag) {
    QStringList files;
    for (const QUrl& url : drag.mimeData()->urls()) files << url.toLocalFile();
    drags.push_back(files);
    // Our own entries let go over our window are no drop of files.
    droppedOnUs = drop({PathFromQt(files.first())});
    return Qt::CopyAction;
  };
  selectRows({"docs\\Notes.TXT", "other\\Notes.TXT", "Pictures\\", "readme.md"});
  const QPoint at = rowPoint("readme.md");
  const QPoint far = at + QPoint(0, QApplication::startDragDistance() + 2);

  // A plain click, a small wobble, and a drag with Shift start nothing.
  mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
  mouse(QEvent::MouseMove, at + QPoint(1, 1), Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, at, Qt::NoButton);
  mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::ShiftModifier);
  mouse(QEvent::MouseMove, far, Qt::LeftButton, Qt::ShiftModifier);
  mouse(QEvent::MouseButtonRelease, far, Qt::NoButton, Qt::ShiftModifier);
  EXPECT_TRUE(drags.empty());

  selectRows({"docs\\Notes.TXT", "other\\Notes.TXT", "Pictures\\", "readme.md"});
  mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
  mouse(QEvent::MouseMove, far, Qt::LeftButton);
  ASSERT_EQ(drags.size(), 1u);
  EXPECT_FALSE(droppedOnUs);
  QStringList files = drags[0];
  files.sort();
  ASSERT_EQ(files.size(), 3);  // the folder entry is no file
  const QString folder = QFileInfo(files[0]).path().chopped(QString("/docs").size());
  EXPECT_TRUE(folder.startsWith(PathToQt(dir / "cache/quelt/drag-")));
  EXPECT_EQ(files, (QStringList{folder + "/docs/Notes.TXT", folder + "/other/Notes.TXT",
                                folder + "/readme.md"}));
  EXPECT_EQ(readText(PathFromQt(files[0])), "the notes\n");
  EXPECT_EQ(readText(PathFromQt(files[1])), "other notes\n");
  EXPECT_EQ(readText(PathFromQt(files[2])), "# read me\n");
  // The engine is left as the other commands expect it.
  EXPECT_FALSE(form->Engine().RecreateDirs);
  EXPECT_TRUE(form->Engine().SelectedNames.empty());

  // Only a folder entry selected: nothing to drag.
  selectRows({"Pictures\\"});
  mouse(QEvent::MouseButtonPress, rowPoint("Pictures\\"), Qt::LeftButton);
  mouse(QEvent::MouseMove, rowPoint("Pictures\\") + (far - at), Qt::LeftButton);
  EXPECT_EQ(drags.size(), 1u);
}

}  // namespace
}  // namespace quelt::test
