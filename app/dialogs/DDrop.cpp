#include "app/dialogs/DDrop.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/DialogParts.h"

namespace quelt {

namespace {

QRadioButton* choice(const char* name, const char* caption, QWidget* parent) {
  auto* radio = new QRadioButton(caption, parent);
  radio->setObjectName(name);
  return radio;
}

}  // namespace

TDragDrop::TDragDrop(QWidget* parent, TSettingsStore& settings) : QDialog(parent) {
  setObjectName("DragDrop");
  setWindowTitle("Confirm Action");
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(
      "<b>You have drag and dropped files from an external application.</b> What do you wish to "
      "do with the dropped files?",
      this);
  text->setObjectName("TextLabel");
  text->setWordWrap(true);
  text->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
  OpenFirstRadio = choice("OpenFirstRadio", "Open First Selected ZIP File", this);
  AddSelectedRadio = choice("AddSelectedRadio", "Add Selected FiIe(s) to ZIP", this);
  IgnoreRadio = choice("IgnoreRadio", "Ignore the Dropped Files", this);
  OpenFirstRadio->setChecked(true);
  layout->addWidget(text);
  layout->addSpacing(6);
  for (QRadioButton* radio : {OpenFirstRadio, AddSelectedRadio, IgnoreRadio})
    layout->addWidget(radio);

  auto* box = new QDialogButtonBox(this);
  QPushButton* ok = box->addButton("&OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("OKBut");
  ok->setDefault(true);
  box->addButton("&Cancel", QDialogButtonBox::RejectRole)->setObjectName("CancelBut");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  // Cancel means: leave the files alone.
  connect(box, &QDialogButtonBox::rejected, this, [this] {
    IgnoreRadio->setChecked(true);
    reject();
  });
  layout->addWidget(box);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  PropStore4 = new TPropStore(this, settings);
  PropStore4->RegistryRoot = LOCAL_MACHINE;
  PropStore4->Items = {
      SettingsItem("OpenFirstRadio", "Checked", "", "DDOpenFirst"),
      SettingsItem("AddSelectedRadio", "Checked", "", "DDAddSelected"),
      SettingsItem("IgnoreRadio", "Checked", "", "DDIgnore"),
  };
  PropStore4->LoadItems();
}

void TDragDrop::Prepare(bool archiveOpen) {
  OpenFirstRadio->setEnabled(true);
  IgnoreRadio->setEnabled(true);
  // Its check stays: the Add command then says that no archive is open.
  AddSelectedRadio->setEnabled(archiveOpen);
}

TDragDrop::TChoice TDragDrop::Choice() const {
  if (OpenFirstRadio->isChecked()) return OpenFirst;
  if (AddSelectedRadio->isChecked()) return AddSelected;
  return Ignore;
}

void TDragDrop::SaveChoice() {
  (void)PropStore4->SaveItems();
}

}  // namespace quelt
