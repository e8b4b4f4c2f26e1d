#include "app/dialogs/InfoForm.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelt {

namespace {

QLabel* caption(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  return label;
}

QLabel* value(const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  // Paths and numbers are shown as they are, and can be copied.
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

TInfoForm::TInfoForm(QWidget* parent) : QDialog(parent) {
  setObjectName("InfoForm");
  setWindowTitle("ZIP Information");
  auto* grid = new QGridLayout;
  fileName_ = value("FilenameValue", this);
  // A long path wraps rather than widening the dialog past the screen.
  fileName_->setWordWrap(true);
  compressed_ = value("CompressedValue", this);
  uncompressed_ = value("UncompressedValue", this);
  ratio_ = value("RatioValue", this);
  const std::pair<const char*, QLabel*> rows[] = {{"Filename:", fileName_},
                                                  {"Compressed Size:", compressed_},
                                                  {"Uncompressed Size:", uncompressed_},
                                                  {"Ratio:", ratio_}};
  int row = 0;
  for (const auto& [text, label] : rows) {
    grid->addWidget(caption(text, this), row, 0, Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(label, row, 1, Qt::AlignTop);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  grid->setHorizontalSpacing(fontMetrics().averageCharWidth() * 2);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("OKBut");
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  buttons->setCenterButtons(true);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);
  layout->addWidget(buttons);
  fileName_->setMinimumWidth(fontMetrics().averageCharWidth() * 56);
}

void TInfoForm::SetValues(const QString& fileName, const QString& compressed,
                          const QString& uncompressed, const QString& ratio) {
  fileName_->setText(fileName);
  compressed_->setText(compressed);
  uncompressed_->setText(uncompressed);
  ratio_->setText(ratio);
  adjustSize();
}

}  // namespace quelt
