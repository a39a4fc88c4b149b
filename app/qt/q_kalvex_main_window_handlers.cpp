// The main window's project, frame and selection handlers and the project widgets.
#include <QColor>
#include <QMessageBox>
#include <QSignalBlocker>
#include <vector>

#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "app/qt/q_timebar.h"
#include "app/qt/q_timeline.h"
#include "foundation/camera/known_image_format.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/sequence_property.h"
#include "interaction/tracking_quality.h"
#include "interaction/undo_stack.h"
#include "scene/objects/nhs_object.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object.h"

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

// Sets a value box with its signals blocked and enables it.
template <typename Box, typename Value>
void ShowValue(Box* box, Value value) {
  const QSignalBlocker blocker(box);
  box->setValue(value);
  box->setEnabled(true);
}

// The ten widgets of a selected mask's properties on the mask page.
std::vector<QWidget*> maskPropertyWidgets(const Ui_KalvexMainWindow& form) {
  return {form.m_mask_properties_gb,       form.m_mask_name_le,
          form.m_mask_name_desc_l,         form.m_mask_transparency_sld,
          form.m_mask_transparency_desc_l, form.m_mask_color_pb,
          form.m_mask_color_desc_l,        form.m_next_key_frame_pb,
          form.m_previous_key_frame_pb,    form.m_key_frame_gb};
}

}  // namespace

void qKalvexMainWindow::hideMaskProperties() {
  for (QWidget* widget : maskPropertyWidgets(*this)) widget->hide();
  setLineEditText(m_mask_name_le, QString(), true);
  m_mask_name_le->setEnabled(false);
  {
    const QSignalBlocker blocker(m_mask_color_pb);
    m_mask_color_pb->setEnabled(false);
  }
  setSliderValue(m_mask_transparency_sld, 0, true);
  m_mask_transparency_sld->setEnabled(false);
}

void qKalvexMainWindow::handleSelectionChange() {
  std::vector<UIDBase*> selected;
  UIDRegistry& registry = UIDRegistry::Instance();
  registry.CollectSelected(selected, 1, 39);
  UIDBase* first = selected.empty() ? nullptr : selected.front();
  std::vector<UIDBase*> vertex_objects;
  registry.CollectSelected(vertex_objects, UID_TYPE_VERTEX_OBJECT, UID_TYPE_VERTEX_OBJECT);

  // A click on a mask selects its vertices with it, and ids are reused, so the mask is
  // not always the lowest id: the one selected vertex object decides.
  if (vertex_objects.size() == 1) {
    if (auto* mask = dynamic_cast<PolygonMask*>(vertex_objects.front())) {
      for (QWidget* widget : maskPropertyWidgets(*this)) widget->show();
      // An unnamed mask shows an empty field, never the name of the mask shown before it.
      // Names are stored and drawn as Latin-1.
      setLineEditText(m_mask_name_le, QString::fromLatin1(mask->GetName().c_str()), true);
      m_mask_name_le->setEnabled(true);
      const ColorRGBA& colour = mask->GetColor();
      const QColor swatch(int(colour.r * 255.0), int(colour.g * 255.0), int(colour.b * 255.0), 255);
      qExtras::showColorSwatch(m_mask_color_pb, swatch);
      m_mask_color_pb->setEnabled(true);
      setSliderValue(m_mask_transparency_sld, int(colour.a * 100.0), true);
      m_mask_transparency_sld->setEnabled(true);
      return;
    }
  }

  int scene_objects = 0;
  for (UIDBase* object : selected) {
    if (object->GetUIDType() >= UID_TYPE_SCENE_OBJECT_FIRST &&
        object->GetUIDType() <= UID_TYPE_SCENE_OBJECT_LAST) {
      ++scene_objects;
    }
  }
  if (scene_objects == 1) {
    if (auto* object = dynamic_cast<NHSObject*>(first)) {
      const uint32_t argb = object->GetColor();
      const QColor swatch(int((argb >> 16) & 0xFF), int((argb >> 8) & 0xFF), int(argb & 0xFF), 255);
      qExtras::showColorSwatch(m_add_object_color_pb, swatch);
      m_add_object_color_pb->setEnabled(true);
    }
    return;
  }
  hideMaskProperties();
}

void qKalvexMainWindow::handleCurrentFrameChange() {
  if (m_tracking_running) return;
  uic::ViewerBase* viewer = mainViewer();
  if (viewer != nullptr && viewer->GetFImage() != nullptr) updateStatusInfo();
}

void qKalvexMainWindow::handleObjectPoolChange() {
  if (uic::ViewerBase* viewer = mainViewer()) viewer->SetCursorShape(0);
  m_mask_drawing = false;
  m_mask_new_pb->setText(tr("New Mask"));
}

