#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/QtText.h"
#include "app/viewers/TEdit.h"
#include "support/FakeDialogs.h"
#include "support/FakeMailSystem.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::TempDir;
using test::TFakeDialogs;

const std::string kQueltKey = "SOFTWARE\\Dunmarra\\Quelt";
const std::string kEditorKey = "SOFTWARE\\Dunmarra\\Text Editor";

// Runs `act` on the next modal dialog once it is up.
void onModal(std::function<void(QDialog*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(1);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(dialog);
  });
  timer->start();
}

void click(QDialog* dialog, const char* button) {
  auto* b = dialog->findChild<QPushButton*>(button);
  ASSERT_NE(b, nullptr) << button;
  b->click();
}

class TextEditorTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }

  void start() {
    store = std::make_unique<TSettingsStore>(dir / "settings.reg");
    edit = std::make_unique<TTextEdit>(*store, *dialogs);
  }
  // The window is destroyed (which saves its items) and made again from the file.
  void restart() {
    edit.reset();
    store.reset();
    start();
  }
  std::string file(const std::string& name, const std::string& bytes) {
    std::string path = dir / name;
    test::writeFile(path, bytes);
    return path;
  }
  void open(const std::string& path, bool owned = false) { edit->Open(PathToQt(path), owned); }
  void typeAtEnd(const QString& text) {
    edit->Editor()->moveCursor(QTextCursor::End);
    edit->Editor()->insertPlainText(text);
  }
  std::optional<std::string> stored(const std::string& key, const std::string& name) const {
    TSettingsStore fresh(dir / "settings.reg");
    return fresh.ReadString(LOCAL_MACHINE, key, name);
  }
  QString selection() const { return edit->Editor()->textCursor().selectedText(); }
  int selectionStart() const { return edit->Editor()->textCursor().selectionStart(); }

  TempDir dir;
  std::unique_ptr<TFakeDialogs> dialogs = std::make_unique<TFakeDialogs>();
  std::unique_ptr<TSettingsStore> store;
  std::unique_ptr<TTextEdit> edit;
};

