// "Confirm Action": what to do with files dropped on the window from another program. One
// dialog is kept; its choice is remembered after every use.
#pragma once

#include <QDialog>
#include <QRadioButton>

#include "app/PropStore.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TDragDrop : public QDialog {
  Q_OBJECT

 public:
  enum TChoice { OpenFirst, AddSelected, Ignore };

  TDragDrop(QWidget* parent, TSettingsStore& settings);

  // Readies the choices for a drop: adding needs an open archive.
  void Prepare(bool archiveOpen);
  // The checked choice, however the dialog was closed.
  TChoice Choice() const;
  // Stores the choices now, so the next drop and the next run start from them.
  void SaveChoice();

  QRadioButton* OpenFirstRadio;
  QRadioButton* AddSelectedRadio;
  QRadioButton* IgnoreRadio;

 private:
  TPropStore* PropStore4;
};

}  // namespace quelt
