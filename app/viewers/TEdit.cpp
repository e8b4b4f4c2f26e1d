#include "app/viewers/TEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QSaveFile>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextBlock>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/viewers/ModalWindow.h"

namespace quelt {

namespace {

const char* const kTitle = "Quelt Edit";
const char* const kErrorCaption = "Quelt";
// The control holds the whole text in memory several times over; beyond this it is no longer
// an editor's job.
constexpr qint64 kLargestFile = qint64(64) << 20;

// Disables a window for as long as the scope lasts.
class TDisabled {
 public:
  explicit TDisabled(QWidget* w) : w_(w) { w_->setEnabled(false); }
  ~TDisabled() { w_->setEnabled(true); }
  TDisabled(const TDisabled&) = delete;
  TDisabled& operator=(const TDisabled&) = delete;

 private:
  QWidget* w_;
};

}  // namespace

TTextEdit::TTextEdit(TSettingsStore& settings, IDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), settings_(settings), dialogs_(dialogs) {
  setObjectName("TextEdit");
  setWindowTitle(kTitle);
  resize(620, 440);

  RichEdit1 = new QPlainTextEdit(this);
  RichEdit1->setObjectName("RichEdit1");
  QFont font("Courier", 8);
  font.setStyleHint(QFont::TypeWriter);
  RichEdit1->setFont(font);
  RichEdit1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(RichEdit1);
  highlighter_ = new THtmlHighlighter(this);

  FindDialog1 = new TFindDialog(this);
  ReplaceDialog1 = new TReplaceDialog(this);
  GTLine = new TGTLine(settings_, this);
  BookMarks = new TBookMarks(settings_, this);
  InfoTextFrm = new TInfoTextFrm(this);
  connect(FindDialog1, &TFindDialog::FindNext, this, [this] { Search(false); });
  connect(ReplaceDialog1, &TReplaceDialog::FindNext, this, [this] { Search(true); });
  connect(ReplaceDialog1, &TReplaceDialog::Replace, this,
          [this](bool all) { runCommand([this, all] { ReplaceText(all); }); });

  buildMenus();
  buildStatusBar();
  connect(RichEdit1, &QPlainTextEdit::cursorPositionChanged, this, &TTextEdit::caretMoved);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TTextEdit::Timer1Timer);
  Timer1->start();

  PropStore1 = new TPropStore(this, settings_);
  persistedItems();
  PropStore1->LoadItems();
  WordWrap1Click();
  caretMoved();
}

TTextEdit::~TTextEdit() {
  releaseFile();
  // A failed save has no one left to tell; the next start uses what the file holds.
  (void)PropStore1->SaveItems();
}

void TTextEdit::persistedItems() {
  const QString key = "SOFTWARE\\Dunmarra\\Quelt";
  auto item = [&](const QString& control, const QString& property, const QString& def,
                  const QString& value) {
    return control + ";" + property + ";" + def + ";" + key + ";" + value + ";1;0";
  };
  PropStore1->RegistryRoot = LOCAL_MACHINE;
  PropStore1->Items = {
      item("WordWrap1", "checked", "True", "TextEditorWordWrap"),
      item("FindDialog1", "FindText", "", "TextEditorFindText"),
      item("ReplaceDialog1", "FindText", "", "TextEditorReplaceFindText"),
      item("ReplaceDialog1", "ReplaceText", "", "TextEditorReplaceReplaceText"),
      item("RichEdit1", "font", "", "TextEditorFont"),
      item("TextEdit", "Width", "", "TextEditorWidth"),
      item("TextEdit", "Height", "", "TextEditorHeight"),
  };
}

// ---- Construction

QAction* TTextEdit::addCommand(QMenu* menu, const char* name, const QString& caption,
                               const QKeySequence& shortcut) {
  auto* action = new QAction(caption, this);
  action->setObjectName(name);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  if (menu) menu->addAction(action);
  return action;
}

