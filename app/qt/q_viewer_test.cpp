#include "app/qt/q_viewer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QColor>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <string>
#include <vector>

#include "interaction/controller_job_for_test.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "tracking/objects/vertex_object_pool.h"

namespace {

using uic::ViewerBase;

TEST(ViewerKeyCodeTest, BuildsTheLogicsCodesFromKeyAndModifiers) {
  const Qt::KeyboardModifiers none = Qt::NoModifier, shift = Qt::ShiftModifier,
                              ctrl = Qt::ControlModifier;
  const struct {
    int key;
    Qt::KeyboardModifiers modifiers;
    int code;
  } cases[] = {
      {Qt::Key_L, none, 'l'},
      {Qt::Key_L, shift, 'L'},
      {Qt::Key_L, Qt::AltModifier | Qt::KeypadModifier, 'l'},  // only Shift and Ctrl count
      {Qt::Key_Z, ctrl, 2074},                                 // undo: 0x800 + ^Z
      {Qt::Key_Y, ctrl, 2073},                                 // redo
      {Qt::Key_Z, ctrl | shift, 0xA1A},
      {Qt::Key_1, none, '1'},
      {Qt::Key_Plus, shift, '+'},  // Qt reports the character typed
      {Qt::Key_Minus, none, '-'},
      {Qt::Key_Plus, ctrl, 0x800 + '+'},
      {Qt::Key_Escape, none, 27},
      {Qt::Key_Return, none, 13},
      {Qt::Key_Enter, Qt::KeypadModifier, 13},
      {Qt::Key_Left, none, 256},
      {Qt::Key_Right, shift, 257},  // Shift does not change a key without a character
      {Qt::Key_Up, none, 258},
      {Qt::Key_Down, ctrl, 0x800 + 259},
      {Qt::Key_Delete, none, 264},
      {Qt::Key_F1, none, 0},
      {Qt::Key_Shift, shift, 0},
      {Qt::Key_Control, ctrl, 0},
      {Qt::Key_PageDown, none, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ViewerKeyCode(c.key, c.modifiers), c.code)
        << "key 0x" << std::hex << c.key << " modifiers 0x" << c.modifiers.toInt();
  }
}

TEST(ViewerZoomBoxTest, ShowsTheWholePercent) {
  const struct {
    double zoom;
    const char* text;
  } cases[] = {{1.5, "150 %"}, {0.333, "33 %"}, {1.0, "100 %"},    {1.1 * 1.1, "121 %"},
               {0.29, "29 %"}, {0.05, "5 %"},   {100.0, "10000 %"}};
  for (const auto& c : cases) EXPECT_EQ(ZoomBoxText(c.zoom), QLatin1String(c.text)) << c.zoom;
}

TEST(ViewerRedrawRectTest, GrowsTheBandByRadiusAndMarginAndClipsAtZero) {
  const struct {
    int min_x, min_y, max_x, max_y, radius, margin;
    QRect box;
  } cases[] = {
      {100, 50, 200, 80, 0, 5, QRect(QPoint(95, 45), QPoint(204, 84))},
      {100, 50, 200, 80, 12, 1, QRect(QPoint(87, 37), QPoint(212, 92))},
      {3, 2, 40, 30, 0, 6, QRect(QPoint(0, 0), QPoint(45, 35))},        // clipped at the origin
      {-50, -40, -20, -30, 0, 5, QRect(QPoint(0, 0), QPoint(-1, -1))},  // wholly outside
  };
  for (const auto& c : cases) {
    uic::RubberBand band;
    band.m_min_x = c.min_x;
    band.m_min_y = c.min_y;
    band.m_max_x = c.max_x;
    band.m_max_y = c.max_y;
    band.m_radius = c.radius;
    EXPECT_EQ(RedrawRectBox(band, c.margin), c.box) << c.min_x << "," << c.min_y;
  }
  uic::RubberBand outside;
  outside.m_min_x = outside.m_max_x = -30;
  EXPECT_TRUE(RedrawRectBox(outside, 1).isEmpty());
}

// Records the widget's requests to the main window.
struct RequestRecorder : HasSlots {
  explicit RequestRecorder(qViewer& v) {
    v.m_load_images_requested.Connect(this, &RequestRecorder::LoadImages);
    v.m_load_project_requested.Connect(this, &RequestRecorder::LoadProject);
    v.m_save_requested.Connect(this, &RequestRecorder::Save);
    v.m_start_tracking_requested.Connect(this, &RequestRecorder::Track);
    v.m_start_refinement_requested.Connect(this, &RequestRecorder::Refine);
    v.m_stop_tracking_requested.Connect(this, &RequestRecorder::Stop);
    v.m_new_mask_requested.Connect(this, &RequestRecorder::NewMask);
  }
  void LoadImages() { names.push_back("load images"); }
  void LoadProject() { names.push_back("load project"); }
  void Save() { names.push_back("save"); }
  void Track() { names.push_back("track"); }
  void Refine() { names.push_back("refine"); }
  void Stop() { names.push_back("stop"); }
  void NewMask() { names.push_back("new mask"); }
  std::vector<std::string> names;
};

// A viewer showing frame 0 of a 720 x 576 job at zoom 1 from the view's origin.
struct Viewer : ::testing::Test {
  Viewer() {
    viewer.HandleCurrentFrameChanged();
    viewer.m_zoom = 1.0;
    viewer.m_offset_x = viewer.m_offset_y = 0;
  }
  void Key(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           bool repeat = false) {
    QKeyEvent event(type, key, modifiers, QString(), repeat);
    QCoreApplication::sendEvent(&viewer, &event);
  }
  void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Key(QEvent::KeyPress, key, modifiers);
  }
  void Release(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Key(QEvent::KeyRelease, key, modifiers);
  }
  void Mouse(QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(p), viewer.mapToGlobal(QPointF(p)), button, held, modifiers);
    QCoreApplication::sendEvent(&viewer, &event);
  }
  bool Wheel(QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(100, 100), viewer.mapToGlobal(QPointF(100, 100)), QPoint(), angle,
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&viewer, &event);
    return event.isAccepted();
  }
  // The texts of the menu's entries ("" for a separator; a sub-menu as "title>").
  static std::vector<std::string> Texts(const QMenu& menu) {
    std::vector<std::string> texts;
    for (const QAction* a : menu.actions())
      texts.push_back(a->text().toStdString() + (a->menu() != nullptr ? ">" : ""));
    return texts;
  }
  static QAction* Entry(const QMenu& menu, const QString& text) {
    for (QAction* a : menu.actions()) {
      if (a->text() == text) return a;
      if (a->menu() != nullptr)
        if (QAction* inner = Entry(*a->menu(), text)) return inner;
    }
    return nullptr;
  }

  kxtest::ControllerJob job{720, 576};
  qViewer viewer;
};