void qKalvexMainWindow::handleNewProjectButtonClick() {
  if (m_controller->IsModified()) {
    QMessageBox box(QMessageBox::Question, tr("Warning"),
                    tr("Project data will be lost, do you want to continue?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (qExtras::runMessageBox(box) != QMessageBox::Yes) return;
  }
  m_controller->ClearProject();
  refreshMainWindowFromController();
  m_timeline->hide();
}

void qKalvexMainWindow::handleOpenProjectButtonClick() {
  if (!m_extras->openProject()) return;
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  const bool manual = tracker->HasManualFPoints();
  if (manual) m_manual_features_pb->click();
  connectTrackerSignals();
  m_timeline->show();
  m_timeline->m_timeline->ResetZoomX();
  if (uic::ViewerBase* viewer = mainViewer()) {
    viewer->ResetView();
    uic::ViewerState state = viewer->GetViewerState();
    state.m_mode = 0;
    state.m_flags = 0x1;
    viewer->SetViewerState(state);
    viewer->SetEditMode(6);
  }
  updateStatusInfo();
  updateSequenceWidgets();
  updateFeatureSliders();
  m_save_project_tb->setEnabled(false);
  if (manual || tracker->HasFPoints2D()) m_locator_gb->setEnabled(true);
}

void qKalvexMainWindow::handleSaveProjectButtonClick() {
  if (m_extras->saveProject()) m_save_project_tb->setEnabled(false);
}

void qKalvexMainWindow::handleSaveProjectAsButtonClick() {
  if (m_extras->saveProjectAs()) m_save_project_tb->setEnabled(false);
}

void qKalvexMainWindow::handleUndoStackChange(bool /*changed*/) {
  UndoStack& stack = UndoStack::Instance();
  m_undo_tb->setEnabled(stack.NumUndo() > 0);
  m_redo_tb->setEnabled(stack.NumRedo() > 0);
}

void qKalvexMainWindow::handleNeedSave() {
  m_save_project_tb->setEnabled(true);
}

void qKalvexMainWindow::handleNextFrameShortcutTriggered() {
  // Both steps wrap around the tracking range (frames compared as unsigned).
  unsigned frame = unsigned(m_controller->GetCurrentFrame()) + 1;
  if (frame > unsigned(m_controller->GetEndFrame()))
    frame = unsigned(m_controller->GetStartFrame());
  m_controller->SetCurrentFrame(int(frame), false);
}

void qKalvexMainWindow::handlePreviousFrameShortcutTriggered() {
  const unsigned current = unsigned(m_controller->GetCurrentFrame());
  const unsigned frame = current > unsigned(m_controller->GetStartFrame())
                             ? current - 1
                             : unsigned(m_controller->GetEndFrame());
  m_controller->SetCurrentFrame(int(frame), false);
}

void qKalvexMainWindow::updateSequenceWidgets() {
  if (m_controller->GetCTracker() == nullptr) return;
  const uic::SequenceProperty property = m_controller->GetSequenceProperty();
  if (m_controller->GetNumberOfImages() != 0) enableProjectWidgets();
  selectComboByInt(m_deinterlacing_cb, property.m_interlacing, true);
  qExtras::selectComboByValue(m_aspect_ratio_cb, property.m_image_aspect, true);
  // The frame rate follows the tracker too: a box left at its old value would write that
  // rate back with the next change of another sequence property.
  {
    const QSignalBlocker blocker(m_framerate_dsb);
    m_framerate_dsb->setValue(property.m_frame_rate);
  }
  m_resolution_x_le->setText(QString::number(property.m_width));
  m_resolution_y_le->setText(QString::number(property.m_height));
  const char* format = FindKnownImageFormatName(uint32_t(std::max(property.m_width, 0)),
                                                uint32_t(std::max(property.m_height, 0)));
  m_format_le->setText(format != nullptr ? QString::fromUtf8(format) : tr("unknown"));
  m_first_key_frame_sb->setMaximum(m_controller->GetNumberOfImages());
  m_second_key_frame_sb->setMaximum(m_controller->GetNumberOfImages());
}

void qKalvexMainWindow::updateStatusInfo() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  const SharedPtr<FeatureImage>& image =
      tracker->GetFImage(unsigned(m_controller->GetCurrentFrame()));
  if (!image) return;
  ShowValue(m_status_fileindex_sb, image->GetFileIndex());
  ShowValue(m_status_numimages_sb, m_controller->GetNumberOfImages());

  const bool result = tracker->HasCameraTrackingResult();
  const SharedPtr<FeatureMap> map = tracker->GetFeatureMap();
  QWidget* result_boxes[] = {m_status_num2dpoints_sb,   m_status_num3dpoints_sb,
                             m_status_focal_length_dsb, m_status_fov_hor_dsb,
                             m_status_fov_ver_dsb,      m_status_rmse_dsb,
                             m_status_track_quality_dsb};
  if (!result || !map) {
    // The values stay; disabled, they read as belonging to no result.
    for (QWidget* box : result_boxes) box->setEnabled(false);
    return;
  }
  ShowValue(m_status_num2dpoints_sb, int(image->GetFPoints2D().size()));
  ShowValue(m_status_num3dpoints_sb, int(map->CountValidFPoint3D()));
  ShowValue(m_status_focal_length_dsb, image->GetFocalLength());
  ShowValue(m_status_fov_hor_dsb, image->GetHorizontalFieldOfView() * kDegreesPerRadian);
  ShowValue(m_status_fov_ver_dsb, image->GetVerticalFieldOfView() * kDegreesPerRadian);
  const double rmse = map->GetRMSE();
  ShowValue(m_status_rmse_dsb, rmse);
  // The percentage the end of a run shows: the rounded value, not 100 q + 0.5.
  ShowValue(m_status_track_quality_dsb, double(qualityPercent(uic::GetTrackQuality(rmse))));
}

void qKalvexMainWindow::enableProjectWidgets() {
  m_save_project_as_tb->setEnabled(true);
  for (int page = 1; page < m_toolbox->count(); ++page) {
    setToolboxPageEnabled(m_toolbox->widget(page), true);
  }
  m_second_key_frame_sb->setEnabled(false);
  m_locator_gb->setEnabled(false);
}

void qKalvexMainWindow::disableProjectWidgets() {
  m_save_project_as_tb->setEnabled(false);
  for (int page = 1; page < m_toolbox->count(); ++page) {
    setToolboxPageEnabled(m_toolbox->widget(page), false);
  }
  m_mask_properties_gb->hide();
}
