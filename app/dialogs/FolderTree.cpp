#include "app/dialogs/FolderTree.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>

namespace quelt {

TFolderTree::TFolderTree(const QString& name, QWidget* parent) : QTreeView(parent) {
  setObjectName(name);
  model_.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  // Writable, so a new folder's name can be edited in place.
  model_.setReadOnly(false);
  // Watched only while shown: a hidden tree that follows every write into a folder it shows
  // (an archive being built, say) slows that work for nothing.
  model_.setOption(QFileSystemModel::DontWatchForChanges, true);
  model_.setRootPath("/");
  setModel(&model_);
  for (int c = 1; c < model_.columnCount(); ++c) hideColumn(c);
  header()->hide();
  setEditTriggers(QAbstractItemView::EditKeyPressed);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Folders are read in the background; the current one may only now have its place.
  connect(&model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
    if (!currentIndex().isValid() && !folder_.isEmpty()) {
      QModelIndex again = model_.index(folder_);
      if (again.isValid()) setCurrentIndex(again);
    }
    const QString current = Folder();
    if (current == loaded || current.startsWith(loaded.endsWith('/') ? loaded : loaded + '/'))
      showCurrent();
  });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (!current.isValid()) return;
            folder_ = model_.filePath(current);
            emit FolderChanged(folder_);
          });
}

QString TFolderTree::Folder() const {
  QModelIndex current = currentIndex();
  return current.isValid() ? model_.filePath(current) : folder_;
}

bool TFolderTree::SetFolder(const QString& path) {
  QFileInfo info(path);
  if (path.isEmpty() || !info.isDir()) return false;
  QModelIndex index = model_.index(info.absoluteFilePath());
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  folder_ = info.absoluteFilePath();
  setCurrentIndex(index);
  showCurrent();
  return true;
}

void TFolderTree::showCurrent() {
  if (currentIndex().isValid()) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
}

void TFolderTree::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  model_.setOption(QFileSystemModel::DontWatchForChanges, false);
  showCurrent();
}

void TFolderTree::hideEvent(QHideEvent* event) {
  model_.setOption(QFileSystemModel::DontWatchForChanges, true);
  QTreeView::hideEvent(event);
}

QString TFolderTree::NewFolder() {
  QModelIndex parent = currentIndex();
  if (!parent.isValid()) return {};
  QDir folder(model_.filePath(parent));
  QString name = "New Folder";
  for (int n = 2; folder.exists(name); ++n) name = QString("New Folder (%1)").arg(n);
  QModelIndex made = model_.mkdir(parent, name);
  if (!made.isValid()) return {};
  expand(parent);
  setCurrentIndex(made);
  scrollTo(made);
  edit(made);
  return model_.filePath(made);
}

}  // namespace quelt
