// qTimeline: the Qt shell of the curve timeline. It shows the logic's pixel buffer,
// paints the labels the logic hands over, turns Qt's mouse, wheel and key events into the
// logic's codes and offers a context menu with Reset.
//
// The buffer is shown through a QImage (RGB32) that shares the logic's memory: its width
// is the buffer's row stride (the width rounded up to 4 pixels), so the extra columns fall
// outside the widget. A resize reallocates the buffer, and the image is made again over
// the new memory; sizes are the widget's logical pixels.
//
// Input codes: buttons 1 left, 2 middle (also when left is held with it), 0 otherwise;
// wheel 4 up (zoom out), 5 down (zoom in), and a wheel turn without a vertical part
// (horizontal scrolling) is ignored; keys are the typed character (1 to 255, 0 for none)
// plus 0x200 with Shift and 0x800 with Control.
//
// Redraw repaints at once (synchronously), so the logic renders only inside paintEvent.
// Interface thread only.
#pragma once

#include <QMenu>
#include <QString>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "interaction/timeline_base.h"

class QAction;
class QImage;

class qTimeline : public QWidget, public uic::TimelineBase {
  Q_OBJECT

 public:
  // A label collected during one repaint, in widget pixels.
  struct Label {
    int x;
    int y;
    QString text;
  };

  // 640 x 200, opaque, strong focus, compact error band shown.
  explicit qTimeline(QWidget* parent = nullptr);
  ~qTimeline() override;

  // ---- the logic's hooks
  void DrawText(double x, double y, const std::string& text) override;
  void Redraw() override;
  void RedrawRect(const uic::RubberBand& band, int flag) override;
  int GetWidth() override { return width(); }
  int GetHeight() override { return height(); }

  // The image over the logic's buffer (width = the buffer's row stride).
  const QImage& bufferImage() const { return *m_buffer_image; }
  // The labels of the last paint.
  const std::vector<Label>& labels() const { return m_texts; }

 public Q_SLOTS:
  void resetZoomX();
  void resetZoomY();
  // The action's data is the curve ident; an action without an int ident does nothing.
  void toggleCurve(QAction* action);
  void reset();
  void removeSelectedKeyframes();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

  // Opens the menu at global; tests replace it so that no menu loop runs.
  virtual void runMenu(QMenu& menu, const QPoint& global);

  QMenu m_menu;

 private:
  // The logic has its own connection; this one only traces.
  void handleGlobalDataChanged();
  // A new image over the logic's current buffer.
  void wrapBuffer();

  std::unique_ptr<QImage> m_buffer_image;
  std::vector<Label> m_texts;
};
