// The editor's Find and Replace dialogs. Both stay open beside the text (modeless) and hand
// their requests to the editor by signals; their texts are kept by the editor's property store.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace quelt {

class TFindDialog : public QDialog {
  Q_OBJECT
  Q_PROPERTY(QString FindText READ FindText WRITE SetFindText)

 public:
  explicit TFindDialog(QWidget* parent);

  QString FindText() const { return findEdit_->text(); }
  void SetFindText(const QString& text) { findEdit_->setText(text); }
  bool WholeWord() const { return wholeWord_->isChecked(); }
  bool MatchCase() const { return matchCase_->isChecked(); }
  bool Down() const { return down_->isChecked(); }
  void SetOptions(bool wholeWord, bool matchCase, bool down);

 signals:
  void FindNext();

 private:
  QLineEdit* findEdit_;
  QCheckBox* wholeWord_;
  QCheckBox* matchCase_;
  QRadioButton* up_;
  QRadioButton* down_;
  QPushButton* findButton_;
};

class TReplaceDialog : public QDialog {
  Q_OBJECT
  Q_PROPERTY(QString FindText READ FindText WRITE SetFindText)
  Q_PROPERTY(QString ReplaceText READ ReplaceText WRITE SetReplaceText)

 public:
  explicit TReplaceDialog(QWidget* parent);

  QString FindText() const { return findEdit_->text(); }
  void SetFindText(const QString& text) { findEdit_->setText(text); }
  QString ReplaceText() const { return replaceEdit_->text(); }
  void SetReplaceText(const QString& text) { replaceEdit_->setText(text); }
  bool WholeWord() const { return wholeWord_->isChecked(); }
  bool MatchCase() const { return matchCase_->isChecked(); }
  void SetOptions(bool wholeWord, bool matchCase);

 signals:
  void FindNext();
  // `all`: every match from the caret on, else the next one only.
  void Replace(bool all);

 private:
  QLineEdit* findEdit_;
  QLineEdit* replaceEdit_;
  QCheckBox* wholeWord_;
  QCheckBox* matchCase_;
  QPushButton* findButton_;
  QPushButton* replaceButton_;
  QPushButton* replaceAllButton_;
};

}  // namespace quelt
