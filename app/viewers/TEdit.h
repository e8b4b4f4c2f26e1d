// "Quelt Edit": the text editor for an archive entry. The archive window extracts the entry to
// the temporary folder, hands the copy's path over and puts the saved copy back into the
// archive through the SaveBack hook.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>

#include "app/PropStore.h"
#include "app/viewers/BookM.h"
#include "app/viewers/FindDlg.h"
#include "app/viewers/GoToLine.h"
#include "app/viewers/HtmlHighlight.h"
#include "app/viewers/TextBytes.h"
#include "app/viewers/textinfo.h"
#include "platform/Dialogs.h"
#include "platform/Mail.h"
#include "platform/MailMessage.h"
#include "platform/SettingsStore.h"

namespace quelt {

// A file the editor cannot load or print; the text is for the user.
class EEditorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TLockKeys {
  bool numLock = false, capsLock = false;
};

class TTextEdit : public QMainWindow {
  Q_OBJECT
  Q_PROPERTY(int Width READ Width WRITE SetWidth)
  Q_PROPERTY(int Height READ Height WRITE SetHeight)

 public:
  // Builds the window with its dialogs and loads their remembered items.
  TTextEdit(TSettingsStore& settings, IDialogs& dialogs, QWidget* parent = nullptr);
  // Saves the remembered items.
  ~TTextEdit() override;

  // ---- What the archive window provides
  // Puts the saved editor file back into the archive; throws with the user's message when
  // that fails, and the editor then keeps the edits. Unset: saving writes the file only.
  std::function<void(const QString& editorFile)> SaveBack;
  // The archive the file came from, which File > "Send..." mails; empty: the item is disabled.
  QString ArchiveFile;
  // The mail system "Send..." goes through; until one is set the item is disabled. The mail
  // component, and its session, stay while the system does.
  void SetMailSystem(IMailSystem& mail);
  // The keyboard's lock states for the NUM and CAPS panels; unset: the panels stay blank.
  std::function<TLockKeys()> LockKeys;

  // Loads the file (read-only; nothing is written until Save). `ownsFile`: the caller made
  // the copy for this window, which deletes it on close (and at once when it cannot be
  // loaded). Throws EEditorError.
  void Open(const QString& path, bool ownsFile);
  // Open, then show the window modally until the user closes it.
  void Execute(const QString& path, bool ownsFile);
  // Whether this window left the copy at `path` behind because its edits never reached the
  // archive, and the copy is still there.
  bool KeptCopy(const QString& path) const;

  // ---- Handlers; errors are shown in a message box
  // Writes the file and puts it back into the archive; false when either failed (the edits
  // are kept, and so is the copy).
  bool Save1Click();
  void Print1Click();
  void PrintSetup1Click();
  void Send1Click();
  void Edit1Click();  // the Edit menu opens: its items follow the control's state
  void WordWrap1Click();
  void Find1Click();
  void FindNext1Click();
  void Replace1Click();
  // Searches from the caret with the Find dialog's text and options; false when nothing was
  // found (the Find dialog then closes).
  bool Search(bool fromReplace = false);
  void ReplaceText(bool all);
  void Bookmarks1Click();
  void GoToLine1Click();
  void Font1Click();
  void FileInfo1Click();
  void Timer1Timer();

  // Prints the text on a printer set up as `spec`. Throws EEditorError.
  void PrintText(const TPrintSpec& spec);

  // ---- State
  const QString& EditorFile() const { return editorFile_; }
  QPlainTextEdit* Editor() const { return RichEdit1; }
  QString Text() const;
  bool Modified() const;
  TTextPos Caret() const;
  void SetCaret(TTextPos pos);
  QString StatusText(int panel) const;
  QAction* Command(const char* name) const;
  const TPrintSpec& PrintSetup() const { return printSpec_; }
  TFindDialog* FindDialog() const { return FindDialog1; }
  TReplaceDialog* ReplaceDialog() const { return ReplaceDialog1; }
  TGTLine* GoToLineDialog() const { return GTLine; }
  TBookMarks* BookmarksDialog() const { return BookMarks; }
  TInfoTextFrm* InfoDialog() const { return InfoTextFrm; }
  bool Highlighting() const { return highlighter_->document() != nullptr; }

  int Width() const;
  void SetWidth(int v);
  int Height() const;
  void SetHeight(int v);

 signals:
  void Closed();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* addCommand(QMenu* menu, const char* name, const QString& caption,
                      const QKeySequence& shortcut = {});
  void buildMenus();
  void buildStatusBar();
  void persistedItems();
  void runCommand(const std::function<void()>& body);
  void showError(const QString& text);
  void caretMoved();
  void releaseFile();

  TSettingsStore& settings_;
  IDialogs& dialogs_;
  QString editorFile_;
  bool ownsFile_ = false;
  bool keepCopy_ = false;  // the last save did not reach the archive: the copy holds the edits
  QSet<QString> keptCopies_;
  TTextBytes bytes_;
  TPrintSpec printSpec_;
  IMailSystem* mail_ = nullptr;
  std::unique_ptr<TMailMessage> MailMessage1;

  QPlainTextEdit* RichEdit1 = nullptr;
  THtmlHighlighter* highlighter_ = nullptr;
  std::array<QLabel*, 4> panels_{};
  QTimer* Timer1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  TPropStore* PropStore1 = nullptr;
  TFindDialog* FindDialog1 = nullptr;
  TReplaceDialog* ReplaceDialog1 = nullptr;
  TGTLine* GTLine = nullptr;
  TBookMarks* BookMarks = nullptr;
  TInfoTextFrm* InfoTextFrm = nullptr;
};

}  // namespace quelt
