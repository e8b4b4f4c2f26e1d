#include "app/dialogs/CommentEditor.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelt {

TCommentEditor::TCommentEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("CommentEditor");
  setWindowTitle("Editing Zip Comment");
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  // Tab goes into the text: comments are often laid out in columns.
  Memo1->setTabChangesFocus(false);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Comments are mostly drawn for a fixed-pitch screen.
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QFontMetrics metrics(Memo1->font());
  Memo1->setTabStopDistance(metrics.horizontalAdvance(' ') * 8);
  Memo1->setMinimumSize(metrics.horizontalAdvance(QString(64, 'x')), metrics.lineSpacing() * 12);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("OKBut");
  ok->setDefault(true);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("CancelBut");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1, 1);
  layout->addWidget(buttons);
}

void TCommentEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Memo1->setFocus();
}

}  // namespace quelt
