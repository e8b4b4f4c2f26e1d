// "Go To Line": asks for a line number; the number is remembered between runs.
#pragma once

#include <QDialog>
#include <QSpinBox>

#include "app/PropStore.h"
#include "platform/SettingsStore.h"

namespace quelt {

class TGTLine : public QDialog {
  Q_OBJECT

 public:
  TGTLine(TSettingsStore& settings, QWidget* parent);
  ~TGTLine() override;

  // 1 to 1000000.
  int Line() const { return SpinEdit1->value(); }
  void SetLine(int line) { SpinEdit1->setValue(line); }

  // "&OK": keeps the number, then closes with Accepted.
  void OKBtnClick();

 private:
  QSpinBox* SpinEdit1;
  TPropStore* PropStore1;
};

}  // namespace quelt
