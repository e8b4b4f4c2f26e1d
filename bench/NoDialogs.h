// Dialogs for the window benchmarks: nothing in a timed run should ask anything; if it does,
// the figures are void and the program stops.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/Dialogs.h"

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

}  // namespace quelt::bench