void TTextEdit::buildMenus() {
  auto handle = [this](QAction* action, void (TTextEdit::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { runCommand([=, this] { (this->*handler)(); }); });
  };
  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("File1");
  // The archive is named when a file is opened from it.
  connect(file, &QMenu::aboutToShow, this,
          [this] { Command("Send1")->setEnabled(!ArchiveFile.isEmpty() && MailMessage1); });
  connect(addCommand(file, "Save1", "&Save", QKeySequence("Ctrl+S")), &QAction::triggered, this,
          [this] { Save1Click(); });
  file->addSeparator();
  handle(addCommand(file, "Print1", "&Print"), &TTextEdit::Print1Click);
  handle(addCommand(file, "PrintSetup1", "Print &Setup"), &TTextEdit::PrintSetup1Click);
  file->addSeparator();
  handle(addCommand(file, "Send1", "Send..."), &TTextEdit::Send1Click);
  file->addSeparator();
  connect(addCommand(file, "Close1", "&Close"), &QAction::triggered, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->setObjectName("Edit1");
  connect(edit, &QMenu::aboutToShow, this, &TTextEdit::Edit1Click);
  connect(addCommand(edit, "Undo1", "&Undo", QKeySequence("Ctrl+Z")), &QAction::triggered,
          RichEdit1, &QPlainTextEdit::undo);
  connect(addCommand(edit, "Redo1", "Redo", QKeySequence("Ctrl+Y")), &QAction::triggered, RichEdit1,
          &QPlainTextEdit::redo);
  edit->addSeparator();
  connect(addCommand(edit, "Cut1", "C&ut", QKeySequence("Ctrl+X")), &QAction::triggered, RichEdit1,
          &QPlainTextEdit::cut);
  connect(addCommand(edit, "Copy1", "&Copy", QKeySequence("Ctrl+C")), &QAction::triggered,
          RichEdit1, &QPlainTextEdit::copy);
  connect(addCommand(edit, "Paste1", "&Paste", QKeySequence("Ctrl+V")), &QAction::triggered,
          RichEdit1, &QPlainTextEdit::paste);
  edit->addSeparator();
  connect(addCommand(edit, "SelectAll1", "&Select All"), &QAction::triggered, RichEdit1,
          &QPlainTextEdit::selectAll);
  edit->addSeparator();
  QAction* wrap = addCommand(edit, "WordWrap1", "&WordWrap");
  wrap->setCheckable(true);
  wrap->setChecked(true);
  handle(wrap, &TTextEdit::WordWrap1Click);

  QMenu* find = menuBar()->addMenu("F&ind");
  find->setObjectName("Find1");
  handle(addCommand(find, "Find2", "&Find...", QKeySequence("Ctrl+F")), &TTextEdit::Find1Click);
  handle(addCommand(find, "FindNext1", "Find &Next...", QKeySequence(Qt::Key_F3)),
         &TTextEdit::FindNext1Click);
  handle(addCommand(find, "Replace1", "&Replace...", QKeySequence("Ctrl+R")),
         &TTextEdit::Replace1Click);
  find->addSeparator();
  handle(addCommand(find, "Bookmarks1", "Bookmarks...", QKeySequence("Ctrl+M")),
         &TTextEdit::Bookmarks1Click);
  handle(addCommand(find, "GoToLine1", "Go To Line...", QKeySequence("Ctrl+F5")),
         &TTextEdit::GoToLine1Click);

  QMenu* view = menuBar()->addMenu("&View");
  view->setObjectName("View1");
  handle(addCommand(view, "Font1", "&Font..."), &TTextEdit::Font1Click);
  handle(addCommand(view, "FileInfo1", "File Info..."), &TTextEdit::FileInfo1Click);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TTextEdit::Edit1Click);
  connect(addCommand(PopupMenu1, "Cut2", "Cut"), &QAction::triggered, RichEdit1,
          &QPlainTextEdit::cut);
  connect(addCommand(PopupMenu1, "Copy2", "Copy"), &QAction::triggered, RichEdit1,
          &QPlainTextEdit::copy);
  connect(addCommand(PopupMenu1, "Paste2", "Paste"), &QAction::triggered, RichEdit1,
          &QPlainTextEdit::paste);
  RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RichEdit1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    PopupMenu1->popup(RichEdit1->viewport()->mapToGlobal(pos));
  });

  // The items follow the control at once, not only when the menu opens, so their shortcuts
  // act only when there is something to act on.
  connect(RichEdit1, &QPlainTextEdit::undoAvailable, this, &TTextEdit::Edit1Click);
  connect(RichEdit1, &QPlainTextEdit::redoAvailable, this, &TTextEdit::Edit1Click);
  connect(RichEdit1, &QPlainTextEdit::copyAvailable, this, &TTextEdit::Edit1Click);
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &TTextEdit::Edit1Click);
  Edit1Click();
}

void TTextEdit::buildStatusBar() {
  // Hints, NUM, CAPS and the caret's line and column share the bar 70 : 8 : 8 : 14.
  const int shares[4] = {70, 8, 8, 14};
  for (int i = 0; i < 4; ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QString("StatusPanel%1").arg(i));
    panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    if (i > 0) panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    panels_[size_t(i)] = panel;
    statusBar()->addWidget(panel, shares[i]);
  }
}

