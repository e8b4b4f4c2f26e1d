#include "app/viewers/TextBytes.h"

#include <QStringDecoder>
#include <algorithm>

namespace quelt {

namespace {

bool fitsLatin1(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

}  // namespace

TTextBytes TTextBytes::Decode(const QByteArray& bytes) {
  TTextBytes t;
  t.bytes_ = bytes;
  // A byte-order mark stays in the text, so that it is written back with it.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
  QString text = utf8.decode(bytes);
  if (utf8.hasError()) {
    t.encoding_ = Latin1;
    text = QString::fromLatin1(bytes);
  }

  qsizetype crlf = 0, lf = 0, cr = 0;
  QString normal;
  normal.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    QChar c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++crlf;
      ++i;
      normal += '\n';
    } else if (c == '\r') {
      ++cr;
      normal += '\n';
    } else {
      if (c == '\n') ++lf;
      normal += c;
    }
  }
  if (crlf > lf && crlf >= cr)
    t.lineEnd_ = "\r\n";
  else if (cr > lf && cr > crlf)
    t.lineEnd_ = "\r";
  t.text_ = normal;
  return t;
}

QByteArray TTextBytes::Encode(const QString& text, bool* widened) const {
  if (widened) *widened = false;
  // Mixed line ends and the like survive when the text itself was left alone.
  if (text == text_) return bytes_;
  QString out = text;
  if (lineEnd_ != "\n") out.replace('\n', lineEnd_);
  if (encoding_ == Latin1) {
    if (fitsLatin1(out)) return out.toLatin1();
    if (widened) *widened = true;
  }
  return out.toUtf8();
}

void TTextBytes::Saved(const QString& text, const QByteArray& bytes) {
  if (encoding_ == Latin1 && !fitsLatin1(text)) encoding_ = Utf8;
  text_ = text;
  bytes_ = bytes;
}

}  // namespace quelt
