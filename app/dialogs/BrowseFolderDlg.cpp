#include "app/dialogs/BrowseFolderDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelt {

TBrowseFolderDlg::TBrowseFolderDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("BrowseFolderDlg");
  setWindowTitle("Select Folder");
  label_ = new QLabel(this);
  label_->setObjectName("FolderLabel");
  label_->setTextFormat(Qt::PlainText);
  label_->setWordWrap(true);
  tree_ = new TFolderTree("FolderTree", this);
  connect(tree_, &TFolderTree::FolderChanged, label_, &QLabel::setText);
  auto* box = new QDialogButtonBox(this);
  QPushButton* ok = box->addButton("&OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("OKBut");
  ok->setDefault(true);
  box->addButton("&Cancel", QDialogButtonBox::RejectRole)->setObjectName("CancelBut");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  layout->addWidget(tree_, 1);
  layout->addWidget(box);
  resize(fontMetrics().averageCharWidth() * 64, fontMetrics().height() * 26);
}

void TBrowseFolderDlg::SetStartFolder(const QString& path) {
  if (!tree_->SetFolder(path) && tree_->Folder().isEmpty()) tree_->SetFolder(QDir::homePath());
  label_->setText(tree_->Folder());
}

void TBrowseFolderDlg::accept() {
  // Nothing chosen is no answer: OK stays pressed in vain rather than naming no folder.
  if (label_->text().isEmpty()) return;
  selected_ = label_->text();
  QDialog::accept();
}

}  // namespace quelt
