#include "app/PropStore.h"

#include <QApplication>
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLocale>
#include <QMetaEnum>
#include <QPalette>
#include <cmath>

#include "app/QtText.h"

namespace quelt {

namespace {

// Colours are stored as the identifiers of the colour type the settings were first written
// with; their numbers are blue-green-red.
struct TColorName {
  const char* name;
  uint32_t bgr;
};
const TColorName kColors[] = {
    {"clBlack", 0x000000}, {"clMaroon", 0x000080},     {"clGreen", 0x008000},
    {"clOlive", 0x008080}, {"clNavy", 0x800000},       {"clPurple", 0x800080},
    {"clTeal", 0x808000},  {"clGray", 0x808080},       {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},   {"clLime", 0x00FF00},       {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},  {"clFuchsia", 0xFF00FF},    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF}, {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0},
};
// System colours follow the desktop's palette; they are read but never written.
struct TSystemColor {
  const char* name;
  QPalette::ColorRole role;
};
const TSystemColor kSystemColors[] = {
    {"clWindow", QPalette::Base},         {"clWindowText", QPalette::Text},
    {"clBtnFace", QPalette::Button},      {"clBtnText", QPalette::ButtonText},
    {"clHighlight", QPalette::Highlight}, {"clHighlightText", QPalette::HighlightedText},
};

struct TCursorName {
  const char* name;
  int number;
  Qt::CursorShape shape;
};
const TCursorName kCursors[] = {
    {"crDefault", 0, Qt::ArrowCursor},
    {"crNone", -1, Qt::BlankCursor},
    {"crArrow", -2, Qt::ArrowCursor},
    {"crCross", -3, Qt::CrossCursor},
    {"crIBeam", -4, Qt::IBeamCursor},
    {"crSizeNESW", -6, Qt::SizeBDiagCursor},
    {"crSizeNS", -7, Qt::SizeVerCursor},
    {"crSizeNWSE", -8, Qt::SizeFDiagCursor},
    {"crSizeWE", -9, Qt::SizeHorCursor},
    {"crUpArrow", -10, Qt::UpArrowCursor},
    {"crHourGlass", -11, Qt::WaitCursor},
    {"crDrag", -12, Qt::DragCopyCursor},
    {"crNoDrop", -13, Qt::ForbiddenCursor},
    {"crHSplit", -14, Qt::SplitHCursor},
    {"crVSplit", -15, Qt::SplitVCursor},
    {"crMultiDrag", -16, Qt::DragMoveCursor},
    {"crSQLWait", -17, Qt::BusyCursor},
    {"crNo", -18, Qt::ForbiddenCursor},
    {"crAppStart", -19, Qt::BusyCursor},
    {"crHelp", -20, Qt::WhatsThisCursor},
    {"crHandPoint", -21, Qt::PointingHandCursor},
    {"crSizeAll", -22, Qt::SizeAllCursor},
};

const char* const kFontStyles[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

bool parseInteger(const QString& text, qlonglong& out) {
  bool ok = false;
  out = text.trimmed().toLongLong(&ok);
  return ok;
}

QString colorText(const QColor& color) {
  uint32_t bgr =
      uint32_t(color.red()) | uint32_t(color.green()) << 8 | uint32_t(color.blue()) << 16;
  for (const auto& c : kColors)
    if (c.bgr == bgr) return c.name;
  return QString::number(bgr);
}

bool parseColor(const QString& text, QColor& out) {
  for (const auto& c : kColors) {
    if (text.compare(c.name, Qt::CaseInsensitive) == 0) {
      out = QColor(int(c.bgr & 0xFF), int(c.bgr >> 8 & 0xFF), int(c.bgr >> 16 & 0xFF));
      return true;
    }
  }
  for (const auto& c : kSystemColors) {
    if (text.compare(c.name, Qt::CaseInsensitive) == 0) {
      out = QApplication::palette().color(c.role);
      return true;
    }
  }
  qlonglong n;
  if (!parseInteger(text, n) || n < 0 || n > 0xFFFFFF) return false;
  out = QColor(int(n & 0xFF), int(n >> 8 & 0xFF), int(n >> 16 & 0xFF));
  return true;
}

QString cursorText(const QCursor& cursor) {
  for (const auto& c : kCursors)
    if (c.shape == cursor.shape()) return c.name;
  return "crDefault";
}

bool parseCursor(const QString& text, QCursor& out) {
  qlonglong n = 1;
  bool numeric = parseInteger(text, n);
  for (const auto& c : kCursors) {
    if (text.compare(c.name, Qt::CaseInsensitive) == 0 || (numeric && n == c.number)) {
      out = QCursor(c.shape);
      return true;
    }
  }
  return false;
}

bool isBit(qlonglong v) {
  return v != 0 && (v & (v - 1)) == 0;
}

QString setText(const QMetaEnum& e, qlonglong value) {
  QStringList names;
  for (int i = 0; i < e.keyCount(); ++i)
    if (isBit(e.value(i)) && (value & e.value(i)) == e.value(i)) names << e.key(i);
  return "[" + names.join(',') + "]";
}

// Every member whose name occurs anywhere in the text is in the set.
qlonglong parseSet(const QMetaEnum& e, const QString& text) {
  qlonglong value = 0;
  for (int i = 0; i < e.keyCount(); ++i)
    if (isBit(e.value(i)) && text.contains(QLatin1String(e.key(i)))) value |= e.value(i);
  return value;
}

QString enumText(const QMetaEnum& e, qlonglong value) {
  if (const char* key = e.valueToKey(int(value))) return key;
  // Out of range: the lowest member stands for it.
  int lowest = -1;
  for (int i = 0; i < e.keyCount(); ++i)
    if (lowest < 0 || e.value(i) < e.value(lowest)) lowest = i;
  return lowest < 0 ? QString() : QString(e.key(lowest));
}

std::optional<int> parseEnum(const QMetaEnum& e, const QString& text) {
  for (int i = 0; i < e.keyCount(); ++i)
    if (text.compare(QLatin1String(e.key(i)), Qt::CaseInsensitive) == 0) return e.value(i);
  return std::nullopt;
}

QObject* childNamed(QObject* form, const QString& name) {
  if (name.isEmpty()) return nullptr;
  if (form->objectName() == name) return form;
  const auto children = form->findChildren<QObject*>();
  for (QObject* child : children)
    if (child->objectName().compare(name, Qt::CaseInsensitive) == 0) return child;
  return nullptr;
}

}  // namespace

TPropStore::TPropStore(QWidget* form, TSettingsStore& settings)
    : QObject(form), form_(form), settings_(settings) {
  setObjectName("PropStore1");
}

TPropStore::TItem TPropStore::parseItem(const QString& line) {
  QStringList fields = line.split(';');
  while (fields.size() < 7) fields << QString();
  for (QString& f : fields) f = TrimControl(f);
  TItem item;
  item.component = fields[0];
  item.property = fields[1];
  item.defaultText = fields[2];
  item.key = fields[3];
  item.valueName = fields[4];
  item.loadOnly = fields[6] == "1";
  return item;
}

QObject* TPropStore::findControl(const QString& name) const {
  return childNamed(form_, name);
}

QString TPropStore::Item(const QString& control, const QString& property, const QString& def,
                         const QString& key, const QString& valueName) {
  return control + ";" + property + ";" + def + ";" + key + ";" + valueName + ";1;0";
}

std::optional<QMetaProperty> TPropStore::findProperty(QObject* control, const QString& name) {
  const QMetaObject* meta = control->metaObject();
  int exact = meta->indexOfProperty(name.toLatin1().constData());
  if (exact >= 0) return meta->property(exact);
  for (int i = 0; i < meta->propertyCount(); ++i)
    if (name.compare(QLatin1String(meta->property(i).name()), Qt::CaseInsensitive) == 0)
      return meta->property(i);
  return std::nullopt;
}

QString TPropStore::FontText(const QFont& font) {
  double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
  int height = -int(std::lround(points * 96.0 / 72.0));
  QStringList style;
  const bool styles[] = {font.bold(), font.italic(), font.underline(), font.strikeOut()};
  for (int i = 0; i < 4; ++i)
    if (styles[i]) style << kFontStyles[i];
  return QStringList{"1",
                     "clWindowText",
                     QString::number(height),
                     font.family(),
                     font.fixedPitch() ? "fpFixed" : "fpDefault",
                     QString::number(std::lround(points)),
                     "[" + style.join(',') + "]"}
      .join('|');
}

bool TPropStore::ApplyFontText(QFont& font, const QString& text) {
  QStringList fields = text.split('|');
  QFont result = font;
  for (int i = 0; i < fields.size() && i < 7; ++i) {
    const QString& f = fields[i];
    qlonglong n;
    switch (i) {
      case 0:  // Charset: the text's encoding is Unicode here
        if (!f.isEmpty() && !parseInteger(f, n)) return false;
        break;
      case 1: {  // Color: the listing paints text in the palette's colour
        QColor ignored;
        if (!f.isEmpty() && !parseColor(f, ignored)) return false;
        break;
      }
      case 2:  // Height: negative is the character height in pixels at 96 dots per inch
        if (f.isEmpty()) break;
        if (!parseInteger(f, n)) return false;
        if (n != 0) result.setPointSizeF(std::abs(double(n)) * 72.0 / 96.0);
        break;
      case 3:
        result.setFamily(f);
        break;
      case 4:
        if (f.compare("fpFixed", Qt::CaseInsensitive) == 0)
          result.setFixedPitch(true);
        else if (f.compare("fpDefault", Qt::CaseInsensitive) == 0 ||
                 f.compare("fpVariable", Qt::CaseInsensitive) == 0)
          result.setFixedPitch(false);
        else if (!f.isEmpty())
          return false;
        break;
      case 5:  // Size in points, applied after Height, so it decides
        if (f.isEmpty()) break;
        if (!parseInteger(f, n)) return false;
        if (n > 0) result.setPointSize(int(n));
        break;
      case 6:
        result.setBold(f.contains(kFontStyles[0]));
        result.setItalic(f.contains(kFontStyles[1]));
        result.setUnderline(f.contains(kFontStyles[2]));
        result.setStrikeOut(f.contains(kFontStyles[3]));
        break;
    }
  }
  font = result;
  return true;
}

std::optional<QString> TPropStore::PropertyText(QObject*, QObject* control,
                                                const QMetaProperty& property) {
  QVariant v = property.read(control);
  if (!v.isValid()) return std::nullopt;
  if (property.isEnumType()) {
    QMetaEnum e = property.enumerator();
    qlonglong value = v.toLongLong();
    return e.isFlag() ? setText(e, value) : enumText(e, value);
  }
  QMetaType type = property.metaType();
  switch (type.id()) {
    case QMetaType::Bool:
      return QString(v.toBool() ? "1" : "0");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return v.toString();
    case QMetaType::Double:
    case QMetaType::Float:
      return QLocale::c().toString(v.toDouble(), 'g', 15);
    case QMetaType::QChar:
    case QMetaType::Char:
      return QString(v.toChar());
    case QMetaType::QString:
    case QMetaType::QByteArray:
      return v.toString();
    case QMetaType::QStringList:
      return v.toStringList().join('|');
    case QMetaType::QColor:
      return colorText(v.value<QColor>());
    case QMetaType::QCursor:
      return cursorText(v.value<QCursor>());
    case QMetaType::QFont:
      return FontText(v.value<QFont>());
    default:
      break;
  }
  if (type.flags() & QMetaType::PointerToQObject) {
    QObject* target = v.value<QObject*>();
    return target ? target->objectName() : QString();
  }
  return std::nullopt;
}

bool TPropStore::ApplyText(QObject* form, QObject* control, const QMetaProperty& property,
                           const QString& text) {
  if (!property.isWritable()) return false;
  if (property.isEnumType()) {
    QMetaEnum e = property.enumerator();
    if (e.isFlag()) return property.write(control, QVariant(int(parseSet(e, text))));
    auto value = parseEnum(e, text);
    return value && property.write(control, QVariant(*value));
  }
  QMetaType type = property.metaType();
  qlonglong n;
  switch (type.id()) {
    case QMetaType::Bool:
      if (text.isEmpty()) return true;
      return property.write(control, QVariant(QString("1TtYy").contains(text[0])));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      if (text.isEmpty()) return true;
      return parseInteger(text, n) && property.write(control, QVariant(n));
    case QMetaType::Double:
    case QMetaType::Float: {
      if (text.isEmpty()) return false;
      bool ok = false;
      double d = QLocale::c().toDouble(text.trimmed(), &ok);
      return ok && property.write(control, QVariant(d));
    }
    case QMetaType::QChar:
    case QMetaType::Char:
      if (text.isEmpty()) return true;
      return property.write(control, QVariant(text[0]));
    case QMetaType::QString:
    case QMetaType::QByteArray:
      return property.write(control, QVariant(text));
    case QMetaType::QStringList:
      return property.write(control, QVariant(text.isEmpty() ? QStringList() : text.split('|')));
    case QMetaType::QColor: {
      if (text.isEmpty()) return true;
      QColor color;
      return parseColor(text, color) && property.write(control, QVariant(color));
    }
    case QMetaType::QCursor: {
      if (text.isEmpty()) return true;
      QCursor cursor;
      return parseCursor(text, cursor) && property.write(control, QVariant(cursor));
    }
    case QMetaType::QFont: {
      QFont font = property.read(control).value<QFont>();
      return ApplyFontText(font, text) && property.write(control, QVariant(font));
    }
    default:
      break;
  }
  if (type.flags() & QMetaType::PointerToQObject) {
    QObject* target = childNamed(form, text);
    if (!target) return false;
    QVariant v = QVariant::fromValue(target);
    return v.convert(type) && property.write(control, v);
  }
  return false;
}

void TPropStore::LoadItems() {
  TRegistry reg(settings_, RegistryRoot);
  for (const QString& line : Items) {
    TItem item = parseItem(line);
    if (item.blank()) continue;
    QObject* control = findControl(item.component);
    if (!control) continue;
    auto property = findProperty(control, item.property);
    if (!property) continue;
    try {
      std::string key = TextFromQt(item.key), name = TextFromQt(item.valueName);
      QString text = item.defaultText;
      if (reg.OpenKey(key, false) && reg.ValueExists(name)) text = TextToQt(reg.ReadString(name));
      ApplyText(form_, control, *property, text);
    } catch (const ERegistryException&) {
      // A value of another type keeps the property as it is.
    }
  }
}

bool TPropStore::SaveItems() {
  TRegistry reg(settings_, RegistryRoot);
  for (const QString& line : Items) {
    TItem item = parseItem(line);
    if (item.loadOnly || item.blank()) continue;
    QObject* control = findControl(item.component);
    if (!control) continue;
    auto property = findProperty(control, item.property);
    if (!property) continue;
    auto text = PropertyText(form_, control, *property);
    if (!text) continue;
    try {
      if (reg.OpenKey(TextFromQt(item.key), true))
        reg.WriteString(TextFromQt(item.valueName), TextFromQt(*text));
    } catch (const ERegistryException&) {
      // A key that cannot be made skips this item only.
    }
  }
  try {
    reg.CloseKey();
    return true;
  } catch (const ERegistryException&) {
    return false;
  }
}

}  // namespace quelt
