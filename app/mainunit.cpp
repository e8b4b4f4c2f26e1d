#include "app/mainunit.h"

#include <unistd.h>

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLocale>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTime>
#include <QUrl>
#include <cmath>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/AddCommand.h"
#include "app/commands/ArchiveCommands.h"
#include "app/commands/AssociationCommand.h"
#include "app/commands/DragDrop.h"
#include "app/commands/EditCommand.h"
#include "app/commands/EngineEvents.h"
#include "app/commands/ExecuteCommand.h"
#include "app/commands/ExtractCommand.h"
#include "app/commands/FileCommands.h"
#include "app/commands/MailCommand.h"
#include "app/commands/MakeExeCommand.h"
#include "app/commands/NameEncodingMenu.h"
#include "app/commands/PreferencesCommand.h"
#include "app/commands/UUEncodeCommand.h"
#include "app/commands/ViewImageCommand.h"
#include "app/commands/VirusScanCommand.h"
#include "app/dialogs/AddForm.h"
#include "app/dialogs/CommentEditor.h"
#include "app/dialogs/DialogParts.h"
#include "app/dialogs/ExtractForm.h"
#include "app/dialogs/InfoForm.h"
#include "app/dialogs/MsgForm.h"
#include "app/dialogs/OptionsForm.h"
#include "app/dialogs/PromptDialogs.h"
#include "app/dialogs/SfxForm.h"
#include "app/viewers/TEdit.h"
#include "engine/Errors.h"
#include "platform/LinuxProcesses.h"
#include "platform/LinuxShellFileOps.h"
#include "platform/TempFolder.h"
#include "platform/XbelRecentDocuments.h"
#include "platform/XdgMail.h"

#ifndef QUELT_VERSION
#define QUELT_VERSION "0"
#endif

namespace quelt {

namespace {

const char* const kQueltKey = "SOFTWARE\\Dunmarra\\Quelt\\";
const char* const kTitle = "Quelt";
const char* const kTotalSizeLabel = "Total Unzipped Size:";

// The Sort items in the order they are tested, with the engine's order for each.
struct TSortItem {
  const char* name;
  const char* caption;
  TZipSortMode mode;
};
const TSortItem kSortItems[6] = {
    {"SortbyName1", "Sort by Name", ByFileName},
    {"SortbyDate1", "Sort by Date/Time", ByDate},
    {"SortbyUncompressedSize1", "Sort by Uncompressed Size", ByUnCompressedSize},
    {"SortbyCompressedSize1", "Sort by Compressed Size", ByCompressedSize},
    {"SortbyPath1", "Sort by Path", ByName},
    {"SortbyOriginal1", "Sort by Original Order", ByNone},
};

// Enabled with an archive, disabled without one.
const char* const kArchiveCommands[] = {
    "UUEncode1",    "VirusScan1",   "ZipComment1", "Close1",        "SaveAs1",     "ExtractFiles1",
    "Information1", "MakeEXEFile1", "AddFiles1",   "ExtractBut",    "AddBut",      "RemoveFiles1",
    "AddFiles2",    "RemoveFiles2", "FixZIP1",     "ExtractFiles2", "ViewImage2",  "ViewImage1",
    "MailZIP1",     "CopyZIP1",     "MoveZIP1",    "DeleteZIP1",    "EditTextBut", "ExecuteBut",
    "Execute1",     "Execute2",     "EditText1",   "EditText2"};

// Commands on entries, which an empty listing disables.
const char* const kEntryCommands[] = {
    "EditTextBut",  "ExecuteBut",    "ExtractBut",   "Execute1",     "Execute2",
    "EditText1",    "EditText2",     "ViewImage2",   "ViewImage1",   "Information1",
    "RemoveFiles1", "ExtractFiles1", "RemoveFiles2", "ExtractFiles2"};

// The engine's writing volumes when spanning or splitting: what a 1.44 MB disk holds.
constexpr int64_t kBlockSize = 1447600;

// Marks an engine operation as running for as long as the scope lasts.
class TBusy {
 public:
  explicit TBusy(bool& flag) : flag_(flag) { flag_ = true; }
  ~TBusy() { flag_ = false; }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;

