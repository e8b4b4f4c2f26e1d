// "Select Folder": a folder tree with the chosen folder's path above it. The Add, Extract
// and Preferences dialogs reach it through the desktop's dialog interface.
#pragma once

#include <QDialog>
#include <QLabel>

#include "app/dialogs/FolderTree.h"

namespace quelt {

class TBrowseFolderDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TBrowseFolderDlg(QWidget* parent);

  // Where the tree starts; a folder that does not exist starts it at the home folder.
  void SetStartFolder(const QString& path);
  // The folder of the last OK; it stays until the next one.
  const QString& SelectedFolder() const { return selected_; }
  TFolderTree* Tree() const { return tree_; }
  QString Label() const { return label_->text(); }

  void accept() override;

 private:
  TFolderTree* tree_;
  QLabel* label_;
  QString selected_;
};

}  // namespace quelt
