#include "app/viewers/FindDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <initializer_list>
#include <vector>

namespace quelt {

namespace {

QLineEdit* addTextRow(QGridLayout* grid, int row, const QString& caption, const char* name) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 32);
  auto* label = new QLabel(caption);
  label->setBuddy(edit);
  grid->addWidget(label, row, 0);
  grid->addWidget(edit, row, 1);
  return edit;
}

QCheckBox* addCheck(QVBoxLayout* box, const QString& caption, const char* name) {
  auto* check = new QCheckBox(caption);
  check->setObjectName(name);
  box->addWidget(check);
  return check;
}

QPushButton* addButton(QVBoxLayout* column, const QString& caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(name);
  column->addWidget(button);
  return button;
}

// The dialog's frame: the fields on the left, the buttons above Cancel on the right.
void finishLayout(QDialog* dialog, QVBoxLayout* left, QVBoxLayout* buttons) {
  QPushButton* cancel = addButton(buttons, "Cancel", "CancelButton");
  buttons->addStretch();
  auto* top = new QHBoxLayout(dialog);
  top->addLayout(left, 1);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

// Find Next can only run with something to find.
void enableWhileText(QLineEdit* edit, std::initializer_list<QPushButton*> buttons) {
  auto update = [edit, buttons = std::vector<QPushButton*>(buttons)] {
    for (QPushButton* b : buttons) b->setEnabled(!edit->text().isEmpty());
  };
  QObject::connect(edit, &QLineEdit::textChanged, edit, update);
  update();
}

}  // namespace

TFindDialog::TFindDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("FindDialog1");
  setWindowTitle("Find");
  auto* grid = new QGridLayout;
  findEdit_ = addTextRow(grid, 0, "Fi&nd what:", "FindText");

  auto* options = new QVBoxLayout;
  wholeWord_ = addCheck(options, "Match &whole word only", "WholeWord");
  matchCase_ = addCheck(options, "Match &case", "MatchCase");
  options->addStretch();
  auto* direction = new QGroupBox("Direction");
  auto* directionRow = new QHBoxLayout(direction);
  up_ = new QRadioButton("&Up");
  up_->setObjectName("Up");
  down_ = new QRadioButton("&Down");
  down_->setObjectName("Down");
  down_->setChecked(true);
  directionRow->addWidget(up_);
  directionRow->addWidget(down_);
  auto* lower = new QHBoxLayout;
  lower->addLayout(options);
  lower->addWidget(direction);

  auto* left = new QVBoxLayout;
  left->addLayout(grid);
  left->addLayout(lower);
  auto* buttons = new QVBoxLayout;
  findButton_ = addButton(buttons, "&Find Next", "FindNextButton");
  findButton_->setDefault(true);
  finishLayout(this, left, buttons);

  enableWhileText(findEdit_, {findButton_});
  connect(findButton_, &QPushButton::clicked, this, &TFindDialog::FindNext);
}

void TFindDialog::SetOptions(bool wholeWord, bool matchCase, bool down) {
  wholeWord_->setChecked(wholeWord);
  matchCase_->setChecked(matchCase);
  (down ? down_ : up_)->setChecked(true);
}

TReplaceDialog::TReplaceDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ReplaceDialog1");
  setWindowTitle("Replace");
  auto* grid = new QGridLayout;
  findEdit_ = addTextRow(grid, 0, "Fi&nd what:", "FindText");
  replaceEdit_ = addTextRow(grid, 1, "Re&place with:", "ReplaceText");

  auto* options = new QVBoxLayout;
  wholeWord_ = addCheck(options, "Match &whole word only", "WholeWord");
  matchCase_ = addCheck(options, "Match &case", "MatchCase");
  options->addStretch();

  auto* left = new QVBoxLayout;
  left->addLayout(grid);
  left->addLayout(options);
  auto* buttons = new QVBoxLayout;
  findButton_ = addButton(buttons, "&Find Next", "FindNextButton");
  findButton_->setDefault(true);
  replaceButton_ = addButton(buttons, "&Replace", "ReplaceButton");
  replaceAllButton_ = addButton(buttons, "Replace &All", "ReplaceAllButton");
  finishLayout(this, left, buttons);

  enableWhileText(findEdit_, {findButton_, replaceButton_, replaceAllButton_});
  connect(findButton_, &QPushButton::clicked, this, &TReplaceDialog::FindNext);
  connect(replaceButton_, &QPushButton::clicked, this, [this] { emit Replace(false); });
  connect(replaceAllButton_, &QPushButton::clicked, this, [this] { emit Replace(true); });
}

void TReplaceDialog::SetOptions(bool wholeWord, bool matchCase) {
  wholeWord_->setChecked(wholeWord);
  matchCase_->setChecked(matchCase);
}

}  // namespace quelt
