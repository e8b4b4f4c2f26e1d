// The archive window: menus, toolbar, the catalogue listing and the status bar; opening,
// listing, sorting and closing the current archive.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStringList>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <array>
#include <functional>
#include <memory>

#include "app/CatalogueModel.h"
#include "app/PropStore.h"
#include "app/dialogs/Modal.h"
#include "engine/ZipEngine.h"
#include "platform/Dialogs.h"
#include "platform/MailMessage.h"
#include "platform/Processes.h"
#include "platform/RecentDocuments.h"
#include "platform/SettingsStore.h"
#include "platform/ShellFileOps.h"

namespace quelt {

class TAddForm;
class TCommentEditor;
class TEngineEvents;
class TEnterPwd;
class TExtract;
class TInfoForm;
class TInvalidPwdDlg;
class TMsgform;
class TOptionsForm;
class TTextEdit;
class TZIPEXE;

// Holds a file dialog's remembered starting folder, so the property store can keep it.
class TFileDialogState : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString InitialDir READ InitialDir WRITE SetInitialDir)

 public:
  TFileDialogState(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
  QString InitialDir() const { return initialDir_; }
  void SetInitialDir(const QString& dir) { initialDir_ = dir; }

 private:
  QString initialDir_;
};

class TMainform : public QMainWindow {
  Q_OBJECT
  Q_PROPERTY(int Width READ Width WRITE SetWidth)
  Q_PROPERTY(int Height READ Height WRITE SetHeight)
  Q_PROPERTY(int Top READ Top WRITE SetTop)
  Q_PROPERTY(int Left READ Left WRITE SetLeft)
  Q_PROPERTY(TWindowState WindowState READ WindowState WRITE SetWindowState)

 public:
  enum TWindowState { wsNormal, wsMinimized, wsMaximized };
  Q_ENUM(TWindowState)

  // The one engine the window drives.
  using TEngine = TZipEngine;

  // Builds the window and runs its creation (settings read, defaults written on a first
  // start). `arguments` are the command line's, without the program.
  TMainform(TSettingsStore& settings, IDialogs& dialogs, QStringList arguments = {},
            QWidget* parent = nullptr);
  // Saves the remembered properties.
  ~TMainform() override;

  // ---- State
  const QString& CurrentArchive() const { return currentArchive_; }
  void SetCurrentArchive(const QString& path) { currentArchive_ = path; }
  TEngine& Engine() { return ZipEngine1; }
  const TCatalogueModel& Listing() const { return listing_; }
  QTreeView* ListView() const { return ListBox1; }
  QString StatusText(int panel) const;
  QString NameLabel() const;
  const QString& TempFolder() const { return tempFolder_; }
  bool ShowOutput() const { return showOutput_; }
  bool AddDocs2StartMenu() const { return addDocs2StartMenu_; }
  // The Preferences, in force from the next command on. The temporary folder is also where
  // the engine builds new archives.
  void SetTempFolder(const QString& folder);
  void SetShowOutput(bool value) { showOutput_ = value; }
  void SetAddDocs2StartMenu(bool value) { addDocs2StartMenu_ = value; }
  // Threads the engine compresses files on; one unless Preferences says otherwise.
  void SetCompressThreads(int n);
  TSettingsStore& Settings() const { return settings_; }
  QAction* Command(const char* name) const;
  QMenu* SortMenu() const { return sortMenu_; }
  QToolBar* ToolBar() const { return Toolbar1; }
  QTimer* Timer() const { return Timer1; }
  // Rows selected in the listing, ascending; row i is engine entry i.
  std::vector<int> SelectedRows() const;

