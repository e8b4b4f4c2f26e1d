// The image viewer: one picture at fixed zoom steps or fitted to the window, copied to the
// clipboard on request. The archive window extracts the entry and hands over the copy's path.
#pragma once

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QScrollArea>
#include <QString>

namespace quelt {

// Draws the picture scaled by the zoom factor; its own size is the picture's shown size.
class TPictureArea : public QWidget {
  Q_OBJECT

 public:
  explicit TPictureArea(QWidget* parent = nullptr);
  void SetPicture(const QImage& picture);
  void SetZoom(double zoom);
  QSize ShownSize() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
  QImage reduced_;  // the picture at a zoom below 1, made once per zoom
  double zoom_ = 1.0;
};

class TImgView : public QMainWindow {
  Q_OBJECT

 public:
  // Zoom steps of the "Zoom In" and "Zoom Out" submenus, in percent.
  static constexpr int kZoomIn[] = {200, 300, 400, 600, 800};
  static constexpr int kZoomOut[] = {75, 67, 50, 33, 25, 10};

  explicit TImgView(QWidget* parent = nullptr);
  ~TImgView() override;

  // Loads the picture at 100 % and takes the caption from its path. `ownsFile`: the caller
  // extracted the file for this window, which deletes it on close (and at once when it
  // cannot be shown). Throws EPictureError with the user's message.
  void Open(const QString& path, bool ownsFile);
  // Open, then show the window modally until the user closes it.
  void Execute(const QString& path, bool ownsFile);

  // ---- Handlers
  void ZoomItemClick(int percent);
  void ActualView1Click();
  void FitToWindow1Click();
  void Copy1Click();

  // The zoom to fit a picture into an area, leaving a margin so no scroll bar appears.
  static double FitZoom(QSize area, QSize picture);

  // ---- State
  const QString& ImageFile() const { return imageFile_; }
  const QImage& Picture() const { return picture_; }
  double ZoomFactor() const { return zoom_; }
  QSize ShownSize() const { return area_->ShownSize(); }
  // The room the picture has, without scroll bars.
  QSize AreaSize() const;
  QPoint ScrollPosition() const;
  QAction* Command(const char* name) const;
  QMenu* ContextMenu() const { return PopupMenu1; }
  QString StatusText() const { return hint_->text(); }

 signals:
  void Closed();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* addCommand(QMenu* menu, const char* name, const QString& caption,
                      const QString& hint = {}, const QKeySequence& shortcut = {});
  void buildMenus();
  void applyZoom(double zoom);
  void releaseFile();

  QString imageFile_;
  bool ownsFile_ = false;
  QImage picture_;
  double zoom_ = 1.0;

  QScrollArea* scroll_ = nullptr;
  TPictureArea* area_ = nullptr;
  QLabel* hint_ = nullptr;
  QMenu* PopupMenu1 = nullptr;
};

}  // namespace quelt
