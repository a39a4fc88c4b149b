// The mask-edit and test-scene pages of the main window and the selection-tool menu.
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSignalBlocker>
#include <string>
#include <vector>

#include "app/qt/q_color_dialog_runner.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "foundation/numeric/color_rgba.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/selection.h"
#include "interaction/undo_stack.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object.h"
#include "tracking/objects/vertex_object.h"

namespace {

// The mask the page edits: the owner of the first selected vertex, when it is a mask.
PolygonMask* SelectedMask(uic::Controller* controller) {
  return dynamic_cast<PolygonMask*>(controller->GetSelection()->GetSelectedVertexObject());
}

// Shows colour on a swatch button without sending its signals.
// Notes whether anything was pushed onto the undo stack while it lives: the ground-grid
// alignment tells its success only that way (every alignment is one undo step).
class UndoPushWatch : public HasSlots {
 public:
  UndoPushWatch() { UndoStack::Instance().m_changed.Connect(this, &UndoPushWatch::OnChanged); }
  void OnChanged(bool undo_redo_or_clear) {
    if (!undo_redo_or_clear) pushed = true;
  }
  bool pushed = false;
};

}  // namespace

void qKalvexMainWindow::handleMaskPropertyChange() {
  applyMaskPropertyChanges();
}

void qKalvexMainWindow::applyMaskPropertyChanges() {
  PolygonMask* mask = SelectedMask(m_controller);
  if (mask == nullptr) return;
  // Only a name the user typed is written: the field of an unnamed mask is empty, and a
  // colour or transparency change must not rewrite a name it merely shows.
  const QString name = m_mask_name_le->text();
  if (!name.isEmpty() && m_mask_name_le->isModified()) {
    mask->SetName(name.toLatin1().constData());
  }
  const QColor swatch = qExtras::buttonColor(m_mask_color_pb);
  mask->SetColor(ColorRGBA(swatch.redF(), swatch.greenF(), swatch.blueF(),
                           m_mask_transparency_sld->value() * 0.01));
  m_controller->EmitObjectPoolChanged();
  m_controller->UpdateViewers();
  // Not an undo step, but project data: closing must ask to save it.
  m_controller->SetModified(true);
}

void qKalvexMainWindow::handleMaskColorButtonClick() {
  const QColor colour = chooseColor(qExtras::buttonColor(m_mask_color_pb), this);
  if (!colour.isValid()) return;
  qExtras::showColorSwatch(m_mask_color_pb, colour);
  applyMaskPropertyChanges();
}

void qKalvexMainWindow::newPolygonMask() {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  // Read first: closing makes a mask of three or more points, and its pool notification
  // resets the button, the cursor and m_mask_drawing (which a new mask then sets again).
  const bool was_drawing = m_mask_drawing;
  viewer->ClosePolygonMask();
  viewer->Redraw();
  if (was_drawing) {
    m_mask_new_pb->setText(tr("New Mask"));
    m_viewer->SetCursorShape(0);
    m_mask_drawing = false;
    return;
  }
  viewer->m_interaction |= uic::ViewerBase::kInteractionMask;
  viewer->Redraw();
  m_mask_new_pb->setText(tr("Close Mask"));
  m_viewer->SetCursorShape(10);
  m_mask_drawing = true;
}

void qKalvexMainWindow::handleKeyFrameButtonClick(int direction) {
  PolygonMask* mask = SelectedMask(m_controller);
  if (mask == nullptr) return;
  const std::string name = mask->GetName();
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  const int frame = m_controller->GetCurrentFrame();
  const bool backward = direction == 1;
  if (frame < 0 || (backward && frame == 0)) return;
  const int key = tracker->FindMaskKeyFrame(unsigned(frame), name.c_str(), backward);
  if (key != -1) m_controller->SetCurrentFrame(key, false);
}

void qKalvexMainWindow::handleObjectColorButtonClick() {
  const QColor colour = chooseColor(qExtras::buttonColor(m_add_object_color_pb), this);
  if (!colour.isValid()) return;
  qExtras::showColorSwatch(m_add_object_color_pb, colour);
  const ColorRGBA rgba(colour.redF(), colour.greenF(), colour.blueF(), colour.alphaF());

  // Objects made from now on take the colour.
  DisplaySettings& settings = DisplaySettings::Get();
  const int entry = settings.color_slots[DS_SLOT_NEW_OBJECT];
  if (entry >= 0 && entry < DisplaySettings::kTableSize) {
    settings.color_table[entry] = rgba.ToARGB32();
    settings.colors_changed = true;
  }

  std::vector<UIDBase*> selected;
  UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_SCENE_OBJECT_FIRST,
                                          UID_TYPE_SCENE_OBJECT_LAST);
  bool coloured = false;
  for (UIDBase* object : selected) {
    if (auto* scene_object = dynamic_cast<NHSObject*>(object)) {
      scene_object->SetColor(rgba);
      coloured = true;
    }
  }
  if (!coloured) return;
  m_controller->UpdateViewers();
  // Not an undo step, but the objects' colours are saved with the project.
  m_controller->SetModified(true);
}

