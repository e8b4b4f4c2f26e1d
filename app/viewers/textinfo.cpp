#include "app/viewers/textinfo.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/CatalogueModel.h"

namespace quelt {

namespace {

const char* const kCaptions[] = {
    "Filename:", "File Path:", "File Extension:", "File Date:", "File Size:"};
const char* const kNames[] = {"FileName", "FilePath", "FileExt", "FileDate", "FileSize"};

}  // namespace

TInfoTextFrm::TInfoTextFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("InfoTextFrm");
  setWindowTitle("File Info");
  auto* form = new QFormLayout;
  for (int f = 0; f < fnCount; ++f) {
    auto* value = new QLabel;
    value->setObjectName(kNames[f]);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The paths are shortened to the room there is, so they must not ask for more.
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    values_[size_t(f)] = value;
    form->addRow(kCaptions[f], value);
  }
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("OKBtn");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addWidget(buttons);
  setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}

void TInfoTextFrm::ShowFile(const QString& file) {
  if (file.isEmpty() || file == "Untitled") {
    full_.fill("<Not saved>");
  } else {
    QFileInfo info(file);
    const QLocale locale;
    full_[fnName] = QDir::toNativeSeparators(info.absoluteFilePath());
    full_[fnPath] = QDir::toNativeSeparators(info.absolutePath());
    full_[fnExtension] = " " + (info.suffix().isEmpty() ? QString() : "." + info.suffix());
    const QDateTime modified = info.lastModified();
    full_[fnDate] = locale.toString(modified.date(), QLocale::ShortFormat) + " " +
                    locale.toString(modified.time(), LongTimeFormatWithoutZone(locale));
    full_[fnSize] = QString::number(info.size()) + " bytes";
  }
  for (int f = 0; f < fnCount; ++f) values_[size_t(f)]->setToolTip(full_[size_t(f)]);
  fit();
}

void TInfoTextFrm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  fit();
}

void TInfoTextFrm::fit() {
  for (int f = 0; f < fnCount; ++f) {
    QLabel* value = values_[size_t(f)];
    const QString& text = full_[size_t(f)];
    if (f == fnName || f == fnPath) {
      // Long paths lose their middle, where the folders least worth reading are.
      const int room = std::max(0, value->contentsRect().width() - 2);
      value->setText(value->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
    } else {
      value->setText(text);
    }
  }
}

}  // namespace quelt
