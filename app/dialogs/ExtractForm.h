// "Select Extract Directory": where to extract and how. Made once at start-up; its controls
// keep their contents between uses, and both closing buttons remember them.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <functional>

#include "app/PropStore.h"
#include "app/dialogs/FolderTree.h"
#include "app/dialogs/RadioGroup.h"
#include "engine/UnZipEngine.h"
#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TExtract : public QDialog {
  Q_OBJECT

 public:
  TExtract(QWidget* parent, TSettingsStore& settings, IDialogs& dialogs);

  // "Password...": the main window asks for the password and gives it to the engine.
  std::function<void()> OnPassword;

  // ---- Results of the last closing
  bool Confirmed() const { return result() == QDialog::Accepted; }
  // The "Extract To:" folder after "&Extract"; empty after "&Cancel".
  const QString& Destination() const { return destination_; }
  bool ExpandDirs() const { return ExpandDirsGroup->ItemIndex() != 0; }
  TUZOverwriteMode OverwriteChoice() const;
  bool AllFiles() const { return FilesGroup->ItemIndex() != 1; }
  bool RetainAttributes() const { return RetainAttribCheck->isChecked(); }
  QString RootDir() const { return RootDirEdit->text(); }

  QString Folder() const { return DirTree->Folder(); }
  bool SetFolder(const QString& path) { return DirTree->SetFolder(path); }

  void NewFolderClick();
  void RootDirClick();
  void accept() override;
  void reject() override;

  QTabWidget* PageControl1;
  QLineEdit* ExtractToEdit;
  TRadioGroup* ExpandDirsGroup;
  TRadioGroup* OverwriteGroup;
  TRadioGroup* FilesGroup;
  TFolderTree* DirTree;
  QPushButton* NewFolderBut;
  QPushButton* PasswordBut;
  QCheckBox* RetainAttribCheck;
  QLineEdit* RootDirEdit;
  QPushButton* RootDirBut;
  QPushButton* OKBut;
  QPushButton* CancelBut;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* buildStandardTab();
  QWidget* buildAdvancedTab();
  void applyPreference();

  TSettingsStore& settings_;
  IDialogs& dialogs_;
  TPropStore* PropStore3;
  QString destination_;
};

}  // namespace quelt
