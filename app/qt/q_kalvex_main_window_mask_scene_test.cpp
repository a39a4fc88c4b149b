#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "app/qt/q_color_dialog_runner.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller_job_for_test.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/scene.h"

namespace {

// Answers colour dialogs from a script (an invalid colour is Cancel) and counts them.
class ScriptedColours : public qColorDialogRunner {
 public:
  std::deque<QColor> answers;
  int asked = 0;
  QColor getColor(const QColor&, QWidget*) override {
    ++asked;
    if (answers.empty()) return QColor();
    const QColor answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Answers every message box with Ok and keeps the titles and texts.
class RecordedBoxes : public qDialogRunner {
 public:
  std::vector<QString> texts;
  int runMessageBox(QMessageBox& box) override {
    texts.push_back(box.windowTitle() + ": " + box.text());
    return QMessageBox::Ok;
  }
};

// What a user's key press sends to widget (text for printable keys).
void Key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QCoreApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QCoreApplication::sendEvent(widget, &release);
}

// Replaces the line edit's text as typing does.
void Type(QLineEdit* edit, const QString& text) {
  Key(edit, Qt::Key_A, Qt::ControlModifier);
  if (text.isEmpty()) Key(edit, Qt::Key_Backspace, Qt::NoModifier);
  for (QChar c : text) Key(edit, Qt::Key_A + (c.toUpper().unicode() - 'A'), Qt::NoModifier, c);
}

void Mouse(QWidget* widget, QEvent::Type type, QPoint p, Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(p), widget->mapToGlobal(QPointF(p)), Qt::LeftButton, held,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

std::set<NHSObject*> Children(const NHSObject& parent) {
  std::set<NHSObject*> children;
  for (NHSObject* c = parent.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    children.insert(c);
  }
  return children;
}

// The main window over the test job (frames, 3D points, the mask "mask" keyed at frame 1).
class MaskScenePageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qExtras::writeAutoCheckForUpdates(false); }

  MaskScenePageTest() {
    qExtras::setDialogRunner(&boxes);
    setColorDialogRunner(&colours);
    window.enableProjectWidgets();
    UIDRegistry::Instance().SelectTypeRange(false, 0, 0xFFFF);
  }
  ~MaskScenePageTest() override {
    UIDRegistry::Instance().SelectTypeRange(false, 0, 0xFFFF);
    setColorDialogRunner(nullptr);
    qExtras::setDialogRunner(nullptr);
    DisplaySettings::Get().Reset();
  }

  uic::ViewerBase* Viewer() { return window.m_viewer; }
  VertexObjectPool& Pool() { return job.tracker->GetVertexObjectPool(); }
  PolygonMask& JobMask() { return Pool().GetPolygonMasks().front(); }
  // Selects the mask and its first vertex, as a click on it does. The window fills the
  // page from the mask alone (its handler reads the first selected object, which could
  // otherwise be the vertex); the page's slots find the mask through the vertex.
  void SelectMask(PolygonMask& mask) {
    UIDRegistry& registry = UIDRegistry::Instance();
    registry.SelectTypeRange(false, 0, 0xFFFF);
    registry.SetSelected(mask.GetUID(), true);
    window.handleSelectionChange();
    registry.SetSelected(mask.GetVertices().front().GetUID(), true);
  }