  // ---- The windows made at start-up, and what the commands share
  TMsgform& Output() const { return *Msgform; }
  TAddForm& AddDialog() const { return *AddForm; }
  TExtract& ExtractDialog() const { return *ExtractForm; }
  TEnterPwd& PasswordDialog() const { return *EnterPwd; }
  TInvalidPwdDlg& BadPasswordDialog() const { return *InvalidPwdDlg; }
  TZIPEXE& SfxDialog() const { return *ZIPEXE; }
  TOptionsForm& OptionsDialog() const { return *OptionsForm; }
  TEngineEvents& Events() const { return *events_; }
  IDialogs& Dialogs() const { return dialogs_; }
  TInfoForm& InfoDialog() const { return *InfoForm; }
  TCommentEditor& CommentDialog() const { return *CommentEditor; }
  TTextEdit& TextEditor() const { return *TextEdit; }
  TFileDialogState& NewZipDialog() const { return *NewDialog; }
  TFileDialogState& SaveAsDialog() const { return *SaveDialog1; }
  // The desktop services of the file commands; tests put fakes in place.
  IShellFileOps& FileOps() const { return *fileOps_; }
  void SetFileOps(IShellFileOps& ops) { fileOps_ = &ops; }
  IRecentDocuments& RecentDocuments() const { return *recentDocs_; }
  void SetRecentDocuments(IRecentDocuments& docs) { recentDocs_ = &docs; }
  // The desktop's mail system and the starting of other programs (the virus scanner); tests
  // put fakes in place. The window's mail component sends through the mail system set.
  IMailSystem& MailSystem() const { return *mail_; }
  void SetMailSystem(IMailSystem& mail);
  TMailMessage& MailMessage1() const { return *MailMessage1_; }
  IProcessRunner& Processes() const { return *processes_; }
  void SetProcesses(IProcessRunner& runner) { processes_ = &runner; }
  // Shows the window's own dialogs modally; tests put a script in its place.
  TModal& Modal() { return modal_; }
  // Runs an engine operation; meanwhile the commands that would start another one wait.
  int RunEngine(const std::function<int()>& operation);
  bool Busy() const { return busy_; }

  // Commands whose handlers are not wired yet stay disabled whatever ChangeAll says;
  // wiring a handler marks its commands as built.

  // ---- Handlers (each may throw the engine's or the store's exceptions; the menu and
  // toolbar run them through the error display)
  void FormCreate();
  void FormShow();
  void ZipOpenButClick();
  void OpenIT();
  void RecentFileClick(int position);  // 1 to 5
  void ChangeAll(bool value);
  void CalcTotSize();
  void Close1Click();
  void SetSortFalse();
  void SortClick(QAction* item);
  void DoSort();
  void ToolBars1Click();
  void Toolbar1DockChanged();
  void Font1Click();
  void UsingQuelt1Click();
  void HomePage1Click();
  void About1Click();
  void Exit1Click();
  void Timer1Timer();
  void AddButClick();
  void ExtractButClick();
  void ViewOutput1Click();
  void NewZipButClick();
  void DeleteButClick();
  void SaveAs1Click();
  void CopyZIP1Click();
  void MoveZIP1Click();
  void DeleteZIP1Click();
  void Information1Click();
  void FixZIP1Click();
  void ZipComment1Click();
  void MailZIP1Click();
  void UUEncode1Click();
  void VirusScan1Click();

  // A new archive, which exists only as a name until something is added, becomes the
  // current one: empty listing, commands on, caption, recent files, no password.
  void ShowNewArchive(const QString& path);
  // The current archive is gone: listing, total and caption are emptied and the archive
  // commands disabled; the path stays until another archive is opened or created.
  void ShowNoArchive();
  // "Password..." of the Add and Extract dialogs: a confirmed password is in force at once.
  void EnterPasswordClick();
  void MakeEXEFile1Click();
  void Options1Click();
  // Execute, from the menus, the toolbar, F9 and a double-click on a row.
  void StringGrid1DblClick();
  // Edit Text, from the menus, the toolbar and F7.
  void Edit1Click();
  // The menus show "View Image..." enabled for a picture.
  void Actions1Click();
  void PopupMenu1Popup();
  // View Image, from the menus and F5.
  void ViewImage1Click();
  // Another archive becomes the current one: its password and answers start afresh.
  void ForgetArchiveSecrets() { forgetArchiveSecrets(); }