 private:
  bool& flag_;
};

}  // namespace

TMainform::TMainform(TSettingsStore& settings, IDialogs& dialogs, QStringList arguments,
                     QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      dialogs_(dialogs),
      arguments_(std::move(arguments)),
      ownFileOps_(std::make_unique<TLinuxShellFileOps>()),
      ownRecentDocs_(std::make_unique<TXbelRecentDocuments>()),
      fileOps_(ownFileOps_.get()),
      recentDocs_(ownRecentDocs_.get()),
      ownProcesses_(std::make_unique<TLinuxProcessRunner>()),
      processes_(ownProcesses_.get()) {
  setObjectName("Mainform");
  setWindowTitle(kTitle);
  ZipEngine1.OverwriteMode = Always;
  ZipEngine1.KeepZipOpen = true;
  ZipEngine1.MultiZipInfo().BlockSize = kBlockSize;
  ZipEngine1.MultiZipInfo().FirstBlockSize = kBlockSize;
  ZipEngine1.SetMultiMode(mmSpan);

  buildMenus();
  buildToolbar();
  buildListing();
  ZipFname = new QLabel(this);
  ZipFname->setObjectName("ZipFname");
  ZipFname->hide();
  for (int i = 0; i < 2; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QString("StatusPanel%1").arg(i));
    panels_[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The two panels share the bar 60 : 40 at every width.
    statusBar()->addWidget(panels_[i], i == 0 ? 3 : 2);
  }
  panels_[1]->setText(kTotalSizeLabel);

  OpenDialog1 = new TFileDialogState("OpenDialog1", this);
  NewDialog = new TFileDialogState("NewDialog", this);
  SaveDialog1 = new TFileDialogState("SaveDialog1", this);
  PropStore1 = new TPropStore(this, settings_);
  persistedItems();
  wireEngine();
  ownMail_ = std::make_unique<TXdgMail>(*ownProcesses_, MailHandOver());
  SetMailSystem(*ownMail_);

  Command("Options1")->setEnabled(true);
  wireFileCommands();
  ChangeAll(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TMainform::Timer1Timer);

  FormCreate();
  fitColumns();
  createDialogs();
  AssociationDialog(*this);
  new TDragDropWiring(*this);

  Timer1->start();
  lastDock_ = dockCode();
  Toolbar1->installEventFilter(this);
  connect(Toolbar1, &QToolBar::topLevelChanged, this, [this] {
    if (dockCode() != lastDock_) runCommand([this] { Toolbar1DockChanged(); });
  });
}

TMainform::~TMainform() {
  // The dialogs save what they remember as they go, before the window's own items.
  for (QDialog* dialog : std::initializer_list<QDialog*>{
           OptionsForm, ZIPEXE, EnterPwd, InvalidPwdDlg, Msgform, AddForm, ExtractForm})
    delete dialog;
  // A failed save has no one left to tell; the next start uses what the file holds.
  (void)PropStore1->SaveItems();
  ListBox1->setModel(nullptr);
}

// ---- Construction

QAction* TMainform::addCommand(QMenu* menu, const char* name, const QString& caption,
                               const QString& hint, const QKeySequence& shortcut) {
  auto* action = new QAction(caption, this);
  action->setObjectName(name);
  action->setStatusTip(hint);
  action->setToolTip(hint.isEmpty() ? caption : hint);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  if (menu) menu->addAction(action);
  return action;
}

void TMainform::connectCommand(QAction* action, void (TMainform::*handler)()) {
  connect(action, &QAction::triggered, this,
          [this, handler] { runCommand([=, this] { (this->*handler)(); }); });
}

void TMainform::buildMenus() {
  QMenu* file = menuBar()->addMenu("File");
  file->setObjectName("File1");
  addCommand(file, "New1", "New...", "New ZIP File", QKeySequence("Ctrl+N"));
  connectCommand(addCommand(file, "Open1", "Open...", "Open ZIP File", QKeySequence("Ctrl+O")),
                 &TMainform::ZipOpenButClick);
  connectCommand(addCommand(file, "Close1", "Close...", "Close Current ZIP file..."),
                 &TMainform::Close1Click);
  addCommand(file, "SaveAs1", "Save As...", "Save ZIP File As", QKeySequence("Ctrl+S"));
  file->addSeparator();
  addCommand(file, "CopyZIP1", "Copy ZIP File...", "Copy ZIP File to Another Location",
             QKeySequence("Ctrl+C"));
  addCommand(file, "MoveZIP1", "Move ZIP File...", "Move ZIP File to Another Location",
             QKeySequence("Ctrl+M"));
  addCommand(file, "DeleteZIP1", "Delete ZIP File...", "Delete ZIP File from Disk",
             QKeySequence("Ctrl+D"));
  file->addSeparator();
  addCommand(file, "Information1", "ZIP Information...",
             "Get Information About the current ZIP File...", QKeySequence("Ctrl+I"));
  addCommand(file, "FixZIP1", "Fix ZIP", "Fix ZIP");
  addCommand(file, "MailZIP1", "Mail ZIP...", "Send ZIP File to...");
  file->addSeparator();
  connectCommand(addCommand(file, "Exit1", "Exit", "Exit Quelt", QKeySequence("Ctrl+X")),
                 &TMainform::Exit1Click);
  N4 = file->addSeparator();
  N4->setObjectName("N4");
  for (int k = 0; k < 5; ++k) {
    QAction* entry = addCommand(file, QString("N%1").arg(6 + k).toLatin1().constData(), "", "");
    recent_[size_t(k)] = entry;
    connect(entry, &QAction::triggered, this,
            [this, k] { runCommand([=, this] { RecentFileClick(k + 1); }); });
  }

  QMenu* actions = menuBar()->addMenu("Actions");
  actions->setObjectName("Actions1");
  connectCommand(
      addCommand(actions, "AddFiles1", "Add Files...", "Add Files to ZIP", QKeySequence("Ctrl+A")),
      &TMainform::AddButClick);
  addCommand(actions, "RemoveFiles1", "Remove Files...", "Remove Files from ZIP",
             QKeySequence(Qt::Key_Delete));
  connectCommand(addCommand(actions, "ExtractFiles1", "Extract Files...", "Extract Files From ZIP",
                            QKeySequence("Ctrl+E")),
                 &TMainform::ExtractButClick);
  actions->addSeparator();
  connectCommand(addCommand(actions, "MakeEXEFile1", "Make EXE File...", "Convert ZIP file to EXE",
                            QKeySequence("Ctrl+K")),
                 &TMainform::MakeEXEFile1Click);
  actions->addSeparator();
  connectCommand(addCommand(actions, "Execute1", "Execute...", "Executes the Selected File...",
                            QKeySequence(Qt::Key_F9)),
                 &TMainform::StringGrid1DblClick);
  connectCommand(addCommand(actions, "EditText1", "Edit Text...",
                            "Edit File Using an Internal TextEditor...", QKeySequence(Qt::Key_F7)),
                 &TMainform::Edit1Click);
  connectCommand(
      addCommand(actions, "ViewImage1", "View Image...", "View Image...", QKeySequence(Qt::Key_F5)),
      &TMainform::ViewImage1Click);
  actions->addSeparator();
  addCommand(actions, "VirusScan1", "Virus Scan", "Virus Scan ZIP File", QKeySequence("Ctrl+V"));
  addCommand(actions, "UUEncode1", "UUEncode", "UUEncode ZIP File", QKeySequence("Ctrl+U"));
  addCommand(actions, "ZipComment1", "ZIP Comment", "Edit ZIP Comment", QKeySequence("Ctrl+Z"));
  connect(actions, &QMenu::aboutToShow, this, &TMainform::Actions1Click);

  QMenu* options = menuBar()->addMenu("Options");
  options->setObjectName("OptionsMenu");
  connectCommand(addCommand(options, "Options1", "Preferences...", "Options"),
                 &TMainform::Options1Click);
  QAction* toolbars = addCommand(options, "ToolBars1", "ToolBar", "Configure Toolbars...");
  toolbars->setCheckable(true);
  toolbars->setChecked(true);
  connectCommand(toolbars, &TMainform::ToolBars1Click);
  connectCommand(addCommand(options, "Font1", "Font...", "Configure the Font..."),
                 &TMainform::Font1Click);
  // Starts no engine operation, so it works during one too: the way back to Cancel.
  connect(addCommand(options, "ViewOutput1", "View Last Output...", "View Last ZIP-UNZIP Output"),
          &QAction::triggered, this, &TMainform::ViewOutput1Click);
  sortMenu_ = options->addMenu("Sort");
  sortMenu_->setObjectName("Sort1");
  for (size_t i = 0; i < 6; ++i) {
    QAction* item = addCommand(sortMenu_, kSortItems[i].name, kSortItems[i].caption, "");
    // Not an exclusive group: the handlers keep at most one item checked.
    item->setCheckable(true);
    sortItems_[i] = item;
    connect(item, &QAction::triggered, this,
            [this, item] { runCommand([=, this] { SortClick(item); }); });
  }

  QMenu* view = menuBar()->addMenu("View");
  view->setObjectName("View1");
  QMenu* encodings = view->addMenu("Name Encoding");
  encodings->setObjectName("NameEncoding1");
  BuildNameEncodingMenu(*this, encodings);
  for (QAction* item : encodings->actions())
    connect(item, &QAction::triggered, this,
            [this, item] { runCommand([=, this] { NameEncodingCommand(*this, item); }); });

  QMenu* help = menuBar()->addMenu("Help");
  help->setObjectName("Help1");
  connectCommand(
      addCommand(help, "UsingQuelt1", "Using Quelt", "Using Quelt", QKeySequence(Qt::Key_F1)),
      &TMainform::UsingQuelt1Click);
  connectCommand(addCommand(help, "HomePage1", "Quelt Home Page...", "Quelt Home Page..."),
                 &TMainform::HomePage1Click);
  connectCommand(addCommand(help, "About1", "About Quelt...", "About Quelt"),
                 &TMainform::About1Click);

  // The listing's context menu: the same commands as the Actions menu, as items of its own.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  connectCommand(addCommand(PopupMenu1, "AddFiles2", "Add Files...", "Add Files to ZIP",
                            QKeySequence("Ctrl+A")),
                 &TMainform::AddButClick);
  addCommand(PopupMenu1, "RemoveFiles2", "Remove Files...", "Remove Files from ZIP",
             QKeySequence(Qt::Key_Delete));
  connectCommand(addCommand(PopupMenu1, "ExtractFiles2", "Extract Files...",
                            "Extract Files From ZIP", QKeySequence("Ctrl+E")),
                 &TMainform::ExtractButClick);
  PopupMenu1->addSeparator();
  connectCommand(addCommand(PopupMenu1, "Execute2", "Execute...", "Executes the Selected File...",
                            QKeySequence(Qt::Key_F9)),
                 &TMainform::StringGrid1DblClick);
  connectCommand(addCommand(PopupMenu1, "EditText2", "Edit Text...",
                            "Edit File Using an Internal TextEditor...", QKeySequence(Qt::Key_F7)),
                 &TMainform::Edit1Click);
  connectCommand(addCommand(PopupMenu1, "ViewImage2", "View Image...", "View Image...",
                            QKeySequence(Qt::Key_F5)),
                 &TMainform::ViewImage1Click);
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TMainform::PopupMenu1Popup);
}

