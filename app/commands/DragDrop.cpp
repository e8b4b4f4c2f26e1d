#include "app/commands/DragDrop.h"

#include <stdlib.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeView>
#include <QUrl>
#include <memory>

#include "app/QtText.h"
#include "app/commands/TempExtract.h"
#include "app/dialogs/AddForm.h"
#include "app/dialogs/DDrop.h"
#include "app/mainunit.h"
#include "platform/TempFolder.h"

namespace quelt {

namespace {

QStringList localPaths(const QMimeData* data) {
  QStringList paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

void reportErrors(TMainform& form, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    form.Dialogs().MessageBox(e.what(), "Quelt", TMsgBoxIcon::Error, TMsgBoxButtons::OK);
  }
}

// A new folder of this user's below the temporary folder, for one drag's files.
QString newDragFolder(TMainform& form) {
  std::string temp = PathFromQt(form.TempFolder());
  while (temp.size() > 1 && temp.back() == '/') temp.pop_back();
  PrepareTempFolder(temp);
  std::string pattern = temp + "/drag-XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("Cannot make a folder in " + temp + " for the dragged files");
  return PathToQt(pattern);
}

}  // namespace

TDragDrop& DropDialog(TMainform& form) {
  if (auto* dialog = form.findChild<TDragDrop*>("DragDrop", Qt::FindDirectChildrenOnly))
    return *dialog;
  return *new TDragDrop(&form, form.Settings());
}

void DropFilesCommand(TMainform& form, const QStringList& paths) {
  if (paths.isEmpty()) return;
  TDragDrop& dialog = DropDialog(form);
  dialog.Prepare(!form.CurrentArchive().isEmpty());
  form.Modal().Run(dialog);
  // Kept at once: the next drop, and the next run, start from this answer.
  dialog.SaveChoice();
  switch (dialog.Choice()) {
    case TDragDrop::OpenFirst:
      form.SetCurrentArchive(paths.first());
      form.ForgetArchiveSecrets();
      form.OpenIT();
      break;
    case TDragDrop::AddSelected:
      form.AddDialog().AddPaths(paths);
      form.AddButClick();
      break;
    case TDragDrop::Ignore:
      break;
  }
}

std::unique_ptr<QMimeData> DragOutData(TMainform& form) {
  TZipEngine& engine = form.Engine();
  std::vector<int> files;
  for (int row : form.SelectedRows())
    if (row < engine.Count() && !engine.Filename(row).empty()) files.push_back(row);
  if (files.empty()) return nullptr;
  const QStringList written = ExtractEntriesTo(form, files, newDragFolder(form));
  if (written.isEmpty()) return nullptr;
  QList<QUrl> urls;
  for (const QString& path : written) urls << QUrl::fromLocalFile(path);
  auto data = std::make_unique<QMimeData>();
  data->setUrls(urls);
  return data;
}

TDragDropWiring::TDragDropWiring(TMainform& form) : QObject(&form), form_(form) {
  setObjectName("DragSource1");
  ExecDrag = [](QDrag& drag) {
    return drag.exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
  };
  form.setAcceptDrops(true);
  form.installEventFilter(this);
  form.ListView()->viewport()->installEventFilter(this);
}

bool TDragDropWiring::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &form_) return windowEvent(event);
  if (watched == form_.ListView()->viewport()) return listingEvent(event);
  return false;
}

bool TDragDropWiring::windowEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      // Our own entries dropped back on us are no files from another program.
      if (drag->source() == nullptr && !dragging_ && !localPaths(drag->mimeData()).isEmpty() &&
          !form_.Busy())
        drag->acceptProposedAction();
      else
        drag->ignore();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (drop->source() != nullptr || dragging_ || form_.Busy()) {
        drop->ignore();
        return true;
      }
      const QStringList paths = localPaths(drop->mimeData());
      drop->acceptProposedAction();
      // The question waits until the other program has finished its drag.
      QMetaObject::invokeMethod(
          &form_, [this, paths] { reportErrors(form_, [&] { DropFilesCommand(form_, paths); }); },
          Qt::QueuedConnection);
      return true;
    }
    default:
      return false;
  }
}

bool TDragDropWiring::listingEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      armed_ = mouse->button() == Qt::LeftButton && !(mouse->modifiers() & Qt::ShiftModifier) &&
               form_.ListView()->indexAt(mouse->position().toPoint()).isValid();
      pressedAt_ = mouse->position().toPoint();
      return false;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (!armed_ || !(mouse->buttons() & Qt::LeftButton)) return false;
      // Shift held: the user is extending the selection.
      if (mouse->modifiers() & Qt::ShiftModifier) {
        armed_ = false;
        return false;
      }
      if ((mouse->position().toPoint() - pressedAt_).manhattanLength() <
          QApplication::startDragDistance())
        return true;
      armed_ = false;
      startDrag();
      return true;
    }
    case QEvent::MouseButtonRelease:
      armed_ = false;
      return false;
    default:
      return false;
  }
}

void TDragDropWiring::startDrag() {
  if (form_.Busy() || form_.CurrentArchive().isEmpty()) return;
  reportErrors(form_, [this] {
    std::unique_ptr<QMimeData> data = DragOutData(form_);
    if (!data) return;
    auto* drag = new QDrag(form_.ListView());
    drag->setMimeData(data.release());
    dragging_ = true;
    struct TDragging {
      bool& flag;
      ~TDragging() { flag = false; }
    } dragging{dragging_};
    ExecDrag(*drag);
    drag->deleteLater();
  });
}

}  // namespace quelt
