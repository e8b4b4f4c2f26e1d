// The small dialogs that ask for secrets and about incomplete archives: the password entry
// behind the "Password..." buttons, the question after a wrong password, and the question
// about an archive without its end record.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quelt {

class TEnterPwd : public QDialog {
  Q_OBJECT

 public:
  explicit TEnterPwd(QWidget* parent);
  QString Text() const { return edit_->text(); }
  // Whether files added with the password are encrypted with AES-256; traditional otherwise.
  bool UseAes() const { return aes_->isChecked(); }
  // Another archive is opened: the last password typed is offered no more.
  void Clear() { edit_->clear(); }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* edit_;
  QCheckBox* aes_;
};

class TInvalidPwdDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TInvalidPwdDlg(QWidget* parent);
  QString Password() const { return edit_->text(); }
  void SetPassword(const QString& text) { edit_->setText(text); }
  QString FileName() const { return file_->text(); }
  void SetFileName(const QString& name) { file_->setText(name); }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* edit_;
  QLabel* file_;
};

class TIncompleteZipDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TIncompleteZipDlg(QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace quelt
