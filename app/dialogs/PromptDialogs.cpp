#include "app/dialogs/PromptDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace quelt {

namespace {

QLineEdit* passwordEdit(const QString& name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setEchoMode(QLineEdit::Password);
  // A secret: masked on screen and kept out of input-method history.
  edit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhNoPredictiveText | Qt::ImhSensitiveData);
  return edit;
}

// "OK" (default) and "Cancel" (Escape) buttons that accept and reject the dialog.
QDialogButtonBox* okCancel(QDialog* dialog, const QString& ok, const QString& cancel) {
  auto* box = new QDialogButtonBox(dialog);
  QPushButton* okBut = box->addButton(ok, QDialogButtonBox::AcceptRole);
  okBut->setObjectName("OKBut");
  okBut->setDefault(true);
  box->addButton(cancel, QDialogButtonBox::RejectRole)->setObjectName("CancelBut");
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

int textWidth(const QWidget* w, int chars) {
  return w->fontMetrics().averageCharWidth() * chars;
}

}  // namespace

TEnterPwd::TEnterPwd(QWidget* parent) : QDialog(parent) {
  setObjectName("EnterPwd");
  setWindowTitle("Password");
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel("Password:", this);
  edit_ = passwordEdit("PasswordEdit", this);
  label->setBuddy(edit_);
  auto* note = new QLabel(
      "<b>Note</b>: The password will be applied to every file you subsequently add or extract "
      "from the current ZIP, and will be automatically cleared when the ZIP is closed.",
      this);
  note->setObjectName("NoteLabel");
  note->setWordWrap(true);
  aes_ = new QCheckBox("Encrypt added files with &AES-256", this);
  aes_->setObjectName("AesCheck");
  auto* weak =
      new QLabel("Traditional ZIP encryption is weak; AES-256 needs a recent unzip tool.", this);
  weak->setObjectName("WeakCipherLabel");
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addWidget(aes_);
  layout->addWidget(weak);
  layout->addSpacing(6);
  layout->addWidget(note);
  layout->addWidget(okCancel(this, "&OK", "&Cancel"));
  // As high as the wrapped note needs at the dialog's width, no more.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  note->setMinimumWidth(textWidth(this, 52));
}

void TEnterPwd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  edit_->setFocus();
  edit_->selectAll();
}

TInvalidPwdDlg::TInvalidPwdDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("InvalidPwdDlg");
  setWindowTitle("Invalid Password");
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel("Enter new password or Cancel to skip file:", this);
  edit_ = passwordEdit("PasswordEdit", this);
  label->setBuddy(edit_);
  auto* fileRow = new QHBoxLayout;
  auto* fileCaption = new QLabel("<b>File:</b>", this);
  file_ = new QLabel("Filename goes here", this);
  file_->setObjectName("FileLabel");
  file_->setTextFormat(Qt::PlainText);
  file_->setWordWrap(true);
  fileRow->addWidget(fileCaption, 0, Qt::AlignTop);
  fileRow->addWidget(file_, 1);
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addLayout(fileRow);
  layout->addWidget(okCancel(this, "OK", "Cancel"));
  setMinimumWidth(textWidth(this, 48));
}

void TInvalidPwdDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  edit_->setFocus();
  edit_->selectAll();
}

TIncompleteZipDlg::TIncompleteZipDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("IncompleteZipDlg");
  setWindowTitle("Incomplete Zip File!");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(this);
  int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
  auto* text = new QLabel(
      "<b>This zip file is not complete.</b>&nbsp; It may be part of a muliple part zip "
      "file.&nbsp; If so, press CANCEL, then insert the last disk of the disk set and try "
      "again.<br><br>If you think it may be a corrupted zip file, press OK and an attempt will "
      "be made to read as much of the zip file as possible.",
      this);
  text->setObjectName("MessageLabel");
  text->setWordWrap(true);
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  layout->addLayout(row);
  layout->addWidget(okCancel(this, "OK", "Cancel"));
  setMinimumWidth(textWidth(this, 60));
}

void TIncompleteZipDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  QApplication::beep();
}

}  // namespace quelt
