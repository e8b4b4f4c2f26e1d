#include "app/QtPrinter.h"

#include <QPageLayout>
#include <QPageSize>
#include <optional>

#include "app/QtText.h"

namespace quelt {

namespace {

// Page sizes go by their standard keys ("A4", "Letter"), which every printer driver knows.
std::optional<QPageSize::PageSizeId> pageSizeByKey(const std::string& key) {
  QString wanted = TextToQt(key);
  for (int id = 0; id <= int(QPageSize::LastPageSize); ++id) {
    auto size = QPageSize::PageSizeId(id);
    if (QPageSize::key(size).compare(wanted, Qt::CaseInsensitive) == 0) return size;
  }
  return std::nullopt;
}

}  // namespace

void ApplyPrintSpec(const TPrintSpec& spec, QPrinter& printer) {
  if (!spec.outputFile.empty()) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(PathToQt(spec.outputFile));
  } else {
    printer.setOutputFormat(QPrinter::NativeFormat);
    printer.setOutputFileName(QString());
    if (!spec.printerName.empty()) printer.setPrinterName(TextToQt(spec.printerName));
  }
  if (auto size = pageSizeByKey(spec.paper)) printer.setPageSize(QPageSize(*size));
  printer.setPageOrientation(spec.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  printer.setCopyCount(spec.copies > 0 ? spec.copies : 1);
  if (spec.fromPage > 0 && spec.toPage >= spec.fromPage) {
    printer.setPrintRange(QPrinter::PageRange);
    printer.setFromTo(spec.fromPage, spec.toPage);
  } else {
    printer.setPrintRange(QPrinter::AllPages);
    printer.setFromTo(0, 0);
  }
}

TPrintSpec PrintSpecOf(const QPrinter& printer) {
  TPrintSpec spec;
  if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
    spec.outputFile = PathFromQt(printer.outputFileName());
  else
    spec.printerName = TextFromQt(printer.printerName());
  spec.paper = TextFromQt(QPageSize::key(printer.pageLayout().pageSize().id()));
  spec.landscape = printer.pageLayout().orientation() == QPageLayout::Landscape;
  spec.copies = printer.copyCount();
  if (printer.printRange() == QPrinter::PageRange) {
    spec.fromPage = printer.fromPage();
    spec.toPage = printer.toPage();
  }
  return spec;
}

}  // namespace quelt