void TMainform::buildToolbar() {
  Toolbar1 = new QToolBar("Toolbar", this);
  Toolbar1->setObjectName("Toolbar1");
  Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  addToolBar(Qt::TopToolBarArea, Toolbar1);
  struct TButton {
    const char* name;
    const char* caption;
    const char* hint;
    QStyle::StandardPixmap icon;
  };
  const TButton buttons[] = {
      {"NewZipBut", "New", "New ZIP File...", QStyle::SP_FileIcon},
      {"ZipOpenBut", "Open", "Open Existing ZIP File...", QStyle::SP_DialogOpenButton},
      {"ExtractBut", "Extract", "Extract Files from ZIP", QStyle::SP_ArrowDown},
      {"AddBut", "Add", "Add Files to ZIP", QStyle::SP_ArrowUp},
      {"EditTextBut", "Edit Text", "Edit File Using an Internal Text Editor",
       QStyle::SP_FileDialogDetailedView},
      {"ExecuteBut", "Execute", "Execute File Using its Windows Association", QStyle::SP_MediaPlay},
  };
  for (const TButton& b : buttons) {
    QAction* action = addCommand(nullptr, b.name, b.caption, b.hint);
    action->setIcon(style()->standardIcon(b.icon));
    Toolbar1->addAction(action);
  }
  connectCommand(Command("ZipOpenBut"), &TMainform::ZipOpenButClick);
  connectCommand(Command("ExtractBut"), &TMainform::ExtractButClick);
  connectCommand(Command("AddBut"), &TMainform::AddButClick);
  connectCommand(Command("ExecuteBut"), &TMainform::StringGrid1DblClick);
  connectCommand(Command("EditTextBut"), &TMainform::Edit1Click);
  for (const char* name : {"ExtractBut", "AddBut", "EditTextBut", "ExecuteBut"})
    Command(name)->setEnabled(false);
}

void TMainform::buildListing() {
  ListBox1 = new QTreeView(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setModel(&listing_);
  ListBox1->setRootIsDecorated(false);
  ListBox1->setItemsExpandable(false);
  // Every row has the font's height, which keeps large catalogues quick to lay out.
  ListBox1->setUniformRowHeights(true);
  ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListBox1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListBox1->setAllColumnsShowFocus(true);
  ListBox1->setSortingEnabled(false);
  ListBox1->header()->setSectionsMovable(false);
  ListBox1->header()->setStretchLastSection(false);
  for (int c = 0; c < TCatalogueModel::colCount; ++c)
    ListBox1->setColumnWidth(c, TCatalogueModel::DefaultWidth(c));
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListBox1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(pos)); });
  connect(ListBox1, &QAbstractItemView::doubleClicked, this,
          [this] { runCommand([this] { StringGrid1DblClick(); }); });
  setCentralWidget(ListBox1);
}

