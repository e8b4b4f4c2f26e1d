// "Create Self-Extracting ZIP": the platform of the program to make and, for the first one,
// what its stub shows, proposes and runs. Made once at start-up; its choices are remembered
// between runs of the program.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/PropStore.h"
#include "app/dialogs/RadioGroup.h"
#include "convert/QueltSFX.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TZIPEXE : public QDialog {
  Q_OBJECT

 public:
  // The platform items, in the order the group shows them.
  enum TPlatform { pfWin32Enh, pfWin32Std, pfWin16, pfDOS };

  TZIPEXE(QWidget* parent, TSettingsStore& settings);
  // Saves the remembered choices.
  ~TZIPEXE() override;

  bool Confirmed() const { return result() == QDialog::Accepted; }
  TPlatform Platform() const { return TPlatform(PlatformGroup->ItemIndex()); }
  // The builder, set from the controls for `archive`.
  TQueltSFX& Builder(const std::string& archive);

  TRadioGroup* PlatformGroup;
  QGroupBox* OptionsPanel;
  TRadioGroup* OverwriteGroup;
  QCheckBox* AskCmdLineCheck;
  QCheckBox* AskFilesCheck;
  QCheckBox* HideOverwriteCheck;
  QGroupBox* TextPanel;
  QLineEdit* CaptionEdit;
  QLineEdit* ExtractDirEdit;
  QLineEdit* CommandLineEdit;
  QPushButton* CreateBut;
  QPushButton* CancelBut;

 private:
  QWidget* buildOptions();
  QWidget* buildTexts();
  // Only the first platform takes options and texts.
  void PlatformGroupClick();

  TPropStore* PropStore1;
  TQueltSFX ZipSFX1;
};

}  // namespace quelt
