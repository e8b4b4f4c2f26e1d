// Marks what lies between double quotes and between "<" and ">" in blue on white, across line
// ends, as the editor does for HTML files.
#pragma once

#include <QSyntaxHighlighter>

namespace quelt {

class THtmlHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  explicit THtmlHighlighter(QObject* parent) : QSyntaxHighlighter(parent) {}

 protected:
  void highlightBlock(const QString& text) override;
};

}  // namespace quelt