TEST_F(TextEditorTest, KeepsTheEncodingAndLineEndsOfTheFile) {
  struct TCase {
    const char* name;
    std::string bytes, afterTyping;
  } cases[] = {
      {"utf8-lf.txt", "na\xC3\xAFve caf\xC3\xA9\nzweite Zeile\n",
       "na\xC3\xAFve caf\xC3\xA9\nzweite Zeile\nmore\n"},
      {"latin1-crlf.txt", "na\xEFve\r\ncaf\xE9 \xA0!\r\n", "na\xEFve\r\ncaf\xE9 \xA0!\r\nmore\r\n"},
      {"mostly-crlf.txt", "a\r\nb\nc\r\n", "a\r\nb\r\nc\r\nmore\r\n"},
      {"cr-only.txt", "a\rb\r", "a\rb\rmore\r"},
      {"bom.txt", "\xEF\xBB\xBFhello", "\xEF\xBB\xBFhellomore\n"},
      {"empty.txt", "", "more\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = file(c.name, c.bytes);
    open(path);
    EXPECT_EQ(edit->windowTitle(), QString("Quelt Edit - [") + c.name + "]");
    EXPECT_FALSE(edit->Modified());
    ASSERT_TRUE(edit->Save1Click());
    EXPECT_EQ(test::readText(path), c.bytes) << "saved without a change";
    typeAtEnd("more\n");
    EXPECT_TRUE(edit->Modified());
    ASSERT_TRUE(edit->Save1Click());
    EXPECT_EQ(test::readText(path), c.afterTyping);
    EXPECT_FALSE(edit->Modified());
  }
}

TEST_F(TextEditorTest, LatinOneTextThatNeedsMoreIsSavedAsUtf8AndSaysSo) {
  const std::string path = file("old.txt", "caf\xE9\r\n");
  open(path);
  typeAtEnd(QString::fromUtf8("5 \xE2\x82\xAC"));
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  ASSERT_TRUE(edit->Save1Click());
  EXPECT_EQ(test::readText(path), "caf\xC3\xA9\r\n5 \xE2\x82\xAC");
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_NE(dialogs->Messages()[0].find("saved as UTF-8"), std::string::npos);
}

TEST_F(TextEditorTest, SaveBackGetsTheWrittenFileAndAFailureKeepsTheEditsAndTheCopy) {
  const std::string path = file("README.TXT", "first\n");
  std::vector<std::string> handed;
  bool fail = false;
  edit->SaveBack = [&](const QString& editorFile) {
    handed.push_back(test::readText(PathFromQt(editorFile)));
    if (fail) throw std::runtime_error("The archive is read-only.");
  };
  open(path, true);
  edit->show();
  typeAtEnd("second\n");
  ASSERT_TRUE(edit->Save1Click());
  EXPECT_EQ(handed, std::vector<std::string>{"first\nsecond\n"});
  EXPECT_FALSE(edit->Modified());

  fail = true;
  typeAtEnd("third\n");
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  EXPECT_FALSE(edit->Save1Click());
  EXPECT_TRUE(edit->Modified());
  EXPECT_EQ(dialogs->Messages().back(),
            "Quelt: The archive is read-only.\n\nThe edited text is kept in " + path + ".");
  EXPECT_TRUE(edit->isEnabled());

  // Yes tries again; when that fails too the window stays, with everything in it.
  dialogs->AnswerMessage(TMsgBoxResult::Yes);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  edit->close();
  EXPECT_TRUE(edit->isVisible());
  EXPECT_EQ(edit->Text(), "first\nsecond\nthird\n");

  // No closes; the copy is where the edits live now, so it stays.
  dialogs->AnswerMessage(TMsgBoxResult::No);
  edit->close();
  EXPECT_FALSE(edit->isVisible());
  EXPECT_EQ(test::readText(path), "first\nsecond\nthird\n");
  EXPECT_EQ(dialogs->log[dialogs->log.size() - 1].text, "Save changes to README.TXT?");
}

TEST_F(TextEditorTest, ClosingWithUnsavedChangesAsksYesNoOrCancel) {
  struct TCase {
    TMsgBoxResult answer;
    bool closes, savedBack;
  } cases[] = {{TMsgBoxResult::Yes, true, true},
               {TMsgBoxResult::No, true, false},
               {TMsgBoxResult::Cancel, false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.answer));
    const std::string path = file("NOTES.TXT", "text\n");
    int savedBack = 0;
    edit->SaveBack = [&](const QString&) { ++savedBack; };
    open(path, true);
    edit->show();
    typeAtEnd("edited\n");
    dialogs->AnswerMessage(c.answer);
    edit->close();
    const test::TPrompt& asked = dialogs->log.back();
    EXPECT_EQ(asked.caption + ": " + asked.text, "Changes: Save changes to NOTES.TXT?");
    EXPECT_EQ(asked.buttons, TMsgBoxButtons::YesNoCancel);
    EXPECT_EQ(asked.icon, TMsgBoxIcon::Question);
    EXPECT_EQ(!edit->isVisible(), c.closes);
    EXPECT_EQ(savedBack, c.savedBack ? 1 : 0);
    EXPECT_EQ(test::fileExists(path), !c.closes);
    if (!c.closes) {
      EXPECT_EQ(edit->Text(), "text\nedited\n");
      dialogs->AnswerMessage(TMsgBoxResult::No);
      edit->close();
    }
    EXPECT_EQ(edit->windowTitle(), "Quelt Edit");
  }

  // Unchanged: nothing is asked. A file the user had is never deleted.
  const std::string users = file("mine.txt", "text\n");
  QTimer::singleShot(0, edit.get(), [this] { edit->close(); });
  edit->Execute(PathToQt(users), false);
  EXPECT_TRUE(test::fileExists(users));
  const std::string copy = file("COPY.TXT", "text\n");
  QTimer::singleShot(0, edit.get(), [this] { edit->close(); });
  edit->Execute(PathToQt(copy), true);
  EXPECT_FALSE(test::fileExists(copy));
}

