// A scripted stand-in for the desktop's dialogs: each prompt takes the next queued answer of
// its kind and is recorded with its texts. A prompt with no answer queued, or an answer left
// unused at the end, fails the test.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Dialogs.h"

namespace quelt::test {

enum class TPromptKind {
  Message,
  OpenFile,
  SaveFile,
  Font,
  Folder,
  Input,
  About,
  ShellOpen,
  PrinterSetup,
  Print
};

inline const char* KindName(TPromptKind k) {
  switch (k) {
    case TPromptKind::Message:
      return "message box";
    case TPromptKind::OpenFile:
      return "open dialog";
    case TPromptKind::SaveFile:
      return "save dialog";
    case TPromptKind::Font:
      return "font dialog";
    case TPromptKind::Folder:
      return "folder browser";
    case TPromptKind::Input:
      return "input box";
    case TPromptKind::About:
      return "about box";
    case TPromptKind::ShellOpen:
      return "shell open";
    case TPromptKind::PrinterSetup:
      return "printer set-up";
    case TPromptKind::Print:
      return "print dialog";
  }
  return "?";
}

struct TPrompt {
  TPromptKind kind = TPromptKind::Message;
  std::string text, caption;  // message box; title for dialogs; target for ShellOpen
  std::string initial;        // input box: the text it starts with
  TMsgBoxIcon icon = TMsgBoxIcon::None;
  TMsgBoxButtons buttons = TMsgBoxButtons::OK;
  TFileDialogSpec file;
  TFontSpec font;
  bool withStyle = true;
  TAboutSpec about;
  TPrintSpec print;  // the set-up the printer dialogs started from

  static TPrompt Of(TPromptKind kind, std::string text = "", std::string caption = "") {
    TPrompt p;
    p.kind = kind;
    p.text = std::move(text);
    p.caption = std::move(caption);
    return p;
  }
};

class TFakeDialogs : public IDialogs {
 public:
  ~TFakeDialogs() override {
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " answers unused";
  }

  void AnswerMessage(TMsgBoxResult r) { queue({TPromptKind::Message, r}); }
  void AnswerOpenFile(std::optional<std::string> path) {
    queue({TPromptKind::OpenFile, std::move(path)});
  }
  void AnswerSaveFile(std::optional<std::string> path) {
    queue({TPromptKind::SaveFile, std::move(path)});
  }
  void AnswerFolder(std::optional<std::string> path) {
    queue({TPromptKind::Folder, std::move(path)});
  }
  void AnswerFont(std::optional<TFontSpec> font) { queue({TPromptKind::Font, font}); }
  // Nothing: the dialog is cancelled.
  void AnswerPrinterSetup(std::optional<TPrintSpec> spec) {
    queue({TPromptKind::PrinterSetup, spec});
  }
  void AnswerPrint(std::optional<TPrintSpec> spec) { queue({TPromptKind::Print, spec}); }
  void AnswerInput(std::optional<std::string> text) {
    queue({TPromptKind::Input, std::move(text)});
  }

  // Everything asked or shown, in order. The about box and the shell's "open" need no answer.
  std::vector<TPrompt> log;
  bool shellOpenResult = true;

  // The message boxes shown, as "caption: text".
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& p : log)
      if (p.kind == TPromptKind::Message) out.push_back(p.caption + ": " + p.text);
    return out;
  }
  void ClearLog() { log.clear(); }

  TMsgBoxResult MessageBox(const std::string& text, const std::string& caption, TMsgBoxIcon icon,
                           TMsgBoxButtons buttons) override {
    TPrompt p = TPrompt::Of(TPromptKind::Message, text, caption);
    p.icon = icon;
    p.buttons = buttons;
    log.push_back(p);
    auto a = take(TPromptKind::Message, text);
    return a ? std::get<TMsgBoxResult>(*a) : TMsgBoxResult::Cancel;
  }
  std::optional<std::string> OpenFile(const TFileDialogSpec& spec) override {
    return fileDialog(TPromptKind::OpenFile, spec);
  }
  std::optional<std::string> SaveFile(const TFileDialogSpec& spec) override {
    return fileDialog(TPromptKind::SaveFile, spec);
  }
  std::optional<TFontSpec> ChooseFont(const TFontSpec& initial, bool withStyle) override {
    TPrompt p = TPrompt::Of(TPromptKind::Font);
    p.font = initial;
    p.withStyle = withStyle;
    log.push_back(p);
    auto a = take(TPromptKind::Font, initial.name);
    return a ? std::get<std::optional<TFontSpec>>(*a) : std::nullopt;
  }
  std::optional<std::string> BrowseFolder(const std::string& title,
                                          const std::string& startDir) override {
    TPrompt p = TPrompt::Of(TPromptKind::Folder, startDir, title);
    log.push_back(p);
    auto a = take(TPromptKind::Folder, title);
    return a ? std::get<std::optional<std::string>>(*a) : std::nullopt;
  }
  std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                        const std::string& initial) override {
    TPrompt p = TPrompt::Of(TPromptKind::Input, prompt, caption);
    p.initial = initial;
    log.push_back(p);
    auto a = take(TPromptKind::Input, caption);
    return a ? std::get<std::optional<std::string>>(*a) : std::nullopt;
  }
  void ShowAbout(const TAboutSpec& about) override {
    TPrompt p = TPrompt::Of(TPromptKind::About);
    p.about = about;
    log.push_back(p);
  }
  bool ShellOpen(const std::string& target) override {
    log.push_back(TPrompt::Of(TPromptKind::ShellOpen, target));
    return shellOpenResult;
  }
  bool PrinterSetup(TPrintSpec& spec) override {
    return printDialog(TPromptKind::PrinterSetup, spec);
  }
  bool PrintDialog(TPrintSpec& spec) override { return printDialog(TPromptKind::Print, spec); }

 private:
  using TValue = std::variant<TMsgBoxResult, std::optional<std::string>, std::optional<TFontSpec>,
                              std::optional<TPrintSpec>>;
  struct TAnswer {
    TPromptKind kind;
    TValue value;
  };
  // Out of line: inlined where the alternative is known, copying the variant makes GCC 12
  // warn that the other alternatives' bytes are unset.
  [[gnu::noinline]] void queue(const TAnswer& answer) { answers_.push_back(answer); }

  std::optional<TValue> take(TPromptKind kind, const std::string& what) {
    if (answers_.empty() || answers_.front().kind != kind) {
      ADD_FAILURE() << "unexpected " << KindName(kind) << ": " << what;
      return std::nullopt;
    }
    TValue v = answers_.front().value;
    answers_.pop_front();
    return v;
  }
  std::optional<std::string> fileDialog(TPromptKind kind, const TFileDialogSpec& spec) {
    TPrompt p = TPrompt::Of(kind, spec.initialDir, spec.title);
    p.file = spec;
    log.push_back(p);
    auto a = take(kind, spec.title);
    return a ? std::get<std::optional<std::string>>(*a) : std::nullopt;
  }

  bool printDialog(TPromptKind kind, TPrintSpec& spec) {
    TPrompt p = TPrompt::Of(kind);
    p.print = spec;
    log.push_back(p);
    auto a = take(kind, spec.printerName);
    if (!a) return false;
    auto chosen = std::get<std::optional<TPrintSpec>>(*a);
    if (!chosen) return false;
    spec = *chosen;
    return true;
  }

  std::deque<TAnswer> answers_;
};

}  // namespace quelt::test
