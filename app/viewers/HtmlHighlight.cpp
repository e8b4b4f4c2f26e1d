#include "app/viewers/HtmlHighlight.h"

#include <QTextCharFormat>

namespace quelt {

namespace {

// The block state carries both rules from one line into the next.
constexpr int kInQuote = 1, kInTag = 2;

}  // namespace

void THtmlHighlighter::highlightBlock(const QString& text) {
  const int previous = previousBlockState();
  bool inQuote = previous > 0 && (previous & kInQuote);
  bool inTag = previous > 0 && (previous & kInTag);
  QTextCharFormat marked;
  marked.setForeground(Qt::blue);
  marked.setBackground(Qt::white);

  qsizetype runStart = -1;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    bool mark = inQuote || inTag;
    // The delimiters belong to what they enclose.
    if (c == '"') {
      inQuote = !inQuote;
      mark = true;
    }
    if (c == '<' && !inTag) {
      inTag = true;
      mark = true;
    } else if (c == '>' && inTag) {
      inTag = false;
      mark = true;
    }
    if (mark && runStart < 0) runStart = i;
    if (!mark && runStart >= 0) {
      setFormat(int(runStart), int(i - runStart), marked);
      runStart = -1;
    }
  }
  if (runStart >= 0) setFormat(int(runStart), int(text.size() - runStart), marked);
  setCurrentBlockState((inQuote ? kInQuote : 0) | (inTag ? kInTag : 0));
}

}  // namespace quelt
