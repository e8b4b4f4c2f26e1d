// "Add Files": the user gathers files, folders and masks into the list of things to add and
// sets the options of the run. Made once at start-up; its list and controls keep their
// contents between uses.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <functional>

#include "app/PropStore.h"
#include "app/dialogs/FolderTree.h"
#include "app/dialogs/RadioGroup.h"
#include "engine/ZipEngine.h"
#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TAddForm : public QDialog {
  Q_OBJECT

 public:
  TAddForm(QWidget* parent, TSettingsStore& settings, IDialogs& dialogs);
  // Saves the remembered options and the tree's folder.
  ~TAddForm() override;

  // "Password...": the main window asks for the password and gives it to the engine.
  std::function<void()> OnPassword;

  // ---- What the command reads
  QStringList Entries() const;
  // The entries that name one file exactly, whatever characters the name holds.
  QStringList LiteralEntries() const;
  void ClearEntries() { SelectedList->clear(); }
  int PackLevel() const { return ZipLevel->value(); }
  QString RootDir() const { return RootDirEdit->text(); }
  bool StoreVolumes() const { return VolumeCheck->isChecked(); }
  bool Store83Names() const { return ShortNamesCheck->isChecked(); }
  TZipAction Action() const;
  bool StorePaths() const { return DirNameCheck->isChecked(); }
  bool Recurse() const { return RecurseCheck->isChecked(); }

  QString Folder() const { return DirTree->Folder(); }
  // Shows the folder in the tree and its files in the list; false when it is no folder.
  bool SetFolder(const QString& path);

  // ---- The buttons and other actions
  void AddFolderClick();
  void AddFilesClick();
  void AddWildcardClick();
  void RemoveClick();
  void SortClick();
  void SelectAllClick();
  void RootDirClick();
  void ApplyFilter();
  void ExecuteClick();
  // Dropped or otherwise given paths, each taken whole and literally: a file as it is, a
  // folder with all its files.
  void AddPaths(const QStringList& paths);
  // Adds one entry unless the list already holds it; false when it was there.
  bool AddEntry(const QString& entry, bool literal);

  // The controls, named as the property store and the tests find them.
  QTabWidget* PageControl1;
  TFolderTree* DirTree;
  QTreeWidget* FileList;
  QPushButton* SelectAllBut;
  QLineEdit* FilterEdit;
  QPushButton* AddWildBut;
  QPushButton* AddFolderBut;
  QPushButton* AddFilesBut;
  QPushButton* RemoveBut;
  QPushButton* PasswordBut;
  QPushButton* SortBut;
  QListWidget* SelectedList;
  QSpinBox* ZipLevel;
  QLineEdit* RootDirEdit;
  QPushButton* RootDirBut;
  QCheckBox* VolumeCheck;
  QCheckBox* ShortNamesCheck;
  TRadioGroup* ZipActionGroup;
  QCheckBox* DirNameCheck;
  QCheckBox* RecurseCheck;
  QPushButton* OKBut;
  QPushButton* CancelBut;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QWidget* buildStandardTab();
  QWidget* buildAdvancedTab();
  void fillFileList();
  void showLastEntry();
  void chooseStartFolder();
  void okClick();

  TSettingsStore& settings_;
  IDialogs& dialogs_;
  TPropStore* PropStore2;
};

}  // namespace quelt