void TMainform::persistedItems() {
  PropStore1->RegistryRoot = LOCAL_MACHINE;
  PropStore1->Items = {
      SettingsItem("Mainform", "Width", "433", "Width"),
      SettingsItem("Mainform", "Height", "435", "Height"),
      SettingsItem("Mainform", "WindowState", "wsNormal", "WindowState"),
      SettingsItem("Mainform", "Top", "50", "Top"),
      SettingsItem("Mainform", "Left", "50", "Left"),
      SettingsItem("StringGrid1", "Font", "", "Font"),
      SettingsItem("ListBox1", "font", "", "ListFont"),
      SettingsItem("SortbyName1", "checked", "True", "SortByName"),
      SettingsItem("SortbyDate1", "checked", "False", "SortByDate"),
      SettingsItem("SortbyUncompressedSize1", "checked", "False", "SortByUnCompSize"),
      SettingsItem("SortbyCompressedSize1", "checked", "False", "SortByCompSize"),
      SettingsItem("SortbyPath1", "checked", "False", "SortByPath"),
      SettingsItem("SortbyOriginal1", "checked", "False", "SortByOriginal"),
      SettingsItem("NewDialog", "InitialDir", "", "NewZipInitDir"),
      SettingsItem("SaveDialog1", "InitialDir", "", "SaveAsInitialDir"),
  };
}

void TMainform::wireEngine() {
  TEngineHost& host = ZipEngine1.Host;
  host.SelectOpenFile = [this](const std::string& title, const std::string& filter,
                               const std::string& initialDir) {
    return dialogs_.OpenFile(TFileDialogSpec{title, filter, initialDir, "", ""});
  };
  host.SelectSaveFile = [this](const std::string& title, const std::string& filter,
                               const std::string& initialDir) {
    return dialogs_.SaveFile(TFileDialogSpec{title, filter, initialDir, "", "zip"});
  };
  host.SelectFolder = [this](const std::string& start) {
    return dialogs_.BrowseFolder("Select Folder", start);
  };
  host.ProcessMessages = [this] {
    // Twenty times a second keeps the window live and Cancel prompt at little cost to the
    // work: every round paints what changed.
    if (pumpClock_.isValid() && pumpClock_.elapsed() < 50) return;
    pumpClock_.start();
    QCoreApplication::processEvents();
  };
  host.ShowMessage = [this](const std::string& text, const std::string& caption,
                            TMsgButtons buttons) {
    TMsgBoxButtons set = buttons == TMsgButtons::OK      ? TMsgBoxButtons::OK
                         : buttons == TMsgButtons::YesNo ? TMsgBoxButtons::YesNo
                                                         : TMsgBoxButtons::YesNoCancel;
    TMsgBoxIcon icon = buttons == TMsgButtons::OK ? TMsgBoxIcon::Warning : TMsgBoxIcon::Question;
    switch (dialogs_.MessageBox(text, caption, icon, set)) {
      case TMsgBoxResult::Yes:
        return TMsgResult::Yes;
      case TMsgBoxResult::No:
        return TMsgResult::No;
      case TMsgBoxResult::Cancel:
        return TMsgResult::Cancel;
      case TMsgBoxResult::OK:
        break;
    }
    return TMsgResult::OK;
  };
}

// ---- Start-up

void TMainform::FormCreate() {
  // A missing value gets its default written, and the reading runs once more. Only the
  // missing values are written, so one lost value costs nothing else.
  for (int pass = 1; pass <= 2; ++pass) {
    PropStore1->LoadItems();
    Command("ExtractBut")->setEnabled(false);
    Command("AddBut")->setEnabled(false);

    TRegistry reg(settings_, LOCAL_MACHINE);
    reg.OpenKey(kQueltKey, true);
    QStringList missing;
    auto readText = [&](const char* name, const QString& fallback) -> QString {
      if (reg.GetDataType(name) != TRegDataType::rdString) {
        missing << name;
        return fallback;
      }
      return TextToQt(reg.ReadString(name));
    };
    auto readInt = [&](const char* name, int fallback) -> int {
      if (reg.GetDataType(name) != TRegDataType::rdInteger) {
        missing << name;
        return fallback;
      }
      return reg.ReadInteger(name);
    };

    // The Open dialog's folder has no default: a missing one is simply empty.
    OpenDialog1->SetInitialDir(reg.GetDataType("InitDir") == TRegDataType::rdString
                                   ? TextToQt(reg.ReadString("InitDir"))
                                   : QString());
    for (int k = 1; k <= 5; ++k)
      setRecentFile(k, readText(QString("last%1").arg(k).toLatin1().constData(), ""));
    bool toolbars = readInt("ShowToolbars", 1) != 0;
    Command("ToolBars1")->setChecked(toolbars);
    Toolbar1->setVisible(toolbars);
    tempFolder_ = readText("ExpDir", PathToQt(DefaultTempFolder()));
    switch (readInt("Dockto", 1)) {
      case 1:
        addToolBar(Qt::TopToolBarArea, Toolbar1);
        break;
      case 2:
        addToolBar(Qt::LeftToolBarArea, Toolbar1);
        break;
      case 3:
        addToolBar(Qt::BottomToolBarArea, Toolbar1);
        break;
      case 4:
        addToolBar(Qt::RightToolBarArea, Toolbar1);
        break;
      default:
        break;
    }
    showOutput_ = readInt("ShowOutput", 1) != 0;
    addDocs2StartMenu_ = readInt("AddDocs2StartMenu", 1) != 0;
    // Not among the values a first start writes: without it the window keeps one thread.
    if (reg.GetDataType("CompressThreads") == TRegDataType::rdInteger)
      SetCompressThreads(reg.ReadInteger("CompressThreads"));
    readText("DefDir", "");

    if (missing.isEmpty() || pass == 2) break;
    for (const QString& name : missing) {
      std::string n = TextFromQt(name);
      if (name == "ShowOutput" || name == "AddDocs2StartMenu" || name == "ShowToolbars")
        reg.WriteBool(n, true);
      else if (name == "Dockto")
        reg.WriteInteger("DockTo", 1);
      else if (name == "DefDir")
        reg.WriteString(n, PathFromQt(QDir::homePath()));
      else if (name == "ExpDir")
        reg.WriteString(n, DefaultTempFolder());
      else
        reg.WriteString(n, "");
    }
    try {
      reg.CloseKey();
    } catch (const ERegistryException& e) {
      // The defaults stay in force for this run; trying again would fail the same way.
      showError(TextToQt(e.what()));
      break;
    }
  }
  SetTempFolder(tempFolder_);
}

