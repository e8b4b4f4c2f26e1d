// Conversions between the engine's and platform's plain strings and Qt's types.
#pragma once

#include <QFile>
#include <QFont>
#include <QString>
#include <string>

#include "platform/Dialogs.h"

namespace quelt {

// File names are bytes in the file system's encoding; everything else is UTF-8.
inline QString PathToQt(const std::string& path) {
  return QFile::decodeName(path.c_str());
}
inline std::string PathFromQt(const QString& path) {
  return QFile::encodeName(path).toStdString();
}
inline QString TextToQt(const std::string& text) {
  return QString::fromStdString(text);
}
inline std::string TextFromQt(const QString& text) {
  return text.toStdString();
}

// The text without leading and trailing blanks and control characters (codes up to 32).
inline QString TrimControl(const QString& s) {
  int begin = 0, end = int(s.size());
  while (begin < end && s[begin].unicode() <= 32) ++begin;
  while (end > begin && s[end - 1].unicode() <= 32) --end;
  return s.mid(begin, end - begin);
}

inline QFont FontFromSpec(const TFontSpec& spec, QFont font = QFont()) {
  if (!spec.name.empty()) font.setFamily(TextToQt(spec.name));
  if (spec.size > 0) font.setPointSize(spec.size);
  font.setBold(spec.bold);
  font.setItalic(spec.italic);
  font.setUnderline(spec.underline);
  font.setStrikeOut(spec.strikeOut);
  return font;
}

inline TFontSpec SpecFromFont(const QFont& font) {
  TFontSpec spec;
  spec.name = TextFromQt(font.family());
  spec.size = font.pointSize() > 0 ? font.pointSize() : qRound(font.pixelSize() * 72.0 / 96.0);
  spec.bold = font.bold();
  spec.italic = font.italic();
  spec.underline = font.underline();
  spec.strikeOut = font.strikeOut();
  return spec;
}

}  // namespace quelt