  RecordedBoxes boxes;
  ScriptedColours colours;
  qKalvexMainWindow window;
  kxtest::ControllerJob job{64, 48};
  uic::Controller& controller = kxtest::C();
};

TEST_F(MaskScenePageTest, NewMaskMakesAMaskOnlyFromThreeOrMorePoints) {
  for (int points : {0, 2, 3, 5}) {
    SCOPED_TRACE(points);
    const size_t masks = Pool().GetPolygonMasks().size();
    window.m_mask_new_pb->click();
    EXPECT_TRUE(window.m_mask_drawing);
    EXPECT_EQ(window.m_mask_new_pb->text(), "Close Mask");
    EXPECT_EQ(Viewer()->m_cursor_shape, 10);
    EXPECT_NE(Viewer()->m_interaction & uic::ViewerBase::kInteractionMask, 0);
    for (int i = 0; i < points; ++i) {
      Viewer()->AppendMaskPoint({10.0 + 7 * i, 5.0 + 3 * (i % 2), 0.0});
    }
    window.m_mask_new_pb->click();
    EXPECT_EQ(Pool().GetPolygonMasks().size(), masks + (points >= 3 ? 1 : 0));
    EXPECT_FALSE(window.m_mask_drawing);
    EXPECT_EQ(window.m_mask_new_pb->text(), "New Mask");
    EXPECT_EQ(Viewer()->m_cursor_shape, 0);
    EXPECT_EQ(Viewer()->m_interaction & uic::ViewerBase::kInteractionMask, 0);
  }
  EXPECT_EQ(Pool().GetPolygonMasks().back().GetVertices().size(), 5u);
}

TEST_F(MaskScenePageTest, PropertyEditsRenameAndColourTheSelectedMask) {
  PolygonMask& mask = JobMask();
  SelectMask(mask);
  ASSERT_FALSE(window.m_mask_properties_gb->isHidden());
  ASSERT_EQ(window.m_mask_name_le->text(), "mask");

  // Typing renames as the user types; the project then needs saving.
  QLineEdit* name = window.m_mask_name_le;
  Type(name, "door");
  EXPECT_EQ(mask.GetName(), "door");
  EXPECT_TRUE(controller.IsModified());

  // An emptied field and a moved slider keep the name.
  Type(name, "");
  window.m_mask_transparency_sld->setValue(30);
  EXPECT_EQ(mask.GetName(), "door");
  EXPECT_DOUBLE_EQ(mask.GetColor().a, 0.3);

  // The colour comes from the dialog; Cancel changes nothing.
  colours.answers = {QColor(0, 255, 0)};
  window.m_mask_color_pb->click();
  EXPECT_EQ(qExtras::buttonColor(window.m_mask_color_pb), QColor(0, 255, 0));
  EXPECT_DOUBLE_EQ(mask.GetColor().r, 0.0);
  EXPECT_DOUBLE_EQ(mask.GetColor().g, 1.0);
  EXPECT_DOUBLE_EQ(mask.GetColor().a, 0.3);
  colours.answers = {QColor()};
  window.m_mask_color_pb->click();
  EXPECT_EQ(colours.asked, 2);
  EXPECT_EQ(qExtras::buttonColor(window.m_mask_color_pb), QColor(0, 255, 0));
  EXPECT_DOUBLE_EQ(mask.GetColor().g, 1.0);
}

TEST_F(MaskScenePageTest, NamesTheUserDidNotEditAreNeverRewritten) {
  // A Latin-1 name does not survive the field's round trip; an unnamed mask shows an empty
  // field. Neither may change when only the colour or transparency does.
  for (const std::string& stored : {std::string("caf\xe9"), std::string()}) {
    PolygonMask& mask = JobMask();
    mask.SetName(stored.c_str());
    SelectMask(mask);
    if (stored.empty()) {
      EXPECT_EQ(window.m_mask_name_le->text(), "");
    }
    window.m_mask_transparency_sld->setValue(window.m_mask_transparency_sld->value() + 7);
    colours.answers = {QColor(10, 20, 30)};
    window.m_mask_color_pb->click();
    EXPECT_EQ(mask.GetName(), stored);
    EXPECT_NEAR(mask.GetColor().b, 30 / 255.0, 1e-9);
  }
}

TEST_F(MaskScenePageTest, KeyFrameButtonsStepThroughTheMasksKeys) {
  PolygonMask& mask = JobMask();  // keyed at frame 1
  mask.GetVertices().front().SetKey(3, {1.0, 1.0, 0.0});
  SelectMask(mask);
  struct Case {
    int from;
    QPushButton* button;
    int to;
  };
  QPushButton* next = window.m_next_key_frame_pb;
  QPushButton* previous = window.m_previous_key_frame_pb;
  for (const Case& c : {Case{0, next, 1}, Case{1, next, 3}, Case{3, next, 3}, Case{3, previous, 1},
                        Case{2, previous, 1}, Case{1, previous, 1}, Case{0, previous, 0}}) {
    controller.SetCurrentFrame(c.from, true);
    c.button->click();
    EXPECT_EQ(controller.GetCurrentFrame(), c.to)
        << c.from << (c.button == next ? " next" : " previous");
  }
  // Without a selected mask the buttons do nothing.
  UIDRegistry::Instance().SelectTypeRange(false, 0, 0xFFFF);
  controller.SetCurrentFrame(0, true);
  window.handleKeyFrameButtonClick(0);
  EXPECT_EQ(controller.GetCurrentFrame(), 0);
}

TEST_F(MaskScenePageTest, ViewToggleAsksForTheImageViewWhenChecked) {
  struct Case {
    int mode;
    bool checked;
    int expected;
  };
  for (const Case& c : {Case{0, true, 0}, Case{1, true, 0}, Case{0, false, 1}, Case{1, false, 1}}) {
    Viewer()->CurrentState()->m_mode = c.mode;
    window.m_view_mode_toggle_tb->setChecked(c.checked);
    window.handleViewModeToggleButtonClick();
    EXPECT_EQ(Viewer()->GetViewerState().m_mode, c.expected) << c.mode << " " << c.checked;
  }
  // The button's own click flips it and the view with it.
  window.m_view_mode_toggle_tb->click();
  EXPECT_TRUE(window.m_view_mode_toggle_tb->isChecked());
  EXPECT_EQ(Viewer()->GetViewerState().m_mode, 0);
}

TEST_F(MaskScenePageTest, CameraButtonsSetTheManipModeAndTheViewLock) {
  using V = uic::ViewerBase;
  struct Case {
    QToolButton* button;
    int manip;
    bool locked;
  };
  Viewer()->m_interaction = V::kInteractionMask;
  for (const Case& c : {Case{window.m_fix_to_object_tb, V::eManipWorld, true},
                        Case{window.m_fix_to_camera_tb, V::eManipFixToCamera, false},
                        Case{window.m_fix_to_object_tb, V::eManipWorld, true},
                        Case{window.m_free_camera_tb, V::eManipWorld, false}}) {
    c.button->click();
    EXPECT_EQ(Viewer()->m_manip_mode, c.manip) << c.button->objectName().toStdString();
    EXPECT_EQ((Viewer()->m_interaction & V::kInteractionLockView) != 0, c.locked);
    EXPECT_NE(Viewer()->m_interaction & V::kInteractionMask, 0) << "other bits stay";
  }
  // The move-mode combo reaches the other modes.
  for (int mode : {V::eManipGroundGrid, V::eManipScene, V::eManipWorld}) {
    selectComboByInt(window.m_move_mode_cb, mode, false);
    EXPECT_EQ(Viewer()->m_manip_mode, mode);
  }
}

TEST_F(MaskScenePageTest, SelectionMenuSetsTheViewersTool) {
  const QAction* actions[] = {window.actionSelectionToolCircle, window.actionSelectionToolLasso,
                              window.actionSelectionToolRectangle};
  const int tools[] = {1, 2, 0};
  for (int i = 0; i < 3; ++i) {
    const_cast<QAction*>(actions[i])->trigger();
    EXPECT_EQ(Viewer()->m_selection_tool, tools[i]);
    EXPECT_FALSE(window.m_toggle_selection_mode_tb->icon().isNull());
  }
}

TEST_F(MaskScenePageTest, AnObjectFromSelectedPointsMovesWithTheGizmoAndUndoes) {
  Scene* scene = controller.GetScene();
  ASSERT_NE(scene, nullptr);
  const std::set<NHSObject*> before = Children(*scene);
  UIDRegistry::Instance().SelectTypeRange(true, UID_TYPE_FEATURE_POINT_3D,
                                          UID_TYPE_FEATURE_POINT_3D);
  window.actionAddBox->trigger();
  NHSObject* box = nullptr;
  for (NHSObject* child : Children(*scene)) {
    if (before.count(child) == 0) box = child;
  }
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->GetUIDType(), NHS_TYPE_CUBOID);
  EXPECT_TRUE(controller.IsModified());