void TMainform::SetCompressThreads(int n) {
  ZipEngine1.Jobs = std::clamp(n, 1, kMaxCompressThreads);
}

void TMainform::SetTempFolder(const QString& folder) {
  tempFolder_ = folder;
  // The writer builds new archives in the temporary folder.
  ZipEngine1.TempPath = PathFromQt(tempFolder_);
  if (!ZipEngine1.TempPath.empty() && ZipEngine1.TempPath.back() != '/') ZipEngine1.TempPath += '/';
  // Our own folder is made now; one the user named is made when a command needs it.
  if (PathFromQt(QDir::cleanPath(tempFolder_)) != DefaultTempFolder()) return;
  try {
    PrepareTempFolder(DefaultTempFolder());
  } catch (const std::exception&) {
    // Told when a command needs the folder.
  }
}

void TMainform::createDialogs() {
  ExtractForm = new TExtract(this, settings_, dialogs_);
  AddForm = new TAddForm(this, settings_, dialogs_);
  Msgform = new TMsgform(this);
  InvalidPwdDlg = new TInvalidPwdDlg(this);
  EnterPwd = new TEnterPwd(this);
  ZIPEXE = new TZIPEXE(this, settings_);
  OptionsForm = new TOptionsForm(this, settings_, dialogs_);
  InfoForm = new TInfoForm(this);
  CommentEditor = new TCommentEditor(this);
  TextEdit = new TTextEdit(settings_, dialogs_, this);
  ExtractForm->OnPassword = [this] { EnterPasswordClick(); };
  AddForm->OnPassword = [this] { EnterPasswordClick(); };
  // Straight to the engine, never through the command path that waits while it works.
  Msgform->OnCancel = [this] { ZipEngine1.RequestCancel(); };
  events_ =
      std::make_unique<TEngineEvents>(ZipEngine1, *Msgform, dialogs_, modal_, *InvalidPwdDlg, this);
  events_->ArchivePath = [this] { return PathFromQt(currentArchive_); };
  events_->Bind();
}

void TMainform::forgetArchiveSecrets() {
  ZipEngine1.Password.clear();
  if (EnterPwd) EnterPwd->Clear();
  if (events_) events_->ForgetIncompleteAnswer();
}

// ---- Commands on the archive

void TMainform::AddButClick() {
  AddFilesCommand(*this);
}

void TMainform::ExtractButClick() {
  ExtractFilesCommand(*this);
}

void TMainform::MakeEXEFile1Click() {
  MakeExeCommand(*this);
}

void TMainform::Options1Click() {
  PreferencesCommand(*this);
}

void TMainform::StringGrid1DblClick() {
  // A double-click reaches here with no archive open, too.
  if (!Command("Execute1")->isEnabled()) return;
  ExecuteCommand(*this);
}

void TMainform::Edit1Click() {
  EditTextCommand(*this);
}

QString TMainform::lastSelectedRowText() const {
  std::vector<int> rows = SelectedRows();
  if (rows.empty()) return {};
  QStringList cells;
  for (int c = 0; c < TCatalogueModel::colCount; ++c) cells << listing_.CellText(rows.back(), c);
  return cells.join(' ');
}

void TMainform::Actions1Click() {
  if (listing_.rowCount() == 0) return;
  enableCommand(Command("ViewImage1"), NamesImage(lastSelectedRowText()));
}

void TMainform::PopupMenu1Popup() {
  enableCommand(Command("ViewImage2"), NamesImage(lastSelectedRowText()));
}

void TMainform::ViewImage1Click() {
  ViewImageCommand(*this);
}

void TMainform::ViewOutput1Click() {
  Msgform->ShowOutput();
}

void TMainform::NewZipButClick() {
  NewArchiveCommand(*this);
}

void TMainform::DeleteButClick() {
  RemoveFilesCommand(*this);
}

void TMainform::SaveAs1Click() {
  SaveArchiveAsCommand(*this);
}

void TMainform::CopyZIP1Click() {
  CopyArchiveCommand(*this);
}

void TMainform::MoveZIP1Click() {
  MoveArchiveCommand(*this);
}

void TMainform::DeleteZIP1Click() {
  DeleteArchiveCommand(*this);
}

void TMainform::Information1Click() {
  InformationCommand(*this);
}

void TMainform::FixZIP1Click() {
  FixArchiveCommand(*this);
}

void TMainform::ZipComment1Click() {
  CommentCommand(*this);
}

void TMainform::MailZIP1Click() {
  MailZipCommand(*this);
}

void TMainform::UUEncode1Click() {
  UUEncodeCommand(*this);
}

void TMainform::VirusScan1Click() {
  VirusScanCommand(*this);
}

void TMainform::SetMailSystem(IMailSystem& mail) {
  mail_ = &mail;
  MailMessage1_ = std::make_unique<TMailMessage>(mail);
}