  // The recent-files entries' paths, position 1 first.
  QStringList RecentFiles() const;
  // The manual's front page beside the program.
  static QString ManualPath();

  // ---- Window properties kept between runs
  int Width() const;
  void SetWidth(int v);
  int Height() const;
  void SetHeight(int v);
  int Top() const;
  void SetTop(int v);
  int Left() const;
  void SetLeft(int v);
  TWindowState WindowState() const;
  void SetWindowState(TWindowState state);

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* addCommand(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                      const QKeySequence& shortcut = {});
  void buildMenus();
  void buildToolbar();
  void buildListing();
  void persistedItems();
  void wireEngine();
  void connectCommand(QAction* action, void (TMainform::*handler)());
  // Runs a handler; an error ends it and is shown in a message box.
  void runCommand(const std::function<void()>& body);
  void showError(const QString& text);
  void enableCommand(QAction* command, bool value);
  void setTitle(const QString& title);
  // The text of the last selected row, its cells joined; empty when none is selected.
  QString lastSelectedRowText() const;
  void createDialogs();
  void wireFileCommands();
  // Another archive becomes the current one: its password and answers start afresh.
  void forgetArchiveSecrets();
  void rebuildListing();
  void fitColumns();
  void updateRecentMenu();
  void saveRecentFiles();
  void addRecentFile(const QString& path);
  void setRecentFile(int position, const QString& path);
  int dockCode() const;
  void dumpListing() const;
  // The engine's sort order of the checked Sort item; nothing when none is checked.
  std::optional<TZipSortMode> checkedSortMode() const;

  TSettingsStore& settings_;
  IDialogs& dialogs_;
  QStringList arguments_;
  TEngine ZipEngine1;
  TCatalogueModel listing_;

  QString currentArchive_;
  QString tempFolder_;
  QString damageToldFor_;  // the damaged archive (path, size, time) already warned about
  bool showOutput_ = true;
  bool addDocs2StartMenu_ = true;
  bool shown_ = false;
  bool busy_ = false;  // an engine operation is running and pumping events
  int lastDock_ = -1;
  QElapsedTimer pumpClock_;  // when the engine last let the window handle its events

  TPropStore* PropStore1 = nullptr;
  QTreeView* ListBox1 = nullptr;
  QLabel* ZipFname = nullptr;
  QLabel* panels_[2] = {nullptr, nullptr};
  QToolBar* Toolbar1 = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu* sortMenu_ = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* N4 = nullptr;
  std::array<QAction*, 5> recent_{};
  std::array<QAction*, 6> sortItems_{};
  TFileDialogState* OpenDialog1 = nullptr;
  TFileDialogState* NewDialog = nullptr;
  TFileDialogState* SaveDialog1 = nullptr;

  TModal modal_;
  TExtract* ExtractForm = nullptr;
  TAddForm* AddForm = nullptr;
  TMsgform* Msgform = nullptr;
  TInvalidPwdDlg* InvalidPwdDlg = nullptr;
  TEnterPwd* EnterPwd = nullptr;
  TZIPEXE* ZIPEXE = nullptr;
  TOptionsForm* OptionsForm = nullptr;
  TInfoForm* InfoForm = nullptr;
  TCommentEditor* CommentEditor = nullptr;
  TTextEdit* TextEdit = nullptr;
  std::unique_ptr<IShellFileOps> ownFileOps_;
  std::unique_ptr<IRecentDocuments> ownRecentDocs_;
  IShellFileOps* fileOps_ = nullptr;
  IRecentDocuments* recentDocs_ = nullptr;
  std::unique_ptr<IProcessRunner> ownProcesses_;
  std::unique_ptr<IMailSystem> ownMail_;
  IProcessRunner* processes_ = nullptr;
  IMailSystem* mail_ = nullptr;
  std::unique_ptr<TMailMessage> MailMessage1_;
  std::unique_ptr<TEngineEvents> events_;
};

}  // namespace quelt
