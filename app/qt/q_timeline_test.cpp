#include "app/qt/q_timeline.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <vector>

#include "interaction/timeline_for_test.h"

namespace {

// The timeline with its stored codes in view and a context menu that does not block: it
// records the entries and triggers the one named by `choose`.
class ProbeTimeline : public qTimeline {
 public:
  int Button() const { return m_button; }
  int Key() const { return m_key; }
  bool ShowsRmseBand() const { return m_show_rmse_band; }
  std::vector<uic::TimelineCurve>& Curves() { return m_curves; }

  QString choose;
  std::vector<QAction*> shown;

 protected:
  void runMenu(QMenu& menu, const QPoint&) override {
    const QList<QAction*> actions = menu.actions();
    shown.assign(actions.begin(), actions.end());
    for (QAction* action : actions) {
      if (action->text() == choose) action->trigger();
    }
  }
};

void Send(QWidget& widget, QEvent& event) {
  QApplication::sendEvent(&widget, &event);
}

void Mouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), button, held,
                    Qt::NoModifier);
  Send(widget, event);
}

void Wheel(QWidget& widget, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWheelEvent event(QPointF(100, 50), QPointF(100, 50), QPoint(), angle, Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  Send(widget, event);
}

class TimelineWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override { timeline_.show(); }
  ProbeTimeline timeline_;
};

TEST_F(TimelineWidgetTest, StartsAsTheBufferAndShowsTheErrorBand) {
  EXPECT_EQ(timeline_.size(), QSize(640, 200));
  EXPECT_EQ(timeline_.bufferImage().size(), QSize(640, 200));
  EXPECT_TRUE(timeline_.ShowsRmseBand());
  EXPECT_TRUE(timeline_.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_EQ(timeline_.focusPolicy(), Qt::StrongFocus);
}

TEST_F(TimelineWidgetTest, ResizeRewrapsTheBufferStrideWide) {
  timeline_.resize(101, 50);
  const ArrayMap<uint32_t> buffer = timeline_.GetBuffer();
  EXPECT_EQ(buffer.stride, 104u);
  const QImage& image = timeline_.bufferImage();
  EXPECT_EQ(image.size(), QSize(104, 50));
  EXPECT_EQ(image.format(), QImage::Format_RGB32);
  // Shares the logic's memory: no copy, rows of the stride.
  EXPECT_EQ(image.constBits(), reinterpret_cast<const uchar*>(buffer.data));
  EXPECT_EQ(image.bytesPerLine(), 104 * 4);

  // What is shown is the buffer, row by row (a wrong row length would shear it).
  const QImage shown = timeline_.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), QSize(101, 50));
  for (int y = 0; y < 50; y += 7) {
    for (int x : {0, 47, 100}) {
      EXPECT_EQ(shown.pixel(x, y) & 0xffffffu,
                buffer.GetElement(uint32_t(x), uint32_t(y)) & 0xffffffu)
          << x << "," << y;
    }
  }

  // An empty size keeps the last buffer.
  QResizeEvent empty(QSize(0, 50), QSize(101, 50));
  Send(timeline_, empty);
  EXPECT_EQ(timeline_.GetBuffer().width, 101u);
  EXPECT_EQ(timeline_.bufferImage().width(), 104);
}

TEST_F(TimelineWidgetTest, PaintCollectsTheLabelsAfresh) {
  kxtest::FramesJob job(10);
  timeline_.ResetZoomX();
  (void)timeline_.grab();
  const size_t first = timeline_.labels().size();
  EXPECT_GT(first, 0u);  // the frame axis numbers
  (void)timeline_.grab();
  EXPECT_EQ(timeline_.labels().size(), first);
}

TEST_F(TimelineWidgetTest, MouseButtonsGiveTheirCodesAndMiddleWins) {
  struct Case {
    Qt::MouseButton button;
    Qt::MouseButtons held;
    int code;
  };
  const Case cases[] = {{Qt::LeftButton, Qt::LeftButton, 1},
                        {Qt::MiddleButton, Qt::MiddleButton, 2},
                        {Qt::MiddleButton, Qt::LeftButton | Qt::MiddleButton, 2},
                        {Qt::RightButton, Qt::RightButton, 0}};
  kxtest::FramesJob job(10);
  for (const Case& c : cases) {
    Mouse(timeline_, QEvent::MouseButtonPress, QPoint(100, 50), c.button, c.held);
    EXPECT_EQ(timeline_.Button(), c.code) << int(c.held);
    // The move uses the stored code: the middle button pans by the motion.
    const int x0 = timeline_.GetX0(), y0 = timeline_.GetY0();
    Mouse(timeline_, QEvent::MouseMove, QPoint(110, 57), Qt::NoButton, c.held);
    EXPECT_EQ(timeline_.GetX0() - x0, c.code == 2 ? 10 : 0);
    EXPECT_EQ(timeline_.GetY0() - y0, c.code == 2 ? 7 : 0);
    Mouse(timeline_, QEvent::MouseButtonRelease, QPoint(110, 57), c.button, Qt::NoButton);
    EXPECT_EQ(timeline_.Button(), 0);
  }
}