void TMainform::wireFileCommands() {
  const std::pair<const char*, void (TMainform::*)()> wiring[] = {
      {"New1", &TMainform::NewZipButClick},
      {"NewZipBut", &TMainform::NewZipButClick},
      {"RemoveFiles1", &TMainform::DeleteButClick},
      {"RemoveFiles2", &TMainform::DeleteButClick},
      {"SaveAs1", &TMainform::SaveAs1Click},
      {"CopyZIP1", &TMainform::CopyZIP1Click},
      {"MoveZIP1", &TMainform::MoveZIP1Click},
      {"DeleteZIP1", &TMainform::DeleteZIP1Click},
      {"Information1", &TMainform::Information1Click},
      {"FixZIP1", &TMainform::FixZIP1Click},
      {"ZipComment1", &TMainform::ZipComment1Click},
      {"MailZIP1", &TMainform::MailZIP1Click},
      {"UUEncode1", &TMainform::UUEncode1Click},
      {"VirusScan1", &TMainform::VirusScan1Click}};
  for (const auto& [name, handler] : wiring) connectCommand(Command(name), handler);
  // Not archive commands: there whether or not an archive is open.
  Command("New1")->setEnabled(true);
  Command("NewZipBut")->setEnabled(true);
}

void TMainform::ShowNewArchive(const QString& path) {
  listing_.Clear();
  enableCommand(Command("SaveAs1"), true);
  ZipFname->setText(path);
  ChangeAll(true);
  setTitle(QString(kTitle) + " - [" + path + "]");
  forgetArchiveSecrets();
  currentArchive_ = path;
  CalcTotSize();
  addRecentFile(path);
  updateRecentMenu();
  saveRecentFiles();
}

void TMainform::ShowNoArchive() {
  panels_[1]->setText(kTotalSizeLabel);
  ChangeAll(false);
  listing_.Clear();
  setTitle(kTitle);
}

void TMainform::EnterPasswordClick() {
  if (modal_.Run(*EnterPwd) == QDialog::Accepted) {
    ZipEngine1.Password = TextFromQt(EnterPwd->Text());
    ZipEngine1.AesEncryption = EnterPwd->UseAes();
  }
}

int TMainform::RunEngine(const std::function<int()>& operation) {
  TBusy busy(busy_);
  return operation();
}

void TMainform::FormShow() {
  CheckAssociation(*this);
  if (currentArchive_.isEmpty() && !arguments_.isEmpty()) {
    // An unquoted path with spaces arrives in pieces.
    QString path = arguments_.join(' ');
    // The window changes the current folder when it opens an archive, so a relative name
    // would stop naming the archive (and its recent-files entry) at once.
    currentArchive_ = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    forgetArchiveSecrets();
    OpenIT();
  }
  updateRecentMenu();
}

// ---- Opening and the listing

void TMainform::ZipOpenButClick() {
  QString initDir;
  {
    TRegistry reg(settings_, LOCAL_MACHINE);
    reg.OpenKey(kQueltKey, true);
    if (reg.GetDataType("InitDir") == TRegDataType::rdString)
      initDir = PathToQt(reg.ReadString("InitDir"));
  }
  OpenDialog1->SetInitialDir(initDir);
  auto picked = dialogs_.OpenFile(TFileDialogSpec{
      "Open", "ZIP Files (*.ZIP)|*.ZIP|SFX Files (*.EXE)|*.EXE", PathFromQt(initDir), "", ""});
  if (!picked) return;
  currentArchive_ = PathToQt(*picked);
  forgetArchiveSecrets();
  OpenIT();
  // Declining to create a missing file closes it; its empty folder is not worth keeping.
  if (currentArchive_.isEmpty()) return;
  TRegistry reg(settings_, LOCAL_MACHINE);
  reg.OpenKey(kQueltKey, true);
  reg.WriteString("InitDir", PathFromQt(QFileInfo(currentArchive_).path()));
  reg.CloseKey();
}

void TMainform::OpenIT() {
  // The total follows whatever the listing ends up holding, also when an error leaves.
  struct TTotalOnExit {
    TMainform* form;
    ~TTotalOnExit() { form->CalcTotSize(); }
  } total{this};

  QString storeError;
  if (!currentArchive_.isEmpty()) {
    ChangeAll(true);
    ZipFname->setText(currentArchive_);
    setTitle(QString(kTitle) + " - [" + currentArchive_ + "]");
    if (!QFileInfo::exists(currentArchive_)) {
      try {
        TMsgBoxResult answer = dialogs_.MessageBox(
            "The specified file does not exist do you wish to create it?", "Create New ZIP",
            TMsgBoxIcon::Question, TMsgBoxButtons::YesNoCancel);
        if (answer != TMsgBoxResult::Yes) {
          Close1Click();
          return;
        }
        QString keep = currentArchive_;
        Close1Click();
        currentArchive_ = keep;
        ZipEngine1.SetZipName(PathFromQt(keep));
        ChangeAll(true);
        // Close put the plain title back; the new archive is the current one.
        setTitle(QString(kTitle) + " - [" + keep + "]");
      } catch (const std::exception&) {
      }
    }
    addRecentFile(currentArchive_);
    try {
      saveRecentFiles();
    } catch (const ERegistryException& e) {
      // Reported once the listing is up: a settings file that cannot be written must not
      // keep the archive from being shown.
      storeError = TextToQt(e.what());
    }
  }
  updateRecentMenu();
  if (currentArchive_.isEmpty()) {
    rebuildListing();
    return;
  }

  std::string name = PathFromQt(currentArchive_);
  std::string folder = PathFromQt(QFileInfo(currentArchive_).path());
  if (::chdir(folder.c_str()) != 0) {
    // Staying in the old folder harms nothing.
  }
  // The engine keeps the archive open between operations, and an open file cannot tell that
  // another program replaced it; naming the archive afresh makes the engine read it again.
  if (ZipEngine1.ZipName() == name) ZipEngine1.SetZipName("");
  ZipEngine1.SetZipName(name);
  ApplyNameEncodingChoice(*this);
  if (auto mode = checkedSortMode()) ZipEngine1.SortCatalogue(*mode);
  try {
    TWaitCursor wait;
    TBusy busy(busy_);
    ZipEngine1.LoadCatalogue();
  } catch (const EIncompleteZip&) {
  } catch (...) {
    // Rows always mirror the engine's entries, so later commands that map a selected row to
    // an entry by its index meet the right one.
    rebuildListing();
    throw;
  }
  rebuildListing();
  // What the walk found is listed; the user must still know it is not the whole archive.
  // Every command reads the archive again: say it once for the file as it stands.
  if (!ZipEngine1.CatalogueDamage().empty()) {
    QFileInfo file(currentArchive_);
    QString stamp = file.absoluteFilePath() + '|' + QString::number(file.size()) + '|' +
                    QString::number(file.lastModified().toMSecsSinceEpoch());
    if (stamp != damageToldFor_) {
      damageToldFor_ = stamp;
      dialogs_.MessageBox("The archive is damaged or incomplete: " + ZipEngine1.CatalogueDamage() +
                              ". Only the entries that could be found are listed.",
                          kTitle, TMsgBoxIcon::Warning, TMsgBoxButtons::OK);
    }
  } else {
    damageToldFor_.clear();
  }
  if (!storeError.isEmpty()) throw ERegistryException(TextFromQt(storeError));
}

