#include "app/dialogs/RadioGroup.h"

#include <QGridLayout>

namespace quelt {

TRadioGroup::TRadioGroup(const QString& name, const QString& title, const QStringList& items,
                         int columns, int itemIndex, QWidget* parent)
    : QGroupBox(title, parent) {
  setObjectName(name);
  auto* grid = new QGridLayout(this);
  const int perColumn = int((items.size() + columns - 1) / columns);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    button->setObjectName(name + QString::number(i));
    buttons_.addButton(button, i);
    // Filled column by column, as the items are read.
    grid->addWidget(button, i % perColumn, i / perColumn);
  }
  SetItemIndex(itemIndex);
  connect(&buttons_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
    if (on) emit ItemIndexChanged(id);
  });
}

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* b = buttons_.button(index)) {
    b->setChecked(true);
    return;
  }
  // A group that allows no check at all must stop being exclusive for a moment.
  if (QAbstractButton* checked = buttons_.checkedButton()) {
    buttons_.setExclusive(false);
    checked->setChecked(false);
    buttons_.setExclusive(true);
    emit ItemIndexChanged(-1);
  }
}

QRadioButton* TRadioGroup::Item(int index) const {
  return qobject_cast<QRadioButton*>(buttons_.button(index));
}

}  // namespace quelt
