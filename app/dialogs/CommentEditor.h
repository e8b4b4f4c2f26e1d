// The archive comment editor: a multi-line text that takes Tab characters, "OK" and "Cancel".
#pragma once

#include <QDialog>
#include <QPlainTextEdit>

namespace quelt {

class TCommentEditor : public QDialog {
  Q_OBJECT

 public:
  explicit TCommentEditor(QWidget* parent);

  QString Text() const { return Memo1->toPlainText(); }
  void SetText(const QString& text) { Memo1->setPlainText(text); }

  QPlainTextEdit* Memo1;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace quelt
