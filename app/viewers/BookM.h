// "Bookmarks": five marks in the text, each with a note. Ticking a row's box (either way)
// marks the caret's position; the row's number button goes back there.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <optional>

#include "app/PropStore.h"
#include "platform/SettingsStore.h"

namespace quelt {

// One row's marked position, line and column counted from 0, kept as text; empty when the row
// was never marked.
class TBookmarkPos : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString Line MEMBER line)
  Q_PROPERTY(QString Col MEMBER col)

 public:
  TBookmarkPos(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
  QString line, col;
};

struct TTextPos {
  int line = 0, col = 0;
  bool operator==(const TTextPos&) const = default;
};

class TBookMarks : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRows = 5;

  TBookMarks(TSettingsStore& settings, QWidget* parent);
  ~TBookMarks() override;

  // The caret's position, which ticking a row's box marks.
  void SetCaret(TTextPos caret) { caret_ = caret; }
  // After exec() gave Accepted: the row (1 to 5) whose button was pressed.
  int ChosenRow() const { return chosen_; }
  // A row's marked position; nothing when it was never marked or holds no numbers.
  std::optional<TTextPos> Position(int row) const;

  // ---- Handlers (row 1 to 5)
  void CheckBoxClick(int row);
  void RowButtonClick(int row);
  // "Close": keeps the marks, then closes with Rejected.
  void CloseBtnClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void updateButtons();

  struct TRow {
    QCheckBox* check = nullptr;
    QLineEdit* note = nullptr;
    QPushButton* button = nullptr;
    TBookmarkPos* pos = nullptr;
  };
  std::array<TRow, kRows> rows_;
  TTextPos caret_;
  int chosen_ = 0;
  TPropStore* PropStore1;
};

}  // namespace quelt
