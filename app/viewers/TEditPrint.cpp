// The editor's printing: the text in the control's font, page after page.
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QTextLayout>
#include <memory>
#include <vector>

#include "app/QtPrinter.h"
#include "app/WaitCursor.h"
#include "app/viewers/TEdit.h"

namespace quelt {

void TTextEdit::PrintSetup1Click() {
  TPrintSpec spec = printSpec_;
  if (dialogs_.PrinterSetup(spec)) printSpec_ = spec;
}

void TTextEdit::Print1Click() {
  TPrintSpec spec = printSpec_;
  if (!dialogs_.PrintDialog(spec)) return;
  // The printer, paper and layout stay chosen for the next run; the pages and the file do not.
  printSpec_ = spec;
  printSpec_.fromPage = printSpec_.toPage = 0;
  PrintText(spec);
}

void TTextEdit::PrintText(const TPrintSpec& spec) {
  TWaitCursor wait;
  QPrinter printer(QPrinter::HighResolution);
  ApplyPrintSpec(spec, printer);
  printer.setDocName(windowTitle());
  printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);

  QPainter painter;
  if (!painter.begin(&printer))
    throw EEditorError("The printer cannot be used; nothing was printed.");

  // Every line of the text is one printed line; one longer than the page goes on in the next
  // printed line rather than off the paper's edge.
  const QFont font(RichEdit1->font(), &printer);
  const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
  QTextOption wrap;
  wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  std::vector<std::unique_ptr<QTextLayout>> layouts;
  std::vector<QTextLine> rows;
  for (const QString& line : Text().split('\n')) {
    auto& layout = layouts.emplace_back(std::make_unique<QTextLayout>(line, font, &printer));
    layout->setTextOption(wrap);
    layout->beginLayout();
    for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
      row.setLineWidth(page.width());
      row.setPosition(QPointF(0, 0));
      rows.push_back(row);
    }
    layout->endLayout();
  }
  // The text ends with a line end more often than not; that makes no line of its own.
  if (rows.size() > 1 && layouts.back()->text().isEmpty()) rows.pop_back();

  const double height = QFontMetricsF(font, &printer).lineSpacing();
  const size_t perPage = std::max<size_t>(1, size_t(page.height() / height));
  const int pages = int((rows.size() + perPage - 1) / perPage);
  int first = 1, last = std::max(1, pages);
  if (spec.fromPage > 0 && spec.toPage >= spec.fromPage) {
    first = std::max(first, spec.fromPage);
    last = std::min(last, spec.toPage);
  }
  painter.setPen(Qt::black);
  for (int p = first; p <= last; ++p) {
    if (p > first && !printer.newPage()) break;
    const size_t begin = size_t(p - 1) * perPage;
    for (size_t i = begin; i < rows.size() && i < begin + perPage; ++i)
      rows[i].draw(&painter, QPointF(0, double(i - begin) * height));
  }
  if (!painter.end() || printer.printerState() == QPrinter::Error)
    throw EEditorError("The printer reported an error; the text may not have been printed.");
}

}  // namespace quelt
