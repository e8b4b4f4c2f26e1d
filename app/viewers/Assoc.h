// The offer to make Quelt the desktop's program for ZIP archives, and making it so.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <memory>
#include <string>

#include "app/PropStore.h"
#include "platform/DesktopAssociation.h"
#include "platform/Processes.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TAssocDialog : public QDialog {
  Q_OBJECT

 public:
  TAssocDialog(QWidget* parent, TSettingsStore& settings);
  // Saves "Never display this message again".
  ~TAssocDialog() override;

  // The desktop's file-type registry; the freedesktop one unless a test puts another in place.
  IDesktopAssociation& Desktop() const { return *desktop_; }
  void SetDesktop(IDesktopAssociation& desktop) { desktop_ = &desktop; }

  bool NeverShow() const { return NeverShowCheck->isChecked(); }
  void SaveChoice();

  // Makes the program at `programPath` the desktop's program for files of the extension and
  // keeps the file-type records in the settings store. Throws with the user's message.
  void MakeAssociation(const QString& extension, const QString& programPath);
  // Writes `value` under `name` (empty: the key's own value) of the key, made when missing.
  void SetValInReg(TRegRoots root, const std::string& key, const std::string& value,
                   const std::string& name);

  QCheckBox* NeverShowCheck;

 private:
  TSettingsStore& settings_;
  TPropStore* PropStore5;
  std::unique_ptr<IProcessRunner> runner_;
  std::unique_ptr<IDesktopAssociation> ownDesktop_;
  IDesktopAssociation* desktop_;
};

}  // namespace quelt
