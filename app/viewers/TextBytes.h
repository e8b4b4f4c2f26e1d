// A text file as the editor keeps it: the bytes it was loaded from, their encoding (UTF-8 when
// they are valid UTF-8, else Latin-1) and their line ends, so that saving writes the same kind
// of file back, and the very same bytes when nothing was changed.
#pragma once

#include <QByteArray>
#include <QString>

namespace quelt {

class TTextBytes {
 public:
  enum TEncoding { Utf8, Latin1 };

  static TTextBytes Decode(const QByteArray& bytes);

  // The text with every line end as "\n".
  const QString& Text() const { return text_; }
  TEncoding Encoding() const { return encoding_; }
  // "\r\n", "\n" or "\r": whichever most lines of the file end with.
  const QString& LineEnd() const { return lineEnd_; }

  // The bytes that hold `text`. `widened` is set when Latin-1 cannot hold a character of it
  // and UTF-8 is used instead.
  QByteArray Encode(const QString& text, bool* widened = nullptr) const;
  // The text was saved as `bytes` (which Encode gave for it); unchanged saves now write these.
  void Saved(const QString& text, const QByteArray& bytes);

 private:
  QByteArray bytes_;
  QString text_;
  TEncoding encoding_ = Utf8;
  QString lineEnd_ = "\n";
};

}  // namespace quelt
