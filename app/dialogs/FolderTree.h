// The folder tree of the Add, Extract and folder-browser dialogs: the file system's folders
// from "/" down, one of them current.
#pragma once

#include <QFileSystemModel>
#include <QTreeView>

namespace quelt {

class TFolderTree : public QTreeView {
  Q_OBJECT

 public:
  TFolderTree(const QString& name, QWidget* parent);

  // The current folder's path; empty when none is current.
  QString Folder() const;
  // Makes the folder current, opening the branches above it; false when it is no folder.
  bool SetFolder(const QString& path);
  // Creates a folder under the current one, makes it current and opens its name for
  // editing. Its path, or empty when it could not be made.
  QString NewFolder();

 signals:
  void FolderChanged(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Brings the current folder into view, once its branch is read and the tree has a size.
  void showCurrent();

  QFileSystemModel model_;
  // The folder last made current: the model may drop and rebuild rows while it reads folders
  // in the background, and the user's choice must outlive that.
  QString folder_;
};

}  // namespace quelt
