#include "app/dialogs/DialogParts.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/PropStore.h"

namespace quelt {

QString SettingsItem(const QString& control, const QString& property, const QString& def,
                     const QString& valueName) {
  return TPropStore::Item(control, property, def, kSettingsKey, valueName);
}

QPushButton* MakeButton(const QString& name, const QString& caption, QWidget* parent) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

TTabbedDialog LayOutTabbed(QDialog* dialog, QWidget* standard, QWidget* advanced,
                           const QString& okCaption, int columns, int lines) {
  TTabbedDialog parts;
  parts.pages = new QTabWidget(dialog);
  parts.pages->setObjectName("PageControl1");
  parts.pages->addTab(standard, "Standard");
  parts.pages->addTab(advanced, "Advanced");
  parts.ok = new QPushButton(okCaption, dialog);
  parts.ok->setObjectName("OKBut");
  parts.ok->setDefault(true);
  parts.cancel = MakeButton("CancelBut", "&Cancel", dialog);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(parts.ok);
  bottom->addWidget(parts.cancel);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(parts.pages, 1);
  layout->addLayout(bottom);
  const QFontMetrics m = dialog->fontMetrics();
  dialog->resize(m.averageCharWidth() * columns, m.height() * lines);
  return parts;
}

}  // namespace quelt