TEST_F(TextEditorTest, FindAndFindNext) {
  open(file("find.txt", "One two one\nsomeone One\nend\n"));
  TFindDialog* find = edit->FindDialog();
  struct TCase {
    const char* what;
    bool wholeWord, matchCase, down;
    std::vector<int> hits;  // where each Find Next lands, from the start or the end
  } cases[] = {
      {"any case", false, false, true, {0, 8, 16, 20}},
      {"whole words", true, false, true, {0, 8, 20}},
      {"matching case", false, true, true, {8, 16}},
      {"upwards", true, false, false, {20, 8, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    edit->Editor()->moveCursor(c.down ? QTextCursor::Start : QTextCursor::End);
    find->SetFindText("one");
    find->SetOptions(c.wholeWord, c.matchCase, c.down);
    find->show();
    for (int hit : c.hits) {
      edit->Command("FindNext1")->trigger();
      EXPECT_EQ(selectionStart(), hit);
      EXPECT_EQ(selection().toLower(), "one");
    }
    // Nothing more: the dialog closes, quietly, and the last match stays selected.
    edit->Command("FindNext1")->trigger();
    EXPECT_FALSE(find->isVisible());
    EXPECT_EQ(selectionStart(), c.hits.back());
  }
  find->SetFindText("");
  edit->Command("FindNext1")->trigger();
  EXPECT_TRUE(find->isVisible()) << "with nothing to find, Find Next asks what";
}

TEST_F(TextEditorTest, ReplaceAndReplaceAll) {
  struct TCase {
    const char* text;
    const char *find, *with;
    bool wholeWord, all;
    const char* result;
  } cases[] = {
      {"> cat concat cat\ncat", "cat", "dog", true, true, "> dog concat dog\ndog"},
      {"> cat concat cat\ncat", "cat", "dog", false, true, "> dog condog dog\ndog"},
      {"> cat concat cat\ncat", "CAT", "dog", true, false, "> dog concat cat\ncat"},
      {"> a ba a", "a", "aa", false, true, "> aa baa aa"},
      {"> nothing here", "cat", "dog", false, true, "> nothing here"},
  };
  TReplaceDialog* replace = edit->ReplaceDialog();
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.find) + (c.all ? " all" : " once"));
    open(file("r.txt", c.text));
    // A selection that is not the text is left alone.
    edit->Editor()->moveCursor(QTextCursor::Start);
    edit->Editor()->moveCursor(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    replace->SetFindText(c.find);
    replace->SetReplaceText(c.with);
    replace->SetOptions(c.wholeWord, false);
    edit->Command("Replace1")->trigger();
    ASSERT_TRUE(replace->isVisible());
    replace->findChild<QPushButton*>(c.all ? "ReplaceAllButton" : "ReplaceButton")->click();
    EXPECT_EQ(edit->Text(), c.result);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(replace->isVisible(), !c.all) << "Replace All closes the dialog when done";
    // Replace All is one step for Undo.
    edit->Editor()->undo();
    EXPECT_EQ(edit->Text(), c.text);
    replace->hide();
  }
}