TEST_F(TimelineWidgetTest, WheelZoomsByDirectionAndIgnoresSidewaysScrolling) {
  const double zoom_x = timeline_.GetZoomX(), zoom_y = timeline_.GetZoomY();
  Wheel(timeline_, QPoint(120, 0));  // horizontal only
  EXPECT_EQ(timeline_.GetZoomX(), zoom_x);
  EXPECT_EQ(timeline_.Button(), 0);

  Wheel(timeline_, QPoint(0, 120));
  EXPECT_EQ(timeline_.Button(), 4);
  EXPECT_LT(timeline_.GetZoomX(), zoom_x);  // up zooms out
  const double out = timeline_.GetZoomX();
  Wheel(timeline_, QPoint(0, -120));
  EXPECT_EQ(timeline_.Button(), 5);
  EXPECT_GT(timeline_.GetZoomX(), out);
  EXPECT_EQ(timeline_.GetZoomY(), zoom_y);
}

TEST_F(TimelineWidgetTest, KeysGiveTheCharacterPlusModifierBits) {
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QString text;
    int code;
  };
  const Case cases[] = {
      // A modifier key arrives with the state before it (Qt reports the state after it):
      // Shift alone is 0x200, so Shift-click keeps the selection.
      {Qt::Key_Shift, Qt::NoModifier, QString(), 0x200},
      {Qt::Key_Control, Qt::NoModifier, QString(), 0x800},
      {Qt::Key_A, Qt::NoModifier, "a", 'a'},
      {Qt::Key_A, Qt::ShiftModifier, "A", 'A' + 0x200},
      {Qt::Key_Z, Qt::ControlModifier, QString(QChar(26)), 26 + 0x800},
      {Qt::Key_Left, Qt::NoModifier, QString(), 0},
      {Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xe9)), 0xe9},
      {Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20ac)), 0},  // beyond 8 bits
  };
  for (const Case& c : cases) {
    QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, c.text);
    Send(timeline_, press);
    EXPECT_EQ(timeline_.Key(), c.code) << c.text.toStdString();
    EXPECT_TRUE(press.isAccepted());
    QKeyEvent release(QEvent::KeyRelease, c.key, c.modifiers, c.text);
    Send(timeline_, release);
    EXPECT_EQ(timeline_.Key(), 0);
  }
}

TEST_F(TimelineWidgetTest, EachMenuOpeningOffersOneFreshResetThatResetsBothZooms) {
  timeline_.ZoomX(3.0);
  timeline_.ZoomY(3.0);
  timeline_.choose = "Reset";
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), QPoint(10, 10));
  Send(timeline_, event);
  ASSERT_EQ(timeline_.shown.size(), 1u);
  EXPECT_EQ(timeline_.shown[0]->statusTip(), "Reset the time line");
  // No tracker images and no curves: the defaults of both axes.
  EXPECT_EQ(timeline_.GetZoomX(), 50.0);
  EXPECT_EQ(timeline_.GetX0(), uic::TimelineBase::kAxisWidth);
  EXPECT_EQ(timeline_.GetZoomY(), 1.0);
  EXPECT_EQ(timeline_.GetY0(), 200 - uic::TimelineBase::kLabelBand);

  Send(timeline_, event);
  EXPECT_EQ(timeline_.shown.size(), 1u);
}

TEST_F(TimelineWidgetTest, ToggleCurveTakesTheIdentFromTheActionData) {
  timeline_.Curves() = {kxtest::Curve(5, 0, {}), kxtest::Curve(6, 0, {})};
  QAction action;
  action.setData(5);
  timeline_.toggleCurve(&action);
  EXPECT_FALSE(timeline_.Curves()[0].IsVisible());
  EXPECT_TRUE(timeline_.Curves()[1].IsVisible());
  action.setData("not a number");
  timeline_.toggleCurve(&action);
  EXPECT_FALSE(timeline_.Curves()[0].IsVisible());
}

}  // namespace