  // The test-scene page's scene view, the box selected with the move handles.
  window.handleToolboxPageChange(4);
  window.m_view_mode_toggle_tb->setChecked(false);
  window.handleViewModeToggleButtonClick();
  ASSERT_EQ(Viewer()->GetViewerState().m_mode, 1);
  scene->SelectObject(box->GetUID());
  window.m_translate_tb->click();
  ASSERT_NE(scene->GetGizmo(), nullptr);
  window.m_viewer->grab();  // renders, so that picking knows the gizmo

  const int w = Viewer()->GetWidth(), h = Viewer()->GetHeight();
  int gx = -1, gy = -1;
  for (int y = 0; y < h && gx < 0; y += 4) {
    for (int x = 0; x < w; x += 4) {
      if (Viewer()->IsSelectedObjectAGizmo(x, y)) {
        gx = x;
        gy = y;
        break;
      }
    }
  }
  ASSERT_GE(gx, 0) << "no gizmo part on screen";
  const Matrix3x4 start = box->GetTransform();
  Mouse(window.m_viewer, QEvent::MouseButtonPress, QPoint(gx, gy), Qt::LeftButton);
  Mouse(window.m_viewer, QEvent::MouseMove, QPoint(gx + 15, gy + 10), Qt::LeftButton);
  Mouse(window.m_viewer, QEvent::MouseButtonRelease, QPoint(gx + 15, gy + 10), Qt::NoButton);
  bool moved = false;
  for (int i = 0; i < 12; ++i) moved = moved || box->GetTransform().m[i] != start.m[i];
  EXPECT_TRUE(moved);

