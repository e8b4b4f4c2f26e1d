#include "app/viewers/GoToLine.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelt {

TGTLine::TGTLine(TSettingsStore& settings, QWidget* parent) : QDialog(parent) {
  setObjectName("GTLine");
  setWindowTitle("Go To Line");
  SpinEdit1 = new QSpinBox;
  SpinEdit1->setObjectName("SpinEdit1");
  SpinEdit1->setRange(1, 1000000);
  SpinEdit1->setValue(1);
  SpinEdit1->setMinimumWidth(SpinEdit1->fontMetrics().averageCharWidth() * 14);
  auto* form = new QFormLayout;
  form->addRow("&Line number:", SpinEdit1);

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("OKBtn");
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
  cancel->setObjectName("CancelBtn");
  connect(ok, &QPushButton::clicked, this, &TGTLine::OKBtnClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addWidget(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  PropStore1 = new TPropStore(this, settings);
  PropStore1->RegistryRoot = LOCAL_MACHINE;
  PropStore1->Items = {"SpinEdit1;value;;SOFTWARE\\Dunmarra\\Text Editor;GotoLine;1;0"};
  PropStore1->LoadItems();
}

TGTLine::~TGTLine() {
  // A failed save has no one left to tell; the number is only a convenience.
  (void)PropStore1->SaveItems();
}

void TGTLine::OKBtnClick() {
  // A number being typed counts as given.
  SpinEdit1->interpretText();
  (void)PropStore1->SaveItems();
  accept();
}

}  // namespace quelt
