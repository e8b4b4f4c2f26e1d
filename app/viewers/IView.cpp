#include "app/viewers/IView.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <algorithm>
#include <cmath>

#include "app/viewers/ModalWindow.h"
#include "app/viewers/PictureFile.h"

namespace quelt {

// ---- The picture area

TPictureArea::TPictureArea(QWidget* parent) : QWidget(parent) {
  setObjectName("Image1");
}

void TPictureArea::SetPicture(const QImage& picture) {
  picture_ = picture;
  reduced_ = QImage();
  resize(ShownSize());
  update();
}

void TPictureArea::SetZoom(double zoom) {
  zoom_ = zoom;
  reduced_ = QImage();
  resize(ShownSize());
  update();
}

QSize TPictureArea::ShownSize() const {
  if (picture_.isNull()) return QSize(0, 0);
  // A picture never shrinks to nothing, however far it is zoomed out.
  return QSize(std::max(1, int(std::lround(picture_.width() * zoom_))),
               std::max(1, int(std::lround(picture_.height() * zoom_))));
}

void TPictureArea::paintEvent(QPaintEvent* event) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  const QRect dirty = event->rect();
  if (zoom_ < 1.0) {
    // Reduced once and smoothly, so a large photograph stays readable and scrolls fast.
    if (reduced_.isNull()) {
      // Smoothing works on full colour; a huge picture first drops most of its pixels the
      // quick way, so the full-colour copy stays small.
      QImage start = picture_;
      if (start.width() > 2 * width() && start.height() > 2 * height())
        start = start.scaled(size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      reduced_ = start.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    painter.drawImage(dirty.topLeft(), reduced_, dirty);
    return;
  }
  // Enlarged pixels stay sharp squares; only the part being repainted is scaled.
  const QRect source =
      QRectF(dirty.x() / zoom_, dirty.y() / zoom_, dirty.width() / zoom_, dirty.height() / zoom_)
          .toAlignedRect()
          .adjusted(-1, -1, 1, 1)
          .intersected(picture_.rect());
  painter.scale(zoom_, zoom_);
  painter.drawImage(source.topLeft(), picture_, source);
}

// ---- The window

TImgView::TImgView(QWidget* parent) : QMainWindow(parent) {
  setObjectName("ImgView");
  setWindowTitle("Quelt ImageViewer");
  setAttribute(Qt::WA_DeleteOnClose, false);

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName("ScrollBox1");
  scroll_->setBackgroundRole(QPalette::Button);
  scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  scroll_->setWidgetResizable(false);
  area_ = new TPictureArea;
  scroll_->setWidget(area_);
  setCentralWidget(scroll_);

  hint_ = new QLabel(this);
  hint_->setObjectName("StatusPanel0");
  hint_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusBar()->addWidget(hint_, 1);

  buildMenus();

  resize(546, 382);
  if (QScreen* screen = QApplication::primaryScreen()) {
    QRect free = screen->availableGeometry();
    move(free.center() - rect().center());
  }
}

TImgView::~TImgView() {
  releaseFile();
}

QAction* TImgView::addCommand(QMenu* menu, const char* name, const QString& caption,
                              const QString& hint, const QKeySequence& shortcut) {
  auto* action = new QAction(caption, this);
  action->setObjectName(name);
  action->setStatusTip(hint);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  if (menu) menu->addAction(action);
  return action;
}

void TImgView::buildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("File1");
  connect(addCommand(file, "Close1", "&Close"), &QAction::triggered, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->setObjectName("Edit1");
  connect(addCommand(edit, "Copy1", "&Copy", "Copy to Clipboard", QKeySequence("Ctrl+C")),
          &QAction::triggered, this, &TImgView::Copy1Click);

  QMenu* view = menuBar()->addMenu("&View");
  view->setObjectName("View1");
  QMenu* zoomIn = view->addMenu("Zoom In");
  zoomIn->setObjectName("ZoomIn1");
  QMenu* zoomOut = view->addMenu("Zoom Out");
  zoomOut->setObjectName("ZoomOut1");
  auto addZoom = [this](QMenu* menu, int percent) {
    QAction* item = addCommand(menu, QString("Zoom%1").arg(percent).toLatin1().constData(),
                               QString("%1%").arg(percent));
    item->setData(percent);
    connect(item, &QAction::triggered, this, [this, percent] { ZoomItemClick(percent); });
  };
  for (int percent : kZoomIn) addZoom(zoomIn, percent);
  for (int percent : kZoomOut) addZoom(zoomOut, percent);
  QAction* actual = addCommand(view, "ActualView1", "Actual View (1:1)", "Actual View (1:1)");
  connect(actual, &QAction::triggered, this, &TImgView::ActualView1Click);
  view->addSeparator();
  QAction* fit = addCommand(view, "FitToWindow1", "Fit to Window", "Fit Image to Window");
  fit->setCheckable(true);
  connect(fit, &QAction::triggered, this, &TImgView::FitToWindow1Click);

  // The picture's own menu shares the zoom items with the View menu.
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  connect(addCommand(PopupMenu1, "Copy2", "Copy", "Copy to Clipboard"), &QAction::triggered, this,
          &TImgView::Copy1Click);
  PopupMenu1->addSeparator();
  PopupMenu1->addMenu(zoomIn);
  PopupMenu1->addMenu(zoomOut);
  PopupMenu1->addAction(actual);
  scroll_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(scroll_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(scroll_->mapToGlobal(pos)); });
}

void TImgView::Open(const QString& path, bool ownsFile) {
  releaseFile();
  QImage picture;
  try {
    picture = LoadPicture(path);
  } catch (const EPictureError&) {
    // Nobody will look at the copy now.
    if (ownsFile) QFile::remove(path);
    throw;
  }
  imageFile_ = path;
  ownsFile_ = ownsFile;
  picture_ = picture;
  zoom_ = 1.0;
  Command("FitToWindow1")->setChecked(false);
  area_->SetPicture(picture_);
  area_->SetZoom(zoom_);
  setWindowTitle("Quelt ImageViewer - [" + QDir::toNativeSeparators(path) + "]");
  scroll_->horizontalScrollBar()->setValue(0);
  scroll_->verticalScrollBar()->setValue(0);
}

void TImgView::Execute(const QString& path, bool ownsFile) {
  Open(path, ownsFile);
  ShowModal(this);
}

void TImgView::applyZoom(double zoom) {
  zoom_ = zoom;
  area_->SetZoom(zoom_);
}

void TImgView::ZoomItemClick(int percent) {
  applyZoom(percent * 0.01);
}

void TImgView::ActualView1Click() {
  applyZoom(1.0);
}

double TImgView::FitZoom(QSize area, QSize picture) {
  if (area.isEmpty() || picture.isEmpty()) return 1.0;
  const float horizontal = float(area.width()) / float(picture.width());
  const float vertical = float(area.height()) / float(picture.height());
  const double ratio = horizontal > vertical ? vertical : horizontal;
  // The margin of 0.08 keeps the scroll bars away; for a picture many times larger than the
  // window it would eat the whole zoom, so the picture then takes half the room instead.
  return std::max(ratio - 0.08, ratio / 2);
}

void TImgView::FitToWindow1Click() {
  // The item has turned its check over already.
  if (Command("FitToWindow1")->isChecked())
    applyZoom(FitZoom(AreaSize(), picture_.size()));
  else
    applyZoom(1.0);
  scroll_->horizontalScrollBar()->setValue(0);
  scroll_->verticalScrollBar()->setValue(0);
}

void TImgView::Copy1Click() {
  if (!picture_.isNull()) QApplication::clipboard()->setImage(picture_);
}

QSize TImgView::AreaSize() const {
  return scroll_->maximumViewportSize();
}

QPoint TImgView::ScrollPosition() const {
  return QPoint(scroll_->horizontalScrollBar()->value(), scroll_->verticalScrollBar()->value());
}

QAction* TImgView::Command(const char* name) const {
  return findChild<QAction*>(QString::fromLatin1(name));
}

void TImgView::releaseFile() {
  if (ownsFile_ && !imageFile_.isEmpty()) QFile::remove(imageFile_);
  ownsFile_ = false;
  imageFile_.clear();
}

bool TImgView::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    hint_->setText(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TImgView::closeEvent(QCloseEvent* e) {
  QMainWindow::closeEvent(e);
  releaseFile();
  // Every picture opens at 100 %; the memory goes with the picture.
  picture_ = QImage();
  area_->SetPicture(picture_);
  applyZoom(1.0);
  Command("FitToWindow1")->setChecked(false);
  emit Closed();
}

}  // namespace quelt