// ---- Loading and closing

void TTextEdit::Open(const QString& path, bool ownsFile) {
  releaseFile();
  auto fail = [&](const QString& reason) {
    if (ownsFile) QFile::remove(path);
    throw EEditorError(
        TextFromQt("Cannot edit " + QDir::toNativeSeparators(path) + ": " + reason + "."));
  };
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) fail(file.errorString());
  if (file.size() > kLargestFile) fail("the file is too large for the editor");
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) fail(file.errorString());

  bytes_ = TTextBytes::Decode(bytes);
  keptCopies_.remove(path);  // in hand again
  editorFile_ = path;
  ownsFile_ = ownsFile;
  keepCopy_ = false;
  RichEdit1->setPlainText(bytes_.Text());
  RichEdit1->document()->setModified(false);
  setWindowTitle(QString(kTitle) + " - [" + QFileInfo(path).fileName() + "]");
  // Entry names from the archive may be in either case.
  highlighter_->setDocument(
      QFileInfo(path).suffix().toUpper().contains("HTM") ? RichEdit1->document() : nullptr);
  if (Highlighting()) highlighter_->rehighlight();
  SetCaret(TTextPos{});
}

void TTextEdit::Execute(const QString& path, bool ownsFile) {
  Open(path, ownsFile);
  ShowModal(this);
}

bool TTextEdit::KeptCopy(const QString& path) const {
  return keptCopies_.contains(path) && QFileInfo(path).isFile();
}

void TTextEdit::closeEvent(QCloseEvent* e) {
  if (Modified()) {
    const QString name = QFileInfo(editorFile_).fileName();
    switch (dialogs_.MessageBox(TextFromQt("Save changes to " + name + "?"), "Changes",
                                TMsgBoxIcon::Question, TMsgBoxButtons::YesNoCancel)) {
      case TMsgBoxResult::Yes:
        // A save that failed keeps the window, so nothing typed is lost with it.
        if (!Save1Click()) {
          e->ignore();
          return;
        }
        break;
      case TMsgBoxResult::No:
        break;
      default:
        e->ignore();
        return;
    }
  }
  QMainWindow::closeEvent(e);
  FindDialog1->hide();
  ReplaceDialog1->hide();
  releaseFile();
  RichEdit1->clear();
  RichEdit1->document()->setModified(false);
  setWindowTitle(kTitle);
  emit Closed();
}

void TTextEdit::releaseFile() {
  // A copy whose edits never reached the archive is the only place they live.
  if (ownsFile_ && !keepCopy_ && !editorFile_.isEmpty()) QFile::remove(editorFile_);
  if (ownsFile_ && keepCopy_) keptCopies_.insert(editorFile_);
  ownsFile_ = false;
  keepCopy_ = false;
  editorFile_.clear();
}

// ---- Saving

bool TTextEdit::Save1Click() {
  if (editorFile_.isEmpty()) return false;
  TWaitCursor wait;
  TDisabled disabled(this);
  const QString text = Text();
  bool widened = false;
  const QByteArray bytes = bytes_.Encode(text, &widened);
  QSaveFile out(editorFile_);
  // A folder that takes no new files still lets the file itself be rewritten.
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
    showError("Cannot write " + QDir::toNativeSeparators(editorFile_) + ": " + out.errorString() +
              ".");
    return false;
  }
  bytes_.Saved(text, bytes);
  if (widened)
    dialogs_.MessageBox(
        TextFromQt(QFileInfo(editorFile_).fileName() +
                   " holds characters that Latin-1 cannot store; it was saved as UTF-8."),
        kTitle, TMsgBoxIcon::Information, TMsgBoxButtons::OK);
  if (SaveBack) {
    try {
      SaveBack(editorFile_);
    } catch (const std::exception& e) {
      keepCopy_ = true;
      showError(QString::fromUtf8(e.what()) + "\n\nThe edited text is kept in " +
                QDir::toNativeSeparators(editorFile_) + ".");
      return false;
    }
  }
  keepCopy_ = false;
  RichEdit1->document()->setModified(false);
  return true;
}

// ---- Commands

void TTextEdit::SetMailSystem(IMailSystem& mail) {
  if (mail_ == &mail) return;
  mail_ = &mail;
  MailMessage1 = std::make_unique<TMailMessage>(mail);
}

void TTextEdit::Send1Click() {
  // The archive as it is in its folder, not the text being edited.
  if (ArchiveFile.isEmpty() || !MailMessage1) return;
  TWaitCursor wait;
  MailMessage1->Attachments = {PathFromQt(ArchiveFile)};
  try {
    MailMessage1->Send();
  } catch (const EMapiUserAbort&) {
    // The user closed the message unsent: nothing to say.
  }
}