void qKalvexMainWindow::handleGizmoButtonClick() {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  viewer->SetGizmoModes(m_translate_tb->isChecked(), m_rotate_tb->isChecked(),
                        m_scale_tb->isChecked());
  viewer->Redraw();
}

void qKalvexMainWindow::handleAlignGroundGridButtonClick() {
  uic::ViewerBase* viewer = mainViewer();
  UndoPushWatch watch;
  Tools::AlignGroundGridToSelection(viewer, m_controller->GetCTracker());
  if (viewer != nullptr) viewer->Redraw();
  // Success only when the scene really moved; otherwise say what the tool needs and leave
  // the project as it was.
  const bool aligned = watch.pushed;
  QMessageBox box(
      aligned ? QMessageBox::Information : QMessageBox::Warning,
      aligned ? QCoreApplication::translate("QMessageBox", "Information")
              : QCoreApplication::translate("QMessageBox", "Warning"),
      aligned ? QCoreApplication::translate("QMessageBox", "Align ground grid successful")
              : QCoreApplication::translate(
                    "QMessageBox",
                    "Align ground grid failed: select three or more 3D points or one object"),
      QMessageBox::Ok, this);
  box.setStyleSheet(qExtras::platformStyleSheet());
  qExtras::runMessageBox(box);
  if (aligned) m_controller->SetModified(true);
}

void qKalvexMainWindow::handleSelectGroundGridButtonClick() {
  m_controller->SelectGroundGrid(m_rotate_tb->isChecked(), m_scale_tb->isChecked(),
                                 m_translate_tb->isChecked());
}

void qKalvexMainWindow::handleViewModeToggleButtonClick() {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  // Checked asks for the image view (mode 0), unchecked for the scene view (mode 1).
  const int wanted = m_view_mode_toggle_tb->isChecked() ? 0 : 1;
  const int mode = viewer->GetViewerState().m_mode;
  if ((mode == 0 || mode == 1) && mode != wanted) viewer->ToggleViewingMode();
}

void qKalvexMainWindow::handleMoveModeChange() {
  uic::ViewerBase* viewer = mainViewer();
  int mode = 0;
  if (viewer != nullptr && currentComboInt(&mode, m_move_mode_cb)) viewer->SetSceneManipMode(mode);
}

void qKalvexMainWindow::handleSelectionModeChange(int tool) {
  m_viewer->m_selection_tool = tool;
  const char* const icons[] = {":/resource/rectangle_select.png", ":/resource/circle_select.png",
                               ":/resource/lasso_select.png"};
  if (tool >= 0 && tool < 3)
    m_toggle_selection_mode_tb->setIcon(QIcon(QString::fromLatin1(icons[tool])));
}

void qKalvexMainWindow::handleCameraGroupButtonClick(int id) {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  switch (id) {
    case 1:  // free camera
      viewer->SetSceneManipMode(uic::ViewerBase::eManipWorld);
      viewer->m_interaction &= ~uic::ViewerBase::kInteractionLockView;
      viewer->ResetZoom();
      break;
    case 2:  // the image view follows the selected point or track
      viewer->SetSceneManipMode(uic::ViewerBase::eManipWorld);
      viewer->m_interaction |= uic::ViewerBase::kInteractionLockView;
      break;
    case 3:  // the scene seen through the solved camera
      viewer->m_interaction &= ~uic::ViewerBase::kInteractionLockView;
      viewer->SetSceneManipMode(uic::ViewerBase::eManipFixToCamera);
      break;
    default:
      break;
  }
  viewer->Redraw();
}

void qKalvexMainWindow::handleAddObjectTriggered(int entry) {
  // Menu order Cone, Box, Plane, Mesh, Textured Mesh; the scene's kinds are cube 0, cone 1,
  // plane 2, triangle mesh 3, textured mesh 4.
  const int kinds[] = {1, 0, 2, 3, 4};
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr || entry < 0 || entry >= 5) return;
  viewer->AddSceneObject(kinds[entry]);
}