TEST_F(TextEditorTest, GoToLineMovesTheCaretAndRemembersTheNumber) {
  open(file("lines.txt", "1\n2\n3 three\n4\n5"));
  struct TCase {
    int asked;
    TTextPos caret;
  } cases[] = {{3, {2, 0}}, {1, {0, 0}}, {99, {4, 0}}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.asked);
    edit->SetCaret({1, 1});
    onModal([&](QDialog* d) {
      d->findChild<QSpinBox*>("SpinEdit1")->setValue(c.asked);
      click(d, "OKBtn");
    });
    edit->Command("GoToLine1")->trigger();
    EXPECT_EQ(edit->Caret(), c.caret);
    EXPECT_EQ(edit->StatusText(3), QString("%1,1").arg(c.caret.line + 1));
    EXPECT_EQ(stored(kEditorKey, "GotoLine"), std::to_string(c.asked));
  }
  onModal([](QDialog* d) {
    d->findChild<QSpinBox*>("SpinEdit1")->setValue(2);
    click(d, "CancelBtn");
  });
  edit->Command("GoToLine1")->trigger();
  EXPECT_EQ(edit->Caret(), (TTextPos{4, 0}));
  EXPECT_EQ(stored(kEditorKey, "GotoLine"), "99") << "kept on OK only";
}

TEST_F(TextEditorTest, BookmarksAreKeptUnderTheirOwnNames) {
  const std::string path = file("marks.txt", "zero\none\ntwo 2 two\nthree\n");
  open(path);
  edit->SetCaret({2, 4});
  onModal([](QDialog* d) {
    EXPECT_FALSE(d->findChild<QPushButton*>("Button4")->isEnabled());
    d->findChild<QCheckBox*>("CheckBox4")->click();
    d->findChild<QLineEdit*>("Edit4")->setText("the two");
    EXPECT_TRUE(d->findChild<QPushButton*>("Button4")->isEnabled());
    click(d, "CloseBtn");
  });
  edit->Command("Bookmarks1")->trigger();
  EXPECT_EQ(edit->Caret(), (TTextPos{2, 4}));
  EXPECT_EQ(stored(kEditorKey, "BM4Checked"), "1");
  EXPECT_EQ(stored(kEditorKey, "BM4Text"), "the two");
  EXPECT_EQ(stored(kEditorKey, "BM4Line"), "2");
  EXPECT_EQ(stored(kEditorKey, "BM4Col"), "4");
  EXPECT_EQ(stored(kEditorKey, "BM4Check"), std::nullopt);
  EXPECT_EQ(stored(kEditorKey, "BM1Check"), "0");

  restart();
  open(path);
  EXPECT_EQ(edit->Caret(), (TTextPos{0, 0}));
  onModal([](QDialog* d) {
    EXPECT_TRUE(d->findChild<QCheckBox*>("CheckBox4")->isChecked());
    EXPECT_EQ(d->findChild<QLineEdit*>("Edit4")->text(), "the two");
    // A row never marked has nowhere to go.
    EXPECT_FALSE(d->findChild<QPushButton*>("Button1")->isEnabled());
    click(d, "Button4");
  });
  edit->Command("Bookmarks1")->trigger();
  EXPECT_EQ(edit->Caret(), (TTextPos{2, 4}));
  EXPECT_EQ(edit->StatusText(3), "3,5");
}

TEST_F(TextEditorTest, HtmlFilesGetQuotesAndTagsInBlue) {
  const char* text = "plain <a\nhref=\"x y\">words</a> \"quoted\"";
  for (const char* name : {"PAGE.HTM", "page.html", "notes.txt"}) {
    SCOPED_TRACE(name);
    open(file(name, text));
    const bool html = QString(name).toUpper().contains("HTM");
    EXPECT_EQ(edit->Highlighting(), html);
    auto blueAt = [&](int block, int column) {
      QTextBlock b = edit->Editor()->document()->findBlockByNumber(block);
      for (const QTextLayout::FormatRange& r : b.layout()->formats())
        if (column >= r.start && column < r.start + r.length)
          return r.format.foreground().color() == Qt::blue;
      return false;
    };
    EXPECT_EQ(blueAt(0, 7), html) << "a tag";
    EXPECT_EQ(blueAt(1, 1), html) << "a tag going on in the next line";
    EXPECT_EQ(blueAt(1, 24), html) << "a quote";
    EXPECT_FALSE(blueAt(0, 2)) << "plain text";
    EXPECT_FALSE(blueAt(1, 12)) << "between tags";
  }
}