void TMainform::rebuildListing() {
  try {
    listing_.Fill(ZipEngine1);
  } catch (const std::exception&) {
    listing_.Clear();
    throw;
  }
  fitColumns();
  dumpListing();
}

void TMainform::fitColumns() {
  // The designed widths suit a small font; dates, times and sizes must still show whole.
  QFontMetrics metrics(ListBox1->font());
  QLocale locale;
  const QString samples[] = {
      QString(), locale.toString(QDate(2000, 12, 28), locale.dateFormat(QLocale::ShortFormat)),
      locale.toString(QTime(23, 58, 58), LongTimeFormatWithoutZone(locale)),
      QString::number(listing_.LargestSize()), QString::number(listing_.LargestSize())};
  for (int c = TCatalogueModel::colDate; c <= TCatalogueModel::colPacked; ++c) {
    int wanted = metrics.horizontalAdvance(samples[c]) + 2 * metrics.averageCharWidth();
    if (ListBox1->columnWidth(c) < wanted) ListBox1->setColumnWidth(c, wanted);
  }
}

void TMainform::dumpListing() const {
  // For tests of the running program: QUELT_LISTING_DUMP names a file that receives the
  // listing as shown, one row per line, the cells separated by tabs.
  QByteArray target = qgetenv("QUELT_LISTING_DUMP");
  if (target.isEmpty()) return;
  QFile file(QFile::decodeName(target));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  for (int row = 0; row < listing_.rowCount(); ++row) {
    QStringList cells;
    for (int c = 0; c < TCatalogueModel::colCount; ++c) cells << listing_.CellText(row, c);
    file.write((cells.join('\t') + '\n').toUtf8());
  }
}

void TMainform::RecentFileClick(int position) {
  if (position < 1 || position > 5) return;
  currentArchive_ = TrimControl(recent_[size_t(position - 1)]->data().toString());
  forgetArchiveSecrets();
  OpenIT();
}

QStringList TMainform::RecentFiles() const {
  QStringList paths;
  for (QAction* entry : recent_) paths << entry->data().toString();
  return paths;
}

void TMainform::setRecentFile(int position, const QString& path) {
  QAction* entry = recent_[size_t(position - 1)];
  entry->setData(path);
  // A path is shown as it is: "&" would otherwise mark a mnemonic.
  entry->setText(QString(path).replace('&', "&&"));
}

void TMainform::addRecentFile(const QString& path) {
  QStringList paths = RecentFiles();
  int found = int(paths.indexOf(path));  // exact: names differ by letter case here
  if (found == 0) return;
  if (found > 0)
    paths.removeAt(found);
  else
    paths.removeLast();
  paths.prepend(path);
  for (int k = 1; k <= 5; ++k) setRecentFile(k, paths[k - 1]);
}

void TMainform::saveRecentFiles() {
  TRegistry reg(settings_, LOCAL_MACHINE);
  reg.OpenKey(kQueltKey, true);
  QStringList paths = RecentFiles();
  for (int k = 1; k <= 5; ++k)
    reg.WriteString(TextFromQt(QString("last%1").arg(k)), PathFromQt(paths[k - 1]));
  reg.CloseKey();
}

void TMainform::updateRecentMenu() {
  for (QAction* entry : recent_) entry->setVisible(!entry->data().toString().isEmpty());
  N4->setVisible(!recent_[0]->data().toString().isEmpty());
}

void TMainform::enableCommand(QAction* command, bool value) {
  if (command) command->setEnabled(value);
}

void TMainform::ChangeAll(bool value) {
  for (const char* name : kArchiveCommands) enableCommand(Command(name), value);
  if (value && QFileInfo(currentArchive_).suffix().toUpper().contains("EXE")) {
    // A self-extracting archive keeps its comment and already is a program.
    Command("ZipComment1")->setEnabled(false);
    Command("MakeEXEFile1")->setEnabled(false);
  }
  sortMenu_->menuAction()->setEnabled(value);
}

void TMainform::Timer1Timer() {
  if (currentArchive_.isEmpty() || listing_.rowCount() > 0) return;
  for (const char* name : kEntryCommands) Command(name)->setEnabled(false);
}

void TMainform::CalcTotSize() {
  int64_t total = 0;  // 64 bits: archives over 2 GiB are common
  for (int i = 0; i < ZipEngine1.Count(); ++i) total += ZipEngine1.UncompressedSize(i);
  panels_[1]->setText(QString(kTotalSizeLabel) + " " + QString::number(total / 1024) + " KB");
}

void TMainform::Close1Click() {
  panels_[1]->setText(kTotalSizeLabel);
  setTitle(kTitle);
  currentArchive_.clear();
  listing_.Clear();
  ChangeAll(false);
  ZipEngine1.ClearCatalogue();
}

void TMainform::setTitle(const QString& title) {
  setWindowTitle(title);
}

// ---- Sorting

std::optional<TZipSortMode> TMainform::checkedSortMode() const {
  for (size_t i = 0; i < 6; ++i)
    if (sortItems_[i]->isChecked()) return kSortItems[i].mode;
  return std::nullopt;
}

void TMainform::SetSortFalse() {
  for (QAction* item : sortItems_) item->setChecked(false);
}

