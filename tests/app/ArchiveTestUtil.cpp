#include "ArchiveTestUtil.h"

#include <QItemSelectionModel>
#include <filesystem>

#include "app/QtText.h"

namespace quelt::test {

void TArchiveTest::startNew(const std::string& path) {
  if (!form) start();
  dialogs->AnswerOpenFile(path);
  dialogs->AnswerMessage(TMsgBoxResult::Yes);  // create it
  dialogs->AnswerMessage(TMsgBoxResult::OK);   // the read of the file not yet made fails
  form->Command("Open1")->trigger();
  ASSERT_EQ(form->CurrentArchive(), PathToQt(path));
}

void TArchiveTest::add(const std::function<void(TAddForm&)>& fill) {
  expectDialog("AddForm", [fill](QDialog& d) {
    fill(static_cast<TAddForm&>(d));
    press(d, "OKBut");
  });
  form->Command("AddFiles1")->trigger();
}

void TArchiveTest::extract(const std::function<void(TExtract&)>& fill) {
  expectDialog("Extract", [fill](QDialog& d) {
    fill(static_cast<TExtract&>(d));
    press(d, "OKBut");
  });
  form->Command("ExtractFiles1")->trigger();
}

void TArchiveTest::addFiles(TAddForm& f, const std::string& folder, const QStringList& names) {
  ASSERT_TRUE(f.SetFolder(PathToQt(folder)));
  int found = 0;
  for (int i = 0; i < f.FileList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = f.FileList->topLevelItem(i);
    item->setSelected(names.contains(item->text(0)));
    found += item->isSelected();
  }
  ASSERT_EQ(found, names.size()) << "not all of " << names.join(", ").toStdString() << " listed";
  press(f, "AddFilesBut");
}

void TArchiveTest::selectRows(const QStringList& names) {
  QItemSelectionModel* selection = form->ListView()->selectionModel();
  selection->clearSelection();
  const TCatalogueModel& m = form->Listing();
  int found = 0;
  for (int r = 0; r < m.rowCount(); ++r) {
    QString full =
        m.CellText(r, TCatalogueModel::colPath) + m.CellText(r, TCatalogueModel::colFilename);
    if (!names.contains(full)) continue;
    selection->select(m.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ++found;
  }
  ASSERT_EQ(found, names.size());
}

std::vector<std::string> TArchiveTest::storedNames(const std::string& zip) {
  RunResult r =
      run("python3 -c 'import sys,zipfile; "
          "print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
          shq(zip));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names;
  for (size_t at = 0; at < r.out.size();) {
    size_t end = r.out.find('\n', at);
    if (end > at) names.push_back(r.out.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

bool TArchiveTest::noScratchFiles(const std::string& folder) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    if (e.path().filename().string().rfind("QLZ", 0) == 0) return false;
  return true;
}

}  // namespace quelt::test
