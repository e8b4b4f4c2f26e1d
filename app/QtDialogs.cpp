#include "app/QtDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QUrl>
#include <algorithm>

#include "app/QtPrinter.h"
#include "app/QtText.h"

namespace quelt {

QString QtFileFilter(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns;
    for (QString pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      pattern = pattern.trimmed();
      if (pattern == "*.*") pattern = "*";
      for (const QString& variant : {pattern, pattern.toLower(), pattern.toUpper()})
        if (!patterns.contains(variant)) patterns << variant;
    }
    // The description usually names its patterns already; Qt reads them from the last
    // parenthesised group, so that group is replaced by the full list.
    if (description.endsWith(')')) {
      int open = description.lastIndexOf('(');
      if (open > 0) description = description.left(open).trimmed();
    }
    out << description + " (" + patterns.join(' ') + ")";
  }
  return out.join(";;");
}

void TQtDialogs::SetOwner(QWidget* owner) {
  owner_ = owner;
  if (!browser_ && owner) browser_ = new TBrowseFolderDlg(owner);
}

QWidget* TQtDialogs::parent() const {
  if (QWidget* active = QApplication::activeWindow()) return active;
  return owner_.data();
}

TMsgBoxResult TQtDialogs::MessageBox(const std::string& text, const std::string& caption,
                                     TMsgBoxIcon icon, TMsgBoxButtons buttons) {
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
    case TMsgBoxIcon::None:
      break;
    case TMsgBoxIcon::Information:
      qicon = QMessageBox::Information;
      break;
    case TMsgBoxIcon::Warning:
      qicon = QMessageBox::Warning;
      break;
    case TMsgBoxIcon::Error:
      qicon = QMessageBox::Critical;
      break;
    case TMsgBoxIcon::Question:
      qicon = QMessageBox::Question;
      break;
  }
  QMessageBox::StandardButtons set = QMessageBox::Ok;
  QMessageBox::StandardButton escape = QMessageBox::Ok;
  switch (buttons) {
    case TMsgBoxButtons::OK:
      break;
    case TMsgBoxButtons::OKCancel:
      set = QMessageBox::Ok | QMessageBox::Cancel;
      escape = QMessageBox::Cancel;
      break;
    case TMsgBoxButtons::YesNo:
      set = QMessageBox::Yes | QMessageBox::No;
      escape = QMessageBox::No;
      break;
    case TMsgBoxButtons::YesNoCancel:
      set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      escape = QMessageBox::Cancel;
      break;
  }
  QMessageBox box(qicon, QString::fromStdString(caption), QString::fromStdString(text), set,
                  parent());
  box.setEscapeButton(escape);
  box.exec();
  // Closing the box by its title bar or Escape counts as the escape button.
  QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
  if (pressed == QMessageBox::NoButton) pressed = escape;
  switch (pressed) {
    case QMessageBox::Yes: return TMsgBoxResult::Yes;
    case QMessageBox::No: return TMsgBoxResult::No;
    case QMessageBox::Cancel: return TMsgBoxResult::Cancel;
    default: return TMsgBoxResult::OK;
  }
}

std::optional<std::string> TQtDialogs::runFileDialog(const TFileDialogSpec& spec, bool save) {
  QFileDialog dialog(parent(), QString::fromStdString(spec.title), PathToQt(spec.initialDir),
                     QtFileFilter(spec.filter));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!spec.defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(spec.defaultExt));
  if (save && !spec.askReplace) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!spec.fileName.empty()) dialog.selectFile(PathToQt(spec.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return PathFromQt(dialog.selectedFiles().first());
}

std::optional<std::string> TQtDialogs::OpenFile(const TFileDialogSpec& spec) {
  return runFileDialog(spec, false);
}

std::optional<std::string> TQtDialogs::OpenProgram(const TFileDialogSpec& spec) {
  QFileDialog dialog(parent(), QString::fromStdString(spec.title), PathToQt(spec.initialDir));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // The desktop's own dialog knows no filter by permission; Qt's does.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDot);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return PathFromQt(dialog.selectedFiles().first());
}

std::optional<std::string> TQtDialogs::SaveFile(const TFileDialogSpec& spec) {
  return runFileDialog(spec, true);
}

std::optional<TFontSpec> TQtDialogs::ChooseFont(const TFontSpec& initial, bool) {
  // Qt's font dialog always offers the style; the caller keeps only what it asked for.
  bool ok = false;
  QFont chosen = QFontDialog::getFont(&ok, FontFromSpec(initial), parent(), "Font");
  if (!ok) return std::nullopt;
  return SpecFromFont(chosen);
}

std::optional<std::string> TQtDialogs::BrowseFolder(const std::string& title,
                                                    const std::string& startDir) {
  if (!browser_) browser_ = new TBrowseFolderDlg(owner_.data());
  if (!title.empty()) browser_->setWindowTitle(QString::fromStdString(title));
  browser_->SetStartFolder(PathToQt(startDir));
  if (browser_->exec() != QDialog::Accepted) return std::nullopt;
  return PathFromQt(browser_->SelectedFolder());
}

std::optional<std::string> TQtDialogs::InputQuery(const std::string& caption,
                                                  const std::string& prompt,
                                                  const std::string& initial) {
  QInputDialog dialog(parent());
  dialog.setWindowTitle(QString::fromStdString(caption));
  dialog.setLabelText(QString::fromStdString(prompt));
  dialog.setTextValue(QString::fromStdString(initial));
  dialog.setInputMode(QInputDialog::TextInput);
  // Prompts here are paths, often longer than the box's own width.
  const QFontMetrics metrics = dialog.fontMetrics();
  if (auto* edit = dialog.findChild<QLineEdit*>())
    edit->setMinimumWidth(std::min(
        std::max(metrics.averageCharWidth() * 48, metrics.horizontalAdvance(dialog.labelText())),
        metrics.averageCharWidth() * 120));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return TextFromQt(dialog.textValue());
}

void TQtDialogs::ShowAbout(const TAboutSpec& about) {
  QString text = "<h3>" + QString::fromStdString(about.productName).toHtmlEscaped() + "</h3><p>" +
                 QString::fromStdString(about.description).toHtmlEscaped() + "</p><p>" +
                 QString::fromStdString(about.version).toHtmlEscaped() + "</p>";
  QMessageBox::about(parent(), QString::fromStdString(about.title), text);
}

bool TQtDialogs::ShellOpen(const std::string& target) {
  QString text = QString::fromStdString(target);
  QUrl url = text.contains("://") ? QUrl(text) : QUrl::fromLocalFile(PathToQt(target));
  return QDesktopServices::openUrl(url);
}

bool TQtDialogs::runPrintDialog(TPrintSpec& spec, bool setup) {
  QPrinter printer;
  ApplyPrintSpec(spec, printer);
  QPrintDialog dialog(&printer, parent());
  if (setup) {
    // The same dialog chooses the printer and its paper; here it only remembers them.
    dialog.setWindowTitle("Print Setup");
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    if (auto* box = dialog.findChild<QDialogButtonBox*>())
      for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole) button->setText("OK");
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  spec = PrintSpecOf(printer);
  return true;
}

bool TQtDialogs::PrinterSetup(TPrintSpec& spec) {
  return runPrintDialog(spec, true);
}

bool TQtDialogs::PrintDialog(TPrintSpec& spec) {
  return runPrintDialog(spec, false);
}

}  // namespace quelt
