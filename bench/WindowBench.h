// The window the window benchmarks time: a main window on its own settings, shown, whose
// dialogs must never ask anything (if one does, the figures are void and the program stops).
#pragma once

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "app/commands/AssociationCommand.h"
#include "app/mainunit.h"
#include "app/viewers/Assoc.h"
#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"

namespace quelt::bench {

class TNoDialogs : public IDialogs {
 public:
  TMsgBoxResult MessageBox(const std::string& text, const std::string&, TMsgBoxIcon,
                           TMsgBoxButtons) override {
    std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
    std::exit(1);
  }
  std::optional<std::string> OpenFile(const TFileDialogSpec&) override { return {}; }
  std::optional<std::string> SaveFile(const TFileDialogSpec&) override { return {}; }
  std::optional<TFontSpec> ChooseFont(const TFontSpec&, bool) override { return {}; }
  std::optional<std::string> BrowseFolder(const std::string&, const std::string&) override {
    return {};
  }
  std::optional<std::string> InputQuery(const std::string&, const std::string&,
                                        const std::string&) override {
    return {};
  }
  void ShowAbout(const TAboutSpec&) override {}
  bool ShellOpen(const std::string&) override { return false; }
};

// A desktop that already opens ZIP files with us: the start-up question stays away.
class TOurZipFiles : public IDesktopAssociation {
 public:
  bool IsZipHandler() override { return true; }
  void MakeZipHandler(const std::string&) override {}
};

// Uses the settings of $QUELT_CONFIG_HOME: set it first.
struct TBenchWindow {
  TOurZipFiles desktop;
  TSettingsStore settings{TSettingsStore::DefaultPath()};
  TNoDialogs dialogs;
  TMainform form{settings, dialogs};
  TBenchWindow() {
    AssociationDialog(form).SetDesktop(desktop);
    form.resize(800, 600);
    form.show();
    QCoreApplication::processEvents();
  }
};

}  // namespace quelt::bench
