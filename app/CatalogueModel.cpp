#include "app/CatalogueModel.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <algorithm>

#include "app/QtText.h"

namespace quelt {

QString LongTimeFormatWithoutZone(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (QChar c : format) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == 't') continue;
    out += c;
  }
  return out.simplified();
}

void TCatalogueModel::Fill(const TUnZipEngine& engine) {
  beginResetModel();
  rows_.clear();
  largest_ = 0;
  QLocale locale;
  dateFormat_ = locale.dateFormat(QLocale::ShortFormat);
  timeFormat_ = LongTimeFormatWithoutZone(locale);
  int count = engine.Count();
  rows_.reserve(size_t(count));
  for (int i = 0; i < count; ++i) {
    const TZipHeaderInfo& e = engine.Entry(i);
    TRow row;
    row.name = TextToQt(e.Filename());
    if (e.Encrypted()) row.name += '#';
    row.when = engine.EntryDateTime(i);
    row.size = e.UncompressedSize;
    row.packed = e.CompressedSize;
    row.path = TextToQt(e.Directory());
    largest_ = std::max({largest_, row.size, row.packed});
    rows_.push_back(std::move(row));
  }
  endResetModel();
}

void TCatalogueModel::Clear() {
  beginResetModel();
  rows_.clear();
  largest_ = 0;
  endResetModel();
}

int TCatalogueModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int TCatalogueModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount;
}

QString TCatalogueModel::CellText(int row, int column) const {
  if (row < 0 || row >= int(rows_.size())) return QString();
  const TRow& r = rows_[size_t(row)];
  switch (column) {
    case colFilename:
      return r.name;
    case colDate:
      return QLocale().toString(QDate(r.when.year, r.when.month, r.when.day), dateFormat_);
    case colTime:
      return QLocale().toString(QTime(r.when.hour, r.when.minute, r.when.second), timeFormat_);
    case colSize:
      return QString::number(r.size);
    case colPacked:
      return QString::number(r.packed);
    case colPath:
      return r.path;
    default:
      return QString();
  }
}

QVariant TCatalogueModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  if (role == Qt::DisplayRole) return CellText(index.row(), index.column());
  if (role == Qt::TextAlignmentRole && (index.column() == colSize || index.column() == colPacked))
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  return QVariant();
}

QVariant TCatalogueModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const kTitles[] = {"Filename", "Date", "Time", "Size", "Packed", "Path"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= colCount)
    return QVariant();
  return QString(kTitles[section]);
}

int TCatalogueModel::DefaultWidth(int column) {
  static const int kWidths[] = {133, 58, 68, 53, 53, 127};
  return column >= 0 && column < colCount ? kWidths[column] : 0;
}

}  // namespace quelt
