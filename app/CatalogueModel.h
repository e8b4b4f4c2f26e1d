// The catalogue listing: one row per entry of the engine's sorted view, in its order, with the
// six columns Filename, Date, Time, Size, Packed and Path.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "engine/DateTime.h"
#include "engine/UnZipEngine.h"

namespace quelt {

class TCatalogueModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn { colFilename, colDate, colTime, colSize, colPacked, colPath, colCount };

  using QAbstractTableModel::QAbstractTableModel;

  // Replaces the rows by the engine's entries 0 .. Count - 1. The rows are a copy, so the
  // listing stays whole while the engine rereads its catalogue.
  void Fill(const TUnZipEngine& engine);
  void Clear();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The text shown in a cell.
  QString CellText(int row, int column) const;
  // The largest size and packed size among the rows, for fitting their columns.
  int64_t LargestSize() const { return largest_; }
  // The header's section widths in pixels.
  static int DefaultWidth(int column);

 private:
  struct TRow {
    QString name;  // with "#" for an encrypted entry
    TDateTime when;
    int64_t size = 0, packed = 0;
    QString path;
  };
  std::vector<TRow> rows_;
  QString dateFormat_, timeFormat_;
  int64_t largest_ = 0;
};

// The locale's long time format without its time-zone part: entry times carry no zone.
QString LongTimeFormatWithoutZone(const QLocale& locale);

}  // namespace quelt
