// "ZIP Information": the archive's name, its compressed and uncompressed totals and the
// compression ratio.
#pragma once

#include <QDialog>
#include <QLabel>

namespace quelt {

class TInfoForm : public QDialog {
  Q_OBJECT

 public:
  explicit TInfoForm(QWidget* parent);

  void SetValues(const QString& fileName, const QString& compressed, const QString& uncompressed,
                 const QString& ratio);
  QString FileName() const { return fileName_->text(); }
  QString Compressed() const { return compressed_->text(); }
  QString Uncompressed() const { return uncompressed_->text(); }
  QString Ratio() const { return ratio_->text(); }

 private:
  QLabel* fileName_;
  QLabel* compressed_;
  QLabel* uncompressed_;
  QLabel* ratio_;
};

}  // namespace quelt