TEST_F(TextEditorTest, FileInfoShowsTheCopyOrNotSaved) {
  const std::string path = file(std::string(120, 'n') + ".txt", "hello");
  open(path);
  onModal([&](QDialog* d) {
    auto* info = static_cast<TInfoTextFrm*>(d);
    EXPECT_EQ(info->Value(TInfoTextFrm::fnName), PathToQt(path));
    EXPECT_EQ(info->Value(TInfoTextFrm::fnPath), PathToQt(dir.path()));
    EXPECT_EQ(info->Value(TInfoTextFrm::fnExtension), " .txt");
    EXPECT_EQ(info->Value(TInfoTextFrm::fnSize), "5 bytes");
    EXPECT_FALSE(info->Value(TInfoTextFrm::fnDate).isEmpty());
    // The long name is shortened in its middle to fit.
    const QString shown = info->Shown(TInfoTextFrm::fnName);
    EXPECT_LT(shown.size(), PathToQt(path).size());
    EXPECT_TRUE(shown.startsWith("/") && shown.endsWith(".txt")) << TextFromQt(shown);
    click(d, "OKBtn");
  });
  edit->Command("FileInfo1")->trigger();

  edit->InfoDialog()->ShowFile("Untitled");
  for (int f = 0; f < TInfoTextFrm::fnCount; ++f)
    EXPECT_EQ(edit->InfoDialog()->Value(TInfoTextFrm::TField(f)), "<Not saved>");
}

TEST_F(TextEditorTest, PrintsEveryLineToThePrinterChosen) {
  if (!test::haveTool("pdftotext")) GTEST_SKIP() << "poppler-utils is not installed";
  QStringList lines;
  for (int i = 1; i <= 150; ++i)
    lines << QString("Line %1 of the text that goes to the printer").arg(i, 3, 10, QChar('0'));
  open(file("long.txt", TextFromQt(lines.join('\n') + '\n')));
  edit->Editor()->setFont(QFont("DejaVu Sans Mono", 10));

  TPrintSpec setup;
  setup.paper = "A4";
  dialogs->AnswerPrinterSetup(setup);
  edit->Command("PrintSetup1")->trigger();
  TPrintSpec run = setup;
  run.outputFile = dir / "out.pdf";
  dialogs->AnswerPrint(run);
  edit->Command("Print1")->trigger();
  EXPECT_EQ(dialogs->log.back().print.paper, "A4") << "the print dialog starts from the set-up";

  auto info = test::run("pdfinfo " + test::shq(dir / "out.pdf"));
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Pages:           3\n"), std::string::npos) << info.out;
  auto text = test::run("pdftotext -layout " + test::shq(dir / "out.pdf") + " -");
  ASSERT_EQ(text.status, 0) << text.err;
  QStringList printed;
  for (QString l : TextToQt(text.out).split('\n')) {
    l = l.trimmed().remove('\f');
    if (!l.isEmpty()) printed << l;
  }
  EXPECT_EQ(TextFromQt(printed.join('\n')), TextFromQt(lines.join('\n')));

  // Cancelled: nothing printed. A printer that cannot be used says so.
  dialogs->AnswerPrint(std::nullopt);
  edit->Command("Print1")->trigger();
  run.outputFile = dir / "no such folder/out.pdf";
  dialogs->AnswerPrint(run);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  edit->Command("Print1")->trigger();
  EXPECT_EQ(dialogs->Messages().back(), "Quelt: The printer cannot be used; nothing was printed.");
}

