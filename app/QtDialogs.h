// The desktop's dialogs through Qt's widgets.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "app/dialogs/BrowseFolderDlg.h"
#include "platform/Dialogs.h"

namespace quelt {

class TQtDialogs : public IDialogs {
 public:
  // Dialogs belong to the active window, else to the owner (the main window once it exists).
  // The folder browser is made here, once, and lives as long as the owner.
  void SetOwner(QWidget* owner);

  TMsgBoxResult MessageBox(const std::string& text, const std::string& caption, TMsgBoxIcon icon,
                           TMsgBoxButtons buttons) override;
  std::optional<std::string> OpenFile(const TFileDialogSpec& spec) override;
  std::optional<std::string> SaveFile(const TFileDialogSpec& spec) override;
  std::optional<std::string> OpenProgram(const TFileDialogSpec& spec) override;
  std::optional<TFontSpec> ChooseFont(const TFontSpec& initial, bool withStyle) override;
  std::optional<std::string> BrowseFolder(const std::string& title,
                                          const std::string& startDir) override;
  std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                        const std::string& initial) override;
  void ShowAbout(const TAboutSpec& about) override;
  bool ShellOpen(const std::string& target) override;
  bool PrinterSetup(TPrintSpec& spec) override;
  bool PrintDialog(TPrintSpec& spec) override;

 private:
  QWidget* parent() const;
  std::optional<std::string> runFileDialog(const TFileDialogSpec& spec, bool save);
  bool runPrintDialog(TPrintSpec& spec, bool setup);

  QPointer<QWidget> owner_;
  QPointer<TBrowseFolderDlg> browser_;
};

// "Desc|*.ZIP|All|*.*" in the form Qt's file dialogs take: "Desc (*.ZIP *.zip);;All (*)".
// Patterns are given in lower and upper case, since names on this system differ by case.
QString QtFileFilter(const std::string& filter);

}  // namespace quelt
