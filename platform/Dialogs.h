// What the windows ask of the desktop: message boxes, file, font and folder dialogs, an input
// box, the about box and the shell's "open". The window layer implements it with its widget kit;
// tests give a scripted fake.
#pragma once

#include <optional>
#include <string>

namespace quelt {

enum class TMsgBoxIcon { None, Information, Warning, Error, Question };
enum class TMsgBoxButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class TMsgBoxResult { OK, Cancel, Yes, No };

// A file dialog's set-up. The filter is "Description|pattern;pattern|Description|pattern...";
// patterns match without regard to letter case.
struct TFileDialogSpec {
  std::string title;
  std::string filter;
  std::string initialDir;
  std::string fileName;    // preselected name, may be empty
  std::string defaultExt;  // without the dot; appended to a name typed without one
  // Save dialogs: whether choosing an existing file asks first. Off where the command asks
  // its own question about it.
  bool askReplace = true;
};

struct TFontSpec {
  std::string name;
  int size = 0;  // points
  bool bold = false, italic = false, underline = false, strikeOut = false;
  bool operator==(const TFontSpec&) const = default;
};

// A print run's set-up: which printer, or a PDF file, and how the pages are laid out.
struct TPrintSpec {
  std::string printerName;  // empty: the desktop's default printer
  std::string outputFile;   // when set, the pages go to this PDF file instead of a printer
  std::string paper;        // a page size such as "A4" or "Letter"; empty: the printer's own
  bool landscape = false;
  int copies = 1;
  int fromPage = 0, toPage = 0;  // 0 and 0: every page
  bool operator==(const TPrintSpec&) const = default;
};

struct TAboutSpec {
  std::string title;        // "About Quelt"
  std::string productName;  // "Quelt"
  std::string description;
  std::string version;
};

class IDialogs {
 public:
  virtual ~IDialogs() = default;

  virtual TMsgBoxResult MessageBox(const std::string& text, const std::string& caption,
                                   TMsgBoxIcon icon, TMsgBoxButtons buttons) = 0;
  // The chosen file's full path; nothing when cancelled.
  virtual std::optional<std::string> OpenFile(const TFileDialogSpec& spec) = 0;
  virtual std::optional<std::string> SaveFile(const TFileDialogSpec& spec) = 0;
  // An open dialog that lists only the programs (files the user may run) besides folders.
  virtual std::optional<std::string> OpenProgram(const TFileDialogSpec& spec) {
    return OpenFile(spec);
  }
  // withStyle false hides the bold and italic choice.
  virtual std::optional<TFontSpec> ChooseFont(const TFontSpec& initial, bool withStyle) = 0;
  // A folder, which the user may create in the dialog; nothing when cancelled.
  virtual std::optional<std::string> BrowseFolder(const std::string& title,
                                                  const std::string& startDir) = 0;
  // A one-line input box; the typed text, or nothing when cancelled.
  virtual std::optional<std::string> InputQuery(const std::string& caption,
                                                const std::string& prompt,
                                                const std::string& initial) = 0;
  virtual void ShowAbout(const TAboutSpec& about) = 0;
  // Opens a document (a path) or an address with the desktop's associated program; false
  // when the desktop refused.
  virtual bool ShellOpen(const std::string& target) = 0;
  // The printer set-up dialog, starting from `spec`; false when cancelled (spec unchanged).
  // A host without printing answers as if the user cancelled.
  virtual bool PrinterSetup(TPrintSpec& /*spec*/) { return false; }
  // The print dialog before a print run; false when cancelled (spec unchanged).
  virtual bool PrintDialog(TPrintSpec& /*spec*/) { return false; }
};

}  // namespace quelt