TEST_F(Viewer, KeysReachTheLogicAsCodesBuiltFromKeyAndModifiers) {
  const struct {
    int key;
    Qt::KeyboardModifiers modifiers;
    int code;
  } cases[] = {
      {Qt::Key_L, Qt::ShiftModifier, 'L'},  {Qt::Key_L, Qt::NoModifier, 'l'},
      {Qt::Key_Escape, Qt::NoModifier, 27}, {Qt::Key_G, Qt::NoModifier, 'g'},  // not one of 13
      {Qt::Key_Right, Qt::NoModifier, 257}, {Qt::Key_Z, Qt::ControlModifier, 2074},
  };
  for (const auto& c : cases) {
    Press(c.key, c.modifiers);
    EXPECT_EQ(viewer.m_key, c.code) << c.key;
    Release(c.key, c.modifiers);
    EXPECT_EQ(viewer.m_key, 0);
  }
  // A modifier held on is pressed again with the next event once the key is up.
  Press(Qt::Key_L, Qt::ShiftModifier);
  Release(Qt::Key_L, Qt::ShiftModifier);
  Mouse(QEvent::MouseMove, {5, 5}, Qt::NoButton, Qt::NoButton, Qt::ShiftModifier);
  EXPECT_EQ(viewer.m_key, ViewerBase::kKeyShift);
}