void TTextEdit::Edit1Click() {
  QTextDocument* doc = RichEdit1->document();
  Command("Undo1")->setEnabled(doc->isUndoAvailable());
  Command("Redo1")->setEnabled(doc->isRedoAvailable());
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  const bool canPaste = clip && clip->hasText() && !RichEdit1->isReadOnly();
  const bool selected = RichEdit1->textCursor().hasSelection();
  for (const char* name : {"Paste1", "Paste2"}) Command(name)->setEnabled(canPaste);
  for (const char* name : {"Cut1", "Copy1", "Cut2", "Copy2"}) Command(name)->setEnabled(selected);
  Command("Send1")->setEnabled(!ArchiveFile.isEmpty() && MailMessage1);
}

void TTextEdit::WordWrap1Click() {
  RichEdit1->setLineWrapMode(Command("WordWrap1")->isChecked() ? QPlainTextEdit::WidgetWidth
                                                               : QPlainTextEdit::NoWrap);
}

void TTextEdit::Bookmarks1Click() {
  BookMarks->SetCaret(Caret());
  if (BookMarks->exec() != QDialog::Accepted) return;
  if (auto pos = BookMarks->Position(BookMarks->ChosenRow())) SetCaret(*pos);
}

void TTextEdit::GoToLine1Click() {
  if (GTLine->exec() == QDialog::Accepted) SetCaret(TTextPos{GTLine->Line() - 1, 0});
}

void TTextEdit::Font1Click() {
  QFont current = RichEdit1->font();
  auto chosen = dialogs_.ChooseFont(SpecFromFont(current), true);
  if (chosen) RichEdit1->setFont(FontFromSpec(*chosen, current));
}

void TTextEdit::FileInfo1Click() {
  InfoTextFrm->ShowFile(editorFile_);
  InfoTextFrm->exec();
}

void TTextEdit::Timer1Timer() {
  TLockKeys keys;
  const bool known = bool(LockKeys);
  if (known) keys = LockKeys();
  panels_[1]->setText(known && keys.numLock ? "NUM" : "");
  panels_[2]->setText(known && keys.capsLock ? "CAPS" : "");
}

// ---- The caret

TTextPos TTextEdit::Caret() const {
  QTextCursor c = RichEdit1->textCursor();
  return TTextPos{c.blockNumber(), c.positionInBlock()};
}

void TTextEdit::SetCaret(TTextPos pos) {
  // A mark may point past the end of a text that has since become shorter.
  QTextDocument* doc = RichEdit1->document();
  QTextBlock block = doc->findBlockByNumber(std::clamp(pos.line, 0, doc->blockCount() - 1));
  QTextCursor c(block);
  c.setPosition(block.position() + std::clamp(pos.col, 0, block.length() - 1));
  RichEdit1->setTextCursor(c);
  RichEdit1->ensureCursorVisible();
}

void TTextEdit::caretMoved() {
  TTextPos pos = Caret();
  panels_[3]->setText(QString("%1,%2").arg(pos.line + 1).arg(pos.col + 1));
}

// ---- State

QString TTextEdit::Text() const {
  // The raw text keeps non-breaking spaces, which the plain text turns into spaces.
  QString text = RichEdit1->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, '\n');
  return text;
}

bool TTextEdit::Modified() const {
  return RichEdit1->document()->isModified();
}

QString TTextEdit::StatusText(int panel) const {
  return panel >= 0 && panel < 4 ? panels_[size_t(panel)]->text() : QString();
}

QAction* TTextEdit::Command(const char* name) const {
  return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

int TTextEdit::Width() const {
  return isMaximized() ? normalGeometry().width() : geometry().width();
}
void TTextEdit::SetWidth(int v) {
  if (v > 0) resize(v, geometry().height());
}
int TTextEdit::Height() const {
  return isMaximized() ? normalGeometry().height() : geometry().height();
}
void TTextEdit::SetHeight(int v) {
  if (v > 0) resize(geometry().width(), v);
}

// ---- Plumbing

void TTextEdit::runCommand(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    showError(QString::fromUtf8(e.what()));
  }
}

void TTextEdit::showError(const QString& text) {
  dialogs_.MessageBox(TextFromQt(text), kErrorCaption, TMsgBoxIcon::Error, TMsgBoxButtons::OK);
}

bool TTextEdit::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    panels_[0]->setText(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

}  // namespace quelt