void TMainform::SortClick(QAction* item) {
  size_t index = 0;
  while (index < 6 && sortItems_[index] != item) ++index;
  if (index == 6) return;
  SetSortFalse();
  item->setChecked(true);
  ZipEngine1.ClearCatalogue();
  ZipEngine1.SetSortMode(kSortItems[index].mode);
  ZipEngine1.SetZipName(PathFromQt(currentArchive_));
  OpenIT();
}

void TMainform::DoSort() {
  for (QAction* item : sortItems_) {
    if (item->isChecked()) {
      SortClick(item);
      return;
    }
  }
}

// ---- Window commands

void TMainform::ToolBars1Click() {
  // The menu item has already turned its check over when this runs.
  bool on = Command("ToolBars1")->isChecked();
  Toolbar1->setVisible(on);
  TRegistry reg(settings_, LOCAL_MACHINE);
  reg.OpenKey(kQueltKey, true);
  reg.WriteBool("Showtoolbars", on);
  reg.CloseKey();
}

int TMainform::dockCode() const {
  if (Toolbar1->isFloating()) return 0;
  switch (toolBarArea(Toolbar1)) {
    case Qt::TopToolBarArea:
      return 1;
    case Qt::LeftToolBarArea:
      return 2;
    case Qt::BottomToolBarArea:
      return 3;
    case Qt::RightToolBarArea:
      return 4;
    default:
      return 0;
  }
}

void TMainform::Toolbar1DockChanged() {
  lastDock_ = dockCode();
  TRegistry reg(settings_, LOCAL_MACHINE);
  reg.OpenKey(kQueltKey, true);
  reg.WriteInteger("DockTo", lastDock_);
  reg.CloseKey();
}

void TMainform::Font1Click() {
  QFont current = ListBox1->font();
  auto chosen = dialogs_.ChooseFont(SpecFromFont(current), false);
  if (!chosen) return;
  // The dialog offers no style choice here: bold and italic stay as they were.
  TFontSpec spec = *chosen;
  spec.bold = current.bold();
  spec.italic = current.italic();
  ListBox1->setFont(FontFromSpec(spec, current));
  fitColumns();
}

QString TMainform::ManualPath() {
  return QCoreApplication::applicationDirPath() + "/manual/index.html";
}

void TMainform::UsingQuelt1Click() {
  QUrl url = QUrl::fromLocalFile(ManualPath());
  url.setFragment("using");
  (void)dialogs_.ShellOpen(TextFromQt(url.toString(QUrl::FullyEncoded)));
}

void TMainform::HomePage1Click() {
  (void)dialogs_.ShellOpen(PathFromQt(ManualPath()));
}

void TMainform::About1Click() {
  dialogs_.ShowAbout(TAboutSpec{"About Quelt", "Quelt",
                                "Quelt, compression technology you can use.",
                                std::string("Version ") + QUELT_VERSION});
}

void TMainform::Exit1Click() {
  close();
}

// ---- Plumbing

void TMainform::runCommand(const std::function<void()>& body) {
  // Commands wait while the engine works: it lets the window handle events part-way.
  if (busy_) return;
  try {
    body();
  } catch (const std::exception& e) {
    showError(TextToQt(e.what()));
  }
}

void TMainform::showError(const QString& text) {
  dialogs_.MessageBox(TextFromQt(text), kTitle, TMsgBoxIcon::Error, TMsgBoxButtons::OK);
}

QAction* TMainform::Command(const char* name) const {
  return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

QString TMainform::StatusText(int panel) const {
  return panel >= 0 && panel < 2 ? panels_[panel]->text() : QString();
}

QString TMainform::NameLabel() const {
  return ZipFname->text();
}

std::vector<int> TMainform::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : ListBox1->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

bool TMainform::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    // Hints go to the first panel, never over the total.
    panels_[0]->setText(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TMainform::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (shown_) return;
  shown_ = true;
  // After the window is up, so a prompt about the archive appears over it.
  QMetaObject::invokeMethod(
      this, [this] { runCommand([this] { FormShow(); }); }, Qt::QueuedConnection);
}

void TMainform::closeEvent(QCloseEvent* e) {
  if (busy_) {
    // Closing in the middle of a read: stop the read first.
    ZipEngine1.RequestCancel();
    e->ignore();
    return;
  }
  QMainWindow::closeEvent(e);
}

bool TMainform::eventFilter(QObject* watched, QEvent* e) {
  if (watched == Toolbar1 &&
      (e->type() == QEvent::Move || e->type() == QEvent::Show ||
       e->type() == QEvent::ParentChange) &&
      dockCode() != lastDock_)
    runCommand([this] { Toolbar1DockChanged(); });
  return QMainWindow::eventFilter(watched, e);
}

// ---- Window properties

int TMainform::Width() const {
  return isMaximized() || isMinimized() ? normalGeometry().width() : geometry().width();
}
void TMainform::SetWidth(int v) {
  if (v > 0) resize(v, geometry().height());
}
int TMainform::Height() const {
  return isMaximized() || isMinimized() ? normalGeometry().height() : geometry().height();
}
void TMainform::SetHeight(int v) {
  if (v > 0) resize(geometry().width(), v);
}
int TMainform::Top() const {
  return isMaximized() || isMinimized() ? normalGeometry().y() : geometry().y();
}
void TMainform::SetTop(int v) {
  QRect g = geometry();
  g.moveTop(v);
  setGeometry(g);
}
int TMainform::Left() const {
  return isMaximized() || isMinimized() ? normalGeometry().x() : geometry().x();
}
void TMainform::SetLeft(int v) {
  QRect g = geometry();
  g.moveLeft(v);
  setGeometry(g);
}

TMainform::TWindowState TMainform::WindowState() const {
  if (isMinimized()) return wsMinimized;
  if (isMaximized()) return wsMaximized;
  return wsNormal;
}

void TMainform::SetWindowState(TWindowState state) {
  Qt::WindowStates s = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (state == wsMinimized) s |= Qt::WindowMinimized;
  if (state == wsMaximized) s |= Qt::WindowMaximized;
  setWindowState(s);
}

}  // namespace quelt