TEST_F(Viewer, ArrowsPanAndCtrlZUndoes) {
  Press(Qt::Key_Right);
  Release(Qt::Key_Right);
  Press(Qt::Key_Up);
  Release(Qt::Key_Up);
  EXPECT_EQ(viewer.m_offset_x, 21);  // 3 % of 720
  EXPECT_EQ(viewer.m_offset_y, -21);
  // A held arrow's repetitions are dropped.
  Press(Qt::Key_Left);
  Key(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, true);
  Key(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, true);
  Key(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, true);
  Release(Qt::Key_Left);
  EXPECT_EQ(viewer.m_offset_x, 0);

  VertexObjectPool& pool = job.tracker->GetVertexObjectPool();
  const size_t lines = pool.GetLineStrips().size();
  viewer.AddReferenceLine();
  ASSERT_EQ(pool.GetLineStrips().size(), lines + 1);
  Press(Qt::Key_Control);
  Press(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(pool.GetLineStrips().size(), lines);
  Release(Qt::Key_Z, Qt::ControlModifier);
  Press(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(pool.GetLineStrips().size(), lines + 1);
}

// The platform sends a modifier key with the state before it (Qt turns that into the
// state after): Shift goes down with no modifier and up with Shift.
TEST_F(Viewer, ModifiersGoUpAndDownWithTheEvents) {
  Press(Qt::Key_Shift, Qt::NoModifier);
  EXPECT_EQ(viewer.m_key, ViewerBase::kKeyShift);
  EXPECT_EQ(viewer.m_modifier_code, ViewerBase::kKeyShift);
  // Ctrl joins: Shift is released first, then both are pressed.
  Press(Qt::Key_Control, Qt::ShiftModifier);
  EXPECT_EQ(viewer.m_key, ViewerBase::kKeyShift | ViewerBase::kKeyCtrl);
  Release(Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(viewer.m_key, 0);  // the Ctrl release, then the key release of Control
  Release(Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_EQ(viewer.m_modifier_code, 0);
  EXPECT_EQ(viewer.m_key, 0);
  // A pointer event carries the modifiers it was made with.
  Mouse(QEvent::MouseMove, {10, 10}, Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
  EXPECT_EQ(viewer.m_key, ViewerBase::kKeyCtrl);
  EXPECT_EQ(viewer.m_modifier_code, ViewerBase::kKeyCtrl);
  Mouse(QEvent::MouseMove, {11, 10}, Qt::NoButton, Qt::NoButton, Qt::AltModifier);
  EXPECT_EQ(viewer.m_key, 0);  // Alt is not a modifier of the logic
  EXPECT_EQ(viewer.m_modifier_code, 0);
}

TEST_F(Viewer, MouseButtonsWheelAndPositionText) {
  viewer.m_zoom = 2.0;
  viewer.m_offset_x = 10;
  viewer.m_offset_y = 20;
  Mouse(QEvent::MouseButtonPress, {100, 80}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(viewer.m_button, 1);
  EXPECT_EQ(viewer.m_press_x, 100);
  EXPECT_EQ(viewer.m_press_y, 80);
  Mouse(QEvent::MouseMove, {101, 81}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(kxtest::C().GetInfoText(uic::Controller::eInfoCursorPosition), "(45.25, 30.25)");
  Mouse(QEvent::MouseButtonRelease, {101, 81}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(viewer.m_button, 0);
  // Right or middle with left: not forwarded, but the moves carry the left button.
  Mouse(QEvent::MouseButtonPress, {30, 40}, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
  EXPECT_EQ(viewer.m_press_x, 100);
  EXPECT_EQ(viewer.m_button, 1);
  Mouse(QEvent::MouseButtonRelease, {30, 40}, Qt::RightButton, Qt::NoButton);
  Mouse(QEvent::MouseButtonPress, {30, 40}, Qt::MiddleButton, Qt::MiddleButton);
  EXPECT_EQ(viewer.m_press_x, 100);
  EXPECT_EQ(viewer.m_button, 0);
  Mouse(QEvent::MouseButtonRelease, {30, 40}, Qt::MiddleButton, Qt::NoButton);

  viewer.m_zoom = 1.0;
  EXPECT_TRUE(Wheel({0, 120}));
  EXPECT_GT(viewer.m_zoom, 1.0);
  EXPECT_TRUE(viewer.m_show_zoom);
  EXPECT_EQ(viewer.m_button, 0);  // the moves after a wheel carry no wheel button
  const double zoomed = viewer.m_zoom;
  EXPECT_FALSE(Wheel({120, 0}));  // horizontal scrolling is not a zoom
  EXPECT_EQ(viewer.m_zoom, zoomed);
  EXPECT_TRUE(Wheel({0, -120}));
  EXPECT_LT(viewer.m_zoom, zoomed);
}

TEST_F(Viewer, TheLassoIsHandedOverFromTheProjectionCentreOfTheView) {
  viewer.m_selection_tool = ViewerBase::eSelectionToolLasso;
  const struct {
    int mode;
    int centre_x, centre_y;
  } cases[] = {{0, 30, 20}, {1, 320, 240}};
  for (const auto& c : cases) {
    viewer.CurrentState()->m_mode = c.mode;
    viewer.m_centre_x = 30;
    viewer.m_centre_y = 20;
    Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(viewer.m_lasso_active);
    Mouse(QEvent::MouseMove, {200, 100}, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, {200, 150}, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, {200, 150}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(viewer.m_lasso_active);
    ASSERT_GE(viewer.m_lasso.size(), 3u) << c.mode;
    EXPECT_EQ(viewer.m_lasso[0], (vm::Vector2{100.0 - c.centre_x, 100.0 - c.centre_y}));
    EXPECT_EQ(viewer.m_lasso[2], (vm::Vector2{200.0 - c.centre_x, 150.0 - c.centre_y}));
  }
  // A key press ends the outline.
  Mouse(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
  Press(Qt::Key_E);
  EXPECT_FALSE(viewer.m_lasso_active);
}

TEST_F(Viewer, TheZoomBoxWaitsASecondThenFadesInTwentyStepsAndHidesOnTheNext) {
  viewer.m_zoom = 1.5;
  viewer.m_show_zoom = true;
  viewer.resize(640, 480);
  (void)viewer.grab();  // one paint: the box is shown and the wait starts
  EXPECT_TRUE(viewer.m_zoom_hide_timer->isActive());
  EXPECT_TRUE(viewer.m_zoom_hide_timer->isSingleShot());
  EXPECT_EQ(viewer.m_zoom_hide_timer->interval(), 1000);
  EXPECT_EQ(viewer.m_painted_zoom, 1.5);
  viewer.m_zoom_hide_timer->stop();
  viewer.disableZoomText();
  EXPECT_TRUE(viewer.m_zoom_fade_timer->isActive());
  EXPECT_EQ(viewer.m_zoom_fade_timer->interval(), 25);
  for (int step = 1; step <= 20; ++step) {
    viewer.reduceZoomPainterOpacity();
    EXPECT_TRUE(viewer.m_show_zoom) << step;
  }
  EXPECT_LT(viewer.m_zoom_opacity, 0.05);
  viewer.reduceZoomPainterOpacity();
  EXPECT_FALSE(viewer.m_show_zoom);
  EXPECT_EQ(viewer.m_zoom_opacity, 1.0);
  EXPECT_FALSE(viewer.m_zoom_fade_timer->isActive());

  // Zooming again during the fade brings the box back at full opacity.
  viewer.m_show_zoom = true;
  viewer.disableZoomText();
  for (int step = 0; step < 5; ++step) viewer.reduceZoomPainterOpacity();
  viewer.m_zoom = 2.0;
  viewer.reduceZoomPainterOpacity();
  EXPECT_EQ(viewer.m_zoom_opacity, 1.0);
  EXPECT_TRUE(viewer.m_show_zoom);
  EXPECT_FALSE(viewer.m_zoom_fade_timer->isActive());
  viewer.m_zoom_hide_timer->stop();
  (void)viewer.grab();
  EXPECT_TRUE(viewer.m_zoom_hide_timer->isActive());  // the wait starts anew
}

TEST_F(Viewer, PaintShowsTheLogicsBufferAndItsTexts) {
  viewer.m_overlay_options.m_widget_text = true;  // the frame label comes as a text item
  viewer.resize(640, 480);
  const QImage shown = viewer.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), QSize(640, 480));
  // The blit is of the logic's own pixels: the wrapper shares them.
  const ArrayMap<uint32_t>& buffer = viewer.GetBuffer();
  EXPECT_EQ(viewer.m_buffer_image->constBits(), reinterpret_cast<const uchar*>(buffer.data));
  for (const QPoint p : {QPoint(5, 5), QPoint(320, 240), QPoint(600, 400)}) {
    EXPECT_EQ(shown.pixel(p) & 0xFFFFFF, buffer.GetElement(p.x(), p.y()) & 0xFFFFFF) << p.x();
  }
  const auto label_at = std::find_if(
      viewer.m_text_items.begin(), viewer.m_text_items.end(),
      [](const ViewerTextItem& item) { return item.text == QStringLiteral("Image: 0000"); });
  ASSERT_NE(label_at, viewer.m_text_items.end());
  const ViewerTextItem& label = *label_at;
  EXPECT_EQ(QPoint(label.x, label.y), QPoint(10, 20));
  EXPECT_EQ(QColor(label.red, label.green, label.blue), QColor(200, 200, 200));
  // Drawn over the blit: the label's pixels differ from the buffer's.
  int differing = 0;
  for (int y = 8; y < 22; ++y)
    for (int x = 10; x < 60; ++x)
      differing += (shown.pixel(x, y) & 0xFFFFFF) != (buffer.GetElement(x, y) & 0xFFFFFF);
  EXPECT_GT(differing, 10);
}

TEST_F(Viewer, WithoutAFrameOnlyTheBackgroundAndTheLogoAreShown) {
  viewer.SetFImage(nullptr);
  kxtest::C().SetCurrentFrame(-1, false);
  viewer.HandleCurrentFrameChanged();
  ASSERT_EQ(viewer.GetFImage(), nullptr);
  viewer.resize(400, 300);
  const QImage shown = viewer.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shown.pixel(399, 0), qRgb(51, 51, 51));
  EXPECT_EQ(shown.pixel(200, 100), qRgb(51, 51, 51));
  // The logo's grey ring, 150 pixels up from the bottom-left corner.
  EXPECT_EQ(shown.pixel(37, 300 - 150 + 70), qRgb(170, 170, 170));
}

TEST_F(Viewer, AResizeWrapsTheNewBufferAndAnEmptySizeIsIgnored) {
  QResizeEvent grow(QSize(801, 333), viewer.size());
  QCoreApplication::sendEvent(&viewer, &grow);
  const ArrayMap<uint32_t>& buffer = viewer.GetBuffer();
  ASSERT_EQ(buffer.width, 801u);
  EXPECT_EQ(viewer.m_buffer_image->size(), QSize(801, 333));
  EXPECT_EQ(viewer.m_buffer_image->bytesPerLine(), 804 * 4);  // stride of whole 4 pixels
  EXPECT_EQ(viewer.m_buffer_image->format(), QImage::Format_RGB32);
  EXPECT_EQ(viewer.m_buffer_image->constBits(), reinterpret_cast<const uchar*>(buffer.data));
  QResizeEvent empty(QSize(0, 300), viewer.size());
  QCoreApplication::sendEvent(&viewer, &empty);
  EXPECT_EQ(viewer.GetBuffer().width, 801u);
  EXPECT_EQ(viewer.m_buffer_image->size(), QSize(801, 333));
}

TEST_F(Viewer, TheContextMenuOffersTheEntriesOfTheToolPage) {
  const std::vector<std::string> common = {"",           "Undo ",        "Redo ",
                                           "Reset View", "Deselect All", "Move Orbit Center to>"};
  const struct {
    int mode;
    std::vector<std::string> own;
  } cases[] = {
      {ViewerBase::eEditAutoFeatures, {"Track", "Refinement"}},
      {ViewerBase::eEditLensDistortion, {"Add Reference Line", "Delete All Reference Lines"}},
      {ViewerBase::eEditTestScene, {"Add Object>"}},
      {ViewerBase::eEditExport, {}},
      {ViewerBase::eEditManualFeatures, {}},
      {ViewerBase::eEditMask, {"New Polygon Mask", "Close Polygon Mask"}},
      {ViewerBase::eEditSequence, {"Load Images", "Load Project"}},
  };
  for (const auto& c : cases) {
    viewer.m_edit_mode = c.mode;
    viewer.BuildContextMenu();
    std::vector<std::string> expected = c.own;
    expected.insert(expected.end(), common.begin(), common.end());
    EXPECT_EQ(Texts(viewer.m_context_menu), expected) << c.mode;
  }
  // The last opening's sub-menus do not pile up.
  EXPECT_EQ(viewer.m_context_menu.findChildren<QMenu*>().size(), 1);

  viewer.m_edit_mode = ViewerBase::eEditTestScene;
  viewer.BuildContextMenu();
  QAction* add = viewer.m_context_menu.actions().front();
  ASSERT_NE(add->menu(), nullptr);
  EXPECT_EQ(Texts(*add->menu()), (std::vector<std::string>{"Cone", "Cube", "Plane", "Triangle Mesh",
                                                           "Textured Triangle Mesh"}));
  EXPECT_EQ(add->menu()->actions()[1]->shortcut(), QKeySequence(Qt::ALT | Qt::Key_2));
}

TEST_F(Viewer, TheContextMenuWithoutImagesAndItsUndoLabels) {
  viewer.m_edit_mode = ViewerBase::eEditMask;
  viewer.BuildContextMenu();
  QAction* close = Entry(viewer.m_context_menu, "Close Polygon Mask");
  ASSERT_NE(close, nullptr);
  EXPECT_FALSE(close->isEnabled());
  EXPECT_FALSE(Entry(viewer.m_context_menu, "Undo ")->isEnabled());
  EXPECT_FALSE(Entry(viewer.m_context_menu, "Selection")->isEnabled());  // no 3D point selected

  PushCommand(new uic::VertexObjectPoolCmd(&job.tracker->GetVertexObjectPool(), 1));
  viewer.newPolygonMask();
  viewer.BuildContextMenu();
  EXPECT_TRUE(Entry(viewer.m_context_menu, "Close Polygon Mask")->isEnabled());
  QAction* undo = Entry(viewer.m_context_menu, "Undo (Move Polygon Object)");
  ASSERT_NE(undo, nullptr);
  EXPECT_TRUE(undo->isEnabled());
  undo->trigger();
  viewer.BuildContextMenu();
  EXPECT_NE(Entry(viewer.m_context_menu, "Redo (Move Polygon Object)"), nullptr);
  EXPECT_FALSE(Entry(viewer.m_context_menu, "Undo ")->isEnabled());
}

TEST(ViewerMenuTest, WithoutImagesOnlyTheSequencePageHasEntriesOfItsOwn) {
  ASSERT_EQ(kxtest::C().GetNumberOfImages(), 0);
  kxtest::LogCapture log;  // a viewer without a job warns that there is no scene
  qViewer viewer;
  for (int mode : {0, 1, 2, 5}) {
    viewer.m_edit_mode = mode;
    viewer.BuildContextMenu();
    EXPECT_TRUE(viewer.m_context_menu.actions().front()->isSeparator()) << mode;
  }
  viewer.m_edit_mode = ViewerBase::eEditSequence;
  viewer.BuildContextMenu();
  EXPECT_EQ(viewer.m_context_menu.actions().front()->text(), QStringLiteral("Load Images"));
  // Without a scene the orbit commands only warn.
  kxtest::LogCapture named(5);  // keeps the method names, so the lines differ
  viewer.moveOrbitCenterToWCSOrigin();
  viewer.moveOrbitCenterToCameraPosition();
  EXPECT_TRUE(named.Has("qViewer::orbitCenterReset: scene not set!"));
  EXPECT_TRUE(named.Has("qViewer::orbitCenterToCameraPosition: scene not set!"));
}

TEST_F(Viewer, MenuEntriesSendTheirRequests) {
  RequestRecorder recorder(viewer);
  const struct {
    int mode;
    const char* entry;
    const char* request;
  } cases[] = {
      {ViewerBase::eEditAutoFeatures, "Track", "track"},
      {ViewerBase::eEditAutoFeatures, "Refinement", "refine"},
      {ViewerBase::eEditMask, "New Polygon Mask", "new mask"},
      {ViewerBase::eEditSequence, "Load Images", "load images"},
      {ViewerBase::eEditSequence, "Load Project", "load project"},
  };
  for (const auto& c : cases) {
    viewer.m_edit_mode = c.mode;
    viewer.BuildContextMenu();
    QAction* entry = Entry(viewer.m_context_menu, QString::fromLatin1(c.entry));
    ASSERT_NE(entry, nullptr) << c.entry;
    recorder.names.clear();
    entry->trigger();
    EXPECT_EQ(recorder.names, std::vector<std::string>{c.request}) << c.entry;
  }
  EXPECT_TRUE(viewer.m_drawing_mask);
  recorder.names.clear();
  viewer.handleSaveEntryClick();
  viewer.handleStopTrackingEntryClick();
  EXPECT_EQ(recorder.names, (std::vector<std::string>{"save", "stop"}));
}

TEST_F(Viewer, ShortcutsAreTheWidgetsActions) {
  std::vector<QKeySequence> keys;
  for (const QAction* a : viewer.actions()) keys.push_back(a->shortcut());
  const std::vector<QKeySequence> expected = {
      QKeySequence(QKeySequence::Undo),   QKeySequence(QKeySequence::Redo),
      QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::CTRL | Qt::Key_D),
      QKeySequence(Qt::ALT | Qt::Key_1),  QKeySequence(Qt::ALT | Qt::Key_2),
      QKeySequence(Qt::ALT | Qt::Key_3),  QKeySequence(Qt::ALT | Qt::Key_4),
      QKeySequence(Qt::ALT | Qt::Key_5)};
  EXPECT_EQ(keys, expected);
  // Ctrl+R in the image view fits the frame.
  viewer.m_zoom = 7.0;
  viewer.actions()[2]->trigger();
  EXPECT_LT(viewer.m_zoom, 7.0);
}

TEST_F(Viewer, TheOrbitCentreMovesToTheOriginOrTheFramesCamera) {
  FeatureImage& image = *viewer.GetFImage();
  image.SetAll({4.0, 5.0, 6.0}, image.GetA(), image.GetH(), image.GetV(), image.GetWidth(),
               image.GetHeight(), image.GetPixelSizeX(), image.GetPixelSizeY(),
               image.GetDistortionCoefficients(), image.GetFurtherValues(),
               image.GetDistortionModel());
  Scene& scene = *kxtest::C().GetScene();
  scene.SetOrbitCenter({1.0, 2.0, 3.0});
  viewer.moveOrbitCenterToWCSOrigin();
  EXPECT_EQ(scene.GetOrbitCenter(), (vm::Vector3{0.0, 0.0, 0.0}));
  viewer.moveOrbitCenterToCameraPosition();
  EXPECT_EQ(scene.GetOrbitCenter(), (vm::Vector3{4.0, 5.0, 6.0}));
}

TEST_F(Viewer, CursorShapes) {
  const struct {
    int shape;
    Qt::CursorShape cursor;
  } cases[] = {{3, Qt::SizeVerCursor}, {4, Qt::OpenHandCursor}, {5, Qt::ClosedHandCursor},
               {8, Qt::BitmapCursor},  {10, Qt::CrossCursor},   {6, Qt::ArrowCursor}};
  for (const auto& c : cases) {
    viewer.SetCursorShape(c.shape);
    EXPECT_EQ(viewer.cursor().shape(), c.cursor) << c.shape;
    EXPECT_EQ(viewer.m_cursor_shape, c.shape);
  }
  viewer.SetCursorShape(8);
  EXPECT_EQ(viewer.cursor().hotSpot(), QPoint(16, 16));
  EXPECT_FALSE(viewer.cursor().bitmap().isNull());
  viewer.RestoreCursor();
  EXPECT_EQ(viewer.cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(viewer.m_cursor_shape, 8);
}

}  // namespace