TEST_F(TextEditorTest, WindowSizeWrapFontAndSearchTextsAreRemembered) {
  edit->resize(700, 520);
  edit->Command("WordWrap1")->trigger();
  EXPECT_EQ(edit->Editor()->lineWrapMode(), QPlainTextEdit::NoWrap);
  TFontSpec font{"DejaVu Sans Mono", 13};
  dialogs->AnswerFont(font);
  edit->Command("Font1")->trigger();
  edit->FindDialog()->SetFindText("needle");
  edit->ReplaceDialog()->SetFindText("old");
  edit->ReplaceDialog()->SetReplaceText("new");
  restart();
  EXPECT_EQ(stored(kQueltKey, "TextEditorWordWrap"), "0");
  EXPECT_EQ(stored(kQueltKey, "TextEditorFindText"), "needle");
  EXPECT_EQ(stored(kQueltKey, "TextEditorReplaceFindText"), "old");
  EXPECT_EQ(stored(kQueltKey, "TextEditorReplaceReplaceText"), "new");
  EXPECT_EQ(stored(kQueltKey, "TextEditorWidth"), "700");
  EXPECT_EQ(stored(kQueltKey, "TextEditorHeight"), "520");
  EXPECT_EQ(edit->Editor()->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_FALSE(edit->Command("WordWrap1")->isChecked());
  EXPECT_EQ(edit->Editor()->font().family(), "DejaVu Sans Mono");
  EXPECT_EQ(edit->Editor()->font().pointSize(), 13);
  EXPECT_EQ(edit->FindDialog()->FindText(), "needle");
  EXPECT_EQ(edit->size(), QSize(700, 520));
}

TEST_F(TextEditorTest, StatusBarShowsTheCaretAndTheLockKeys) {
  open(file("s.txt", "ab\ncd"));
  edit->SetCaret({1, 2});
  EXPECT_EQ(edit->StatusText(3), "2,3");
  edit->Timer1Timer();
  EXPECT_EQ(edit->StatusText(1), "") << "unknown lock states stay blank";
  edit->LockKeys = [] { return TLockKeys{true, false}; };
  edit->Timer1Timer();
  EXPECT_EQ(edit->StatusText(1), "NUM");
  EXPECT_EQ(edit->StatusText(2), "");
}

TEST_F(TextEditorTest, SendMailsTheArchiveNotTheText) {
  test::TFakeMailSystem mail;
  edit->SetMailSystem(mail);
  open(file("s.txt", "text"));
  emit edit->findChild<QMenu*>("File1")->aboutToShow();
  EXPECT_FALSE(edit->Command("Send1")->isEnabled()) << "no archive, nothing to send";

  const std::string archive = dir / "letters.zip";
  edit->ArchiveFile = PathToQt(archive);
  emit edit->findChild<QMenu*>("File1")->aboutToShow();
  ASSERT_TRUE(edit->Command("Send1")->isEnabled());
  edit->Command("Send1")->trigger();
  edit->Command("Send1")->trigger();
  ASSERT_EQ(mail.sent.size(), 2u);
  for (const auto& sent : mail.sent) {
    ASSERT_EQ(sent.note.attachments.size(), 1u);
    EXPECT_EQ(sent.note.attachments[0].path, archive);
    // One line of blanks for the attachment, however often the window sent.
    EXPECT_EQ(sent.note.noteText, " \r\n");
    EXPECT_EQ(sent.flags, kMailLogonUi | kMailDialog) << "the user reviews the message";
  }
  EXPECT_EQ(mail.logons.size(), 1u) << "the session is kept";

  // Closing the message unsent is no error; a failure is told.
  mail.sendAnswers = {TMailStatus{kMailUserAbort, ""}, TMailStatus{kMailAttachmentNotFound, ""}};
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  edit->Command("Send1")->trigger();
  edit->Command("Send1")->trigger();
  ASSERT_EQ(dialogs->Messages().size(), 1u);
  EXPECT_EQ(dialogs->Messages()[0].rfind("Quelt: MAPI: Attachment Not Found. ErrorCode = 11", 0),
            0u)
      << dialogs->Messages()[0];
}

}  // namespace
}  // namespace quelt
