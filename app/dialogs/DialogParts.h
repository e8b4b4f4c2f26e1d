// Pieces the window's dialogs share: their settings key, named buttons, and the layout of a
// tabbed dialog above its two closing buttons.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTabWidget>

namespace quelt {

// Where the windows keep their remembered items (under the root each one names).
inline constexpr const char* kSettingsKey = "SOFTWARE\\Dunmarra\\Quelt";
// Most threads the window lets compress files at once (setting "CompressThreads").
inline constexpr int kMaxCompressThreads = 64;

// One item of a property store: the control's property kept under the value name of the
// settings key, with its default.
QString SettingsItem(const QString& control, const QString& property, const QString& def,
                     const QString& valueName);

// A button with an object name that Enter does not press unless it has the focus.
QPushButton* MakeButton(const QString& name, const QString& caption, QWidget* parent);

struct TTabbedDialog {
  QTabWidget* pages;
  QPushButton* ok;  // the default button, "OKBut"
  QPushButton* cancel;  // "CancelBut"
};
// Lays the dialog out as the pages "Standard" and "Advanced" above its closing buttons, and
// sizes it in characters and lines of its font.
TTabbedDialog LayOutTabbed(QDialog* dialog, QWidget* standard, QWidget* advanced,
                           const QString& okCaption, int columns, int lines);

}  // namespace quelt
