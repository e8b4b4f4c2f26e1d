// "File Info": name, folder, extension, date and size of the file being edited.
#pragma once

#include <QDialog>
#include <QLabel>
#include <array>

namespace quelt {

class TInfoTextFrm : public QDialog {
  Q_OBJECT

 public:
  enum TField { fnName, fnPath, fnExtension, fnDate, fnSize, fnCount };

  explicit TInfoTextFrm(QWidget* parent);

  // Fills the values for `file`; an empty name or "Untitled" reads "<Not saved>" throughout.
  void ShowFile(const QString& file);
  // A value as shown, and in full (the paths are shortened to fit).
  QString Shown(TField field) const { return values_[field]->text(); }
  QString Value(TField field) const { return full_[field]; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fit();

  std::array<QLabel*, fnCount> values_{};
  std::array<QString, fnCount> full_;
};

}  // namespace quelt