  // The drag is one undo step; the next one takes the box away again.
  window.m_undo_tb->setEnabled(true);
  window.m_undo_tb->click();
  for (int i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(box->GetTransform().m[i], start.m[i]) << i;
  window.m_undo_tb->click();
  EXPECT_EQ(Children(*scene), before);
}

TEST_F(MaskScenePageTest, AnObjectColourGoesToTheSelectedObjectsAndTheNewOnes) {
  const DisplaySettings& settings = DisplaySettings::Get();
  // Nothing selected: the swatch and the new-object colour only.
  colours.answers = {QColor(255, 0, 0)};
  window.m_add_object_color_pb->click();
  EXPECT_EQ(qExtras::buttonColor(window.m_add_object_color_pb), QColor(255, 0, 0));
  EXPECT_EQ(settings.SlotColor(DS_SLOT_NEW_OBJECT), 0xFFFF0000u);
  EXPECT_FALSE(controller.IsModified());

  Scene* scene = controller.GetScene();
  const std::set<NHSObject*> before = Children(*scene);
  window.actionAddCone->trigger();  // no points selected: a cone of its own size
  NHSObject* cone = nullptr;
  for (NHSObject* child : Children(*scene)) {
    if (before.count(child) == 0) cone = child;
  }
  ASSERT_NE(cone, nullptr);
  EXPECT_EQ(cone->GetUIDType(), NHS_TYPE_CONE);
  EXPECT_EQ(cone->GetColor(), 0xFFFF0000u);
  controller.SetModified(false);
  UIDRegistry::Instance().SetSelected(cone->GetUID(), true);
  colours.answers = {QColor(0, 0, 255)};
  window.m_add_object_color_pb->click();
  EXPECT_EQ(cone->GetColor(), 0xFF0000FFu);
  EXPECT_TRUE(controller.IsModified());

  // Cancel: nothing changes.
  colours.answers = {QColor()};
  window.m_add_object_color_pb->click();
  EXPECT_EQ(cone->GetColor(), 0xFF0000FFu);
  EXPECT_EQ(settings.SlotColor(DS_SLOT_NEW_OBJECT), 0xFF0000FFu);
}

TEST_F(MaskScenePageTest, AligningTheGroundGridReportsWhetherItAligned) {
  window.m_align_ground_grid_pb->click();
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_TRUE(boxes.texts[0].startsWith("Warning: Align ground grid failed"))
      << boxes.texts[0].toStdString();
  EXPECT_FALSE(controller.IsModified());
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);

  UIDRegistry::Instance().SelectTypeRange(true, UID_TYPE_FEATURE_POINT_3D,
                                          UID_TYPE_FEATURE_POINT_3D);
  window.m_align_ground_grid_pb->click();
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_EQ(boxes.texts[1], "Information: Align ground grid successful");
  EXPECT_TRUE(controller.IsModified());
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 1);
}

}  // namespace
