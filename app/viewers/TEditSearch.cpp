// The editor's Find, Find Next and Replace.
#include <QTextCursor>
#include <QTextDocument>

#include "app/WaitCursor.h"
#include "app/viewers/TEdit.h"

namespace quelt {

void TTextEdit::Find1Click() {
  FindDialog1->show();
  FindDialog1->raise();
  FindDialog1->activateWindow();
}

void TTextEdit::FindNext1Click() {
  if (FindDialog1->FindText().isEmpty())
    Find1Click();
  else
    Search(false);
}

void TTextEdit::Replace1Click() {
  ReplaceDialog1->show();
  ReplaceDialog1->raise();
  ReplaceDialog1->activateWindow();
}

bool TTextEdit::Search(bool fromReplace) {
  if (fromReplace) {
    // The Replace dialog searches forward, with its own text and options.
    FindDialog1->SetFindText(ReplaceDialog1->FindText());
    FindDialog1->SetOptions(ReplaceDialog1->WholeWord(), ReplaceDialog1->MatchCase(), true);
  }
  const QString text = FindDialog1->FindText();
  if (text.isEmpty()) return false;
  QTextDocument::FindFlags flags;
  if (!FindDialog1->Down()) flags |= QTextDocument::FindBackward;
  if (FindDialog1->WholeWord()) flags |= QTextDocument::FindWholeWords;
  if (FindDialog1->MatchCase()) flags |= QTextDocument::FindCaseSensitively;
  if (!RichEdit1->find(text, flags)) {
    FindDialog1->hide();
    return false;
  }
  RichEdit1->ensureCursorVisible();
  return true;
}

void TTextEdit::ReplaceText(bool all) {
  const QString find = ReplaceDialog1->FindText();
  if (find.isEmpty()) return;
  const QString replacement = ReplaceDialog1->ReplaceText();
  // Find Next then goes on from here with the same text and options.
  FindDialog1->SetFindText(find);
  FindDialog1->SetOptions(ReplaceDialog1->WholeWord(), ReplaceDialog1->MatchCase(), true);
  QTextDocument::FindFlags flags;
  if (ReplaceDialog1->WholeWord()) flags |= QTextDocument::FindWholeWords;
  if (ReplaceDialog1->MatchCase()) flags |= QTextDocument::FindCaseSensitively;
  const Qt::CaseSensitivity cs =
      ReplaceDialog1->MatchCase() ? Qt::CaseSensitive : Qt::CaseInsensitive;

  TWaitCursor wait;
  setEnabled(false);
  RichEdit1->setUpdatesEnabled(false);
  // One cursor makes every change, so Replace All is one step for Undo.
  QTextCursor c = RichEdit1->textCursor();
  c.beginEditBlock();
  for (;;) {
    // A selection that is the text already (say, after Find Next) is replaced as it is.
    if (c.selectedText().compare(find, cs) != 0) {
      const QTextCursor hit = RichEdit1->document()->find(find, c, flags);
      if (hit.isNull()) {
        // Nothing more to replace; a selection that merely was there stays as it is.
        FindDialog1->hide();
        ReplaceDialog1->hide();
        break;
      }
      c.setPosition(hit.selectionStart());
      c.setPosition(hit.selectionEnd(), QTextCursor::KeepAnchor);
    }
    c.insertText(replacement);
    if (!all) break;
  }
  c.endEditBlock();
  RichEdit1->setTextCursor(c);
  setEnabled(true);
  RichEdit1->setUpdatesEnabled(true);
  RichEdit1->viewport()->update();
  RichEdit1->ensureCursorVisible();
}

}  // namespace quelt
