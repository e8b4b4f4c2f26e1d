// Files dragged between the window and other programs: dropped files are opened or added
// after the "Confirm Action" question; selected entries are dragged out as files.
#pragma once

#include <QDrag>
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <functional>
#include <memory>

class QMimeData;

namespace quelt {

class TDragDrop;
class TMainform;

// The window's one "Confirm Action" dialog, made with the first drop.
TDragDrop& DropDialog(TMainform& form);

// Files dropped on the window: asks what to do and does it. The paths are taken whole.
void DropFilesCommand(TMainform& form, const QStringList& paths);

// The selected entries (folder entries aside) extracted for a drag: each below its stored
// folders in a new private folder of the temporary folder, so that two entries of one name
// stay two files. Nothing (null) when no file entry is selected.
std::unique_ptr<QMimeData> DragOutData(TMainform& form);

// Makes the window a drop target for files and its listing a drag source of entries.
class TDragDropWiring : public QObject {
  Q_OBJECT

 public:
  explicit TDragDropWiring(TMainform& form);

  // Runs the drag; the desktop's own drag unless a test puts another in place.
  std::function<Qt::DropAction(QDrag&)> ExecDrag;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool windowEvent(QEvent* event);
  bool listingEvent(QEvent* event);
  void startDrag();

  TMainform& form_;
  QPoint pressedAt_;
  bool armed_ = false;     // the left button went down without Shift over a row
  bool dragging_ = false;  // our own drag is under way: what it drops here is no file
};

}  // namespace quelt
