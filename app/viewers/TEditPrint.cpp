// The editor's printing: the text in the control's font, page after page.
#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>

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

  // Lines longer than the page wrap rather than run off its edge.
  QTextDocument doc;
  doc.setDocumentMargin(0);
  doc.setDefaultFont(RichEdit1->font());
  doc.setPlainText(Text());
  doc.documentLayout()->setPaintDevice(&printer);
  const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
  doc.setPageSize(page.size());

  const int pages = doc.pageCount();
  int first = 1, last = pages;
  if (spec.fromPage > 0 && spec.toPage >= spec.fromPage) {
    first = std::max(first, spec.fromPage);
    last = std::min(last, spec.toPage);
  }
  QAbstractTextDocumentLayout::PaintContext context;
  context.palette.setColor(QPalette::Text, Qt::black);
  for (int p = first; p <= last; ++p) {
    if (p > first && !printer.newPage()) break;
    const QRectF sheet(0, (p - 1) * page.height(), page.width(), page.height());
    painter.save();
    painter.translate(0, -sheet.top());
    painter.setClipRect(sheet);
    context.clip = sheet;
    doc.documentLayout()->draw(&painter, context);
    painter.restore();
  }
  if (!painter.end() || printer.printerState() == QPrinter::Error)
    throw EEditorError("The printer reported an error; the text may not have been printed.");
}

}  // namespace quelt
