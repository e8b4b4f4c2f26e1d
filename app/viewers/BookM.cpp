#include "app/viewers/BookM.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quelt {

TBookMarks::TBookMarks(TSettingsStore& settings, QWidget* parent) : QDialog(parent) {
  setObjectName("BookMarks");
  setWindowTitle("Bookmarks");
  auto* intro = new QLabel("Tick a box to mark the caret's place; press its number to go back.");
  intro->setObjectName("IntroLabel");
  intro->setWordWrap(true);
  auto* grid = new QGridLayout;
  for (int i = 0; i < kRows; ++i) {
    const int row = i + 1;
    TRow& r = rows_[size_t(i)];
    r.check = new QCheckBox;
    r.check->setObjectName(QString("CheckBox%1").arg(row));
    r.check->setToolTip("Mark the caret's place");
    r.note = new QLineEdit;
    r.note->setObjectName(QString("Edit%1").arg(row));
    r.note->setMinimumWidth(r.note->fontMetrics().averageCharWidth() * 36);
    r.button = new QPushButton(QString("&%1").arg(row));
    r.button->setObjectName(QString("Button%1").arg(row));
    r.button->setAutoDefault(false);
    r.pos = new TBookmarkPos(QString("Position%1").arg(row), this);
    grid->addWidget(r.check, i, 0);
    grid->addWidget(r.note, i, 1);
    grid->addWidget(r.button, i, 2);
    connect(r.check, &QCheckBox::clicked, this, [this, row] { CheckBoxClick(row); });
    connect(r.button, &QPushButton::clicked, this, [this, row] { RowButtonClick(row); });
  }
  auto* buttons = new QDialogButtonBox;
  QPushButton* close = buttons->addButton("Close", QDialogButtonBox::RejectRole);
  close->setObjectName("CloseBtn");
  connect(close, &QPushButton::clicked, this, &TBookMarks::CloseBtnClick);

  auto* top = new QVBoxLayout(this);
  top->addWidget(intro);
  top->addLayout(grid);
  top->addWidget(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  PropStore1 = new TPropStore(this, settings);
  PropStore1->RegistryRoot = LOCAL_MACHINE;
  const QString key = ";SOFTWARE\\Dunmarra\\Text Editor;";
  for (int row = 1; row <= kRows; ++row) {
    const QString n = QString::number(row);
    // The fourth box has always been kept under a name of its own.
    const QString checkValue = row == 4 ? "BM4Checked" : "BM" + n + "Check";
    PropStore1->Items << "Edit" + n + ";text;" + key + "BM" + n + "Text;1;0"
                      << "CheckBox" + n + ";checked;" + key + checkValue + ";1;0"
                      << "Position" + n + ";Line;" + key + "BM" + n + "Line;1;0"
                      << "Position" + n + ";Col;" + key + "BM" + n + "Col;1;0";
  }
  PropStore1->LoadItems();
  updateButtons();
}

TBookMarks::~TBookMarks() {
  // At program end there is no one left to tell of a failed save.
  (void)PropStore1->SaveItems();
}

std::optional<TTextPos> TBookMarks::Position(int row) const {
  if (row < 1 || row > kRows) return std::nullopt;
  const TBookmarkPos* pos = rows_[size_t(row - 1)].pos;
  bool lineOk = false, colOk = false;
  const int line = pos->line.trimmed().toInt(&lineOk);
  const int col = pos->col.trimmed().toInt(&colOk);
  if (!lineOk || !colOk || line < 0 || col < 0) return std::nullopt;
  return TTextPos{line, col};
}

void TBookMarks::CheckBoxClick(int row) {
  if (row < 1 || row > kRows) return;
  TBookmarkPos* pos = rows_[size_t(row - 1)].pos;
  pos->line = QString::number(caret_.line);
  pos->col = QString::number(caret_.col);
  updateButtons();
}

void TBookMarks::RowButtonClick(int row) {
  // A row that was never marked has nowhere to go; its button is disabled, and this guards the
  // keyboard's mnemonic as well.
  if (!Position(row)) return;
  chosen_ = row;
  accept();
}

void TBookMarks::CloseBtnClick() {
  (void)PropStore1->SaveItems();
  reject();
}

void TBookMarks::showEvent(QShowEvent* event) {
  chosen_ = 0;
  updateButtons();
  QDialog::showEvent(event);
}

void TBookMarks::updateButtons() {
  for (int row = 1; row <= kRows; ++row)
    rows_[size_t(row - 1)].button->setEnabled(Position(row).has_value());
}

}  // namespace quelt
