// Remembers chosen properties of a window's controls in the settings store. Each line of
// Items names one property:
//   control;property;default;key;value name;1;load only
// The control is found by its object name among the form's children (the form by its own
// name), the property by its Qt property name; letter case is ignored in both.
#pragma once

#include <QMetaProperty>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <optional>

#include "platform/SettingsStore.h"

namespace quelt {

class TPropStore : public QObject {
  Q_OBJECT

 public:
  // The store belongs to `form` and is destroyed with it.
  TPropStore(QWidget* form, TSettingsStore& settings);

  QStringList Items;
  TRegRoots RegistryRoot = CURRENT_USER;

  // Applies each item's stored value, or its default when none is stored. Items that do
  // not resolve, or whose value does not convert, are skipped one by one.
  void LoadItems();
  // Writes each item that is not load-only as a text value. False when the settings file
  // could not be saved; nothing else is reported.
  bool SaveItems();

  // The value texts of single properties, as LoadItems and SaveItems use them.
  static std::optional<QString> PropertyText(QObject* form, QObject* control,
                                             const QMetaProperty& property);
  // False when the text does not convert; the property then keeps its value.
  static bool ApplyText(QObject* form, QObject* control, const QMetaProperty& property,
                        const QString& text);

  // One line of Items: the property of the control kept under the value name of the key,
  // loaded and saved.
  static QString Item(const QString& control, const QString& property, const QString& def,
                      const QString& key, const QString& valueName);

  // The font's fields Charset|Color|Height|Name|Pitch|Size|Style.
  static QString FontText(const QFont& font);
  static bool ApplyFontText(QFont& font, const QString& text);

 private:
  struct TItem {
    QString component, property, defaultText, key, valueName;
    bool loadOnly = false;
    bool blank() const {
      return component.isEmpty() && property.isEmpty() && key.isEmpty() && valueName.isEmpty();
    }
  };
  static TItem parseItem(const QString& line);
  QObject* findControl(const QString& name) const;
  static std::optional<QMetaProperty> findProperty(QObject* control, const QString& name);

  QWidget* form_;
  TSettingsStore& settings_;
};

}  // namespace quelt
