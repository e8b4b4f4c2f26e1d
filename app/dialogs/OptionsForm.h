// "Options", the Preferences: the temporary folder, the starting folders of the Add and
// Extract dialogs, the recent-documents and output-window choices, the threads that compress
// files, and the virus scanner.
// Made once at start-up; every showing fills it from the stored values.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <optional>
#include <utility>

#include "app/PropStore.h"
#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TOptionsForm : public QDialog {
  Q_OBJECT

 public:
  enum TPage { pgProgram, pgAntiVirus };

  TOptionsForm(QWidget* parent, TSettingsStore& settings, IDialogs& dialogs);

  bool Confirmed() const { return result() == QDialog::Accepted; }
  // The page shown first the next time.
  void SelectPage(TPage page) { PageControl1->setCurrentIndex(page); }
  // Fills the controls from the stored values.
  void LoadSettings();
  // Puts a scanner into the Anti-Virus page at the next showing, over the stored values: the
  // virus scan's proposal when none is set up. The user still decides with OK or Cancel.
  void ProposeScanner(const QString& program, const QString& parameters) {
    proposal_ = {program, parameters};
  }

  void accept() override;
  void reject() override;

  QTabWidget* PageControl1;
  QLineEdit* ExpDirEdit;
  QPushButton* ExpDirBut;
  QRadioButton* AddLastRadio;
  QRadioButton* AddFolderRadio;
  QLineEdit* AddDirEdit;
  QPushButton* AddDirBut;
  QRadioButton* ExtractLastRadio;
  QRadioButton* ExtractFolderRadio;
  QLineEdit* ExtDirEdit;
  QPushButton* ExtDirBut;
  QCheckBox* AddDocsCheck;
  QCheckBox* ShowOutputCheck;
  QSpinBox* ThreadsSpin;
  QLineEdit* AntiVirusEdit;
  QPushButton* AntiVirusBut;
  QLineEdit* AntiVirusParamEdit;
  QCheckBox* RunMinimizedCheck;
  QPushButton* OKBut;
  QPushButton* CancelBut;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildProgramPage();
  QWidget* buildAntiVirusPage();
  // A group with "Last Folder" and "Folder:" choices over an edit and its "..." button.
  QWidget* folderChoice(const QString& title, const QString& prefix, QRadioButton*& last,
                        QRadioButton*& folder, QLineEdit*& edit, QPushButton*& browse);
  void browseInto(QLineEdit* edit);
  void AntiVirusButClick();
  // "Last Folder" greys the group's edit; "Folder:" makes it editable.
  void updateFolderEdits();

  TSettingsStore& settings_;
  IDialogs& dialogs_;
  TPropStore* PropStore1;
  std::optional<std::pair<QString, QString>> proposal_;
};

}  // namespace quelt
