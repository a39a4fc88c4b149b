// The sequence and lens-distortion pages of the main window, and the tool-box page change.
#include <QIcon>
#include <QMessageBox>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "app/qt/q_timebar.h"
#include "app/qt/q_timeline.h"
#include "foundation/runtime/product_info.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/sequence_property.h"

namespace {

// Normalised K3 per accumulated unit of the scrub slider: its limits of +-2000 are the
// distortion's limits of +-0.2.
constexpr double kRadialPerSliderUnit = 0.0001;

// Whether the frame-rate box shows rate as well as it can: the box holds two decimals and
// at most 99.99 fps, so a project at 30000/1001 or 120 fps shows a neighbour of its rate.
// Such a box was not edited, and its value must not replace the stored rate.
bool ShowsRate(const QDoubleSpinBox& box, double rate) {
  const double shown = std::clamp(rate, box.minimum(), box.maximum());
  return std::abs(box.value() - shown) < 0.5 * std::pow(10.0, -box.decimals());
}

// View state and edit mode of each tool-box page (the tracking page has its own setup).
struct PageView {
  int mode;   // 0 image view, 1 scene view
  int flags;  // display flags
  int edit;   // edit mode
};
constexpr PageView kPageViews[] = {
    {0, 0x1, uic::ViewerBase::eEditSequence},
    {0, 0x8101, uic::ViewerBase::eEditLensDistortion},
    {0, 0x2001, uic::ViewerBase::eEditMask},
    {0, 0x2F01, uic::ViewerBase::eEditAutoFeatures},  // see setupTrackingPageView
    {1, 0x1F025CF, uic::ViewerBase::eEditTestScene},
    {0, 0x23, uic::ViewerBase::eEditExport},
};
constexpr int kTrackingPage = 3;
constexpr int kTestScenePage = 4;
constexpr int kExportPage = 5;

}  // namespace

void qKalvexMainWindow::handleSequencePropertyChange() {
  uic::SequenceProperty property = m_controller->GetSequenceProperty();
  // A signal names the one widget the user changed; only its field is taken. The other
  // widgets may not show the stored value (an aspect without an item, a rate the box
  // cannot hold), and writing them back would change the project behind the user's back.
  // Called any other way, the slot consults every widget.
  const QObject* source = sender();
  const bool from_widget =
      source == m_deinterlacing_cb || source == m_aspect_ratio_cb || source == m_framerate_dsb;
  const auto consult = [&](const QObject* widget) { return !from_widget || source == widget; };
  bool changed = false;

  int interlacing = 0;
  if (consult(m_deinterlacing_cb) && currentComboInt(&interlacing, m_deinterlacing_cb) &&
      interlacing != property.m_interlacing) {
    // Another field mode makes other frames: the tracker deletes its results.
    uic::MetaCTracker* tracker = m_controller->GetCTracker();
    if (tracker != nullptr && tracker->HasCameraTrackingResult()) {
      QMessageBox box(QMessageBox::Question, tr(ProductInfo::GetProductName().c_str()),
                      tr("This changes the sequence settings.\nCurrent estimated camera "
                         "tracking results will be deleted!"),
                      QMessageBox::Ok | QMessageBox::Cancel, this);
      if (qExtras::runMessageBox(box) != QMessageBox::Ok) {
        // The combo shows what is stored again, not the refused mode.
        selectComboByInt(m_deinterlacing_cb, property.m_interlacing, true);
        return;
      }
    }
    property.m_interlacing = interlacing;
    changed = true;
  }

  double aspect = 0.0;
  if (consult(m_aspect_ratio_cb) && qExtras::comboCurrentDouble(&aspect, m_aspect_ratio_cb) &&
      aspect != property.m_image_aspect) {
    property.m_image_aspect = aspect;
    changed = true;
  }

  if (consult(m_framerate_dsb) && !ShowsRate(*m_framerate_dsb, property.m_frame_rate)) {
    property.m_frame_rate = m_framerate_dsb->value();
    changed = true;
  }
  if (!changed) return;
  m_controller->SetSequenceProperty(property);
}

void qKalvexMainWindow::handleToolboxPageChange(int page) {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer != nullptr && viewer == static_cast<uic::ViewerBase*>(m_viewer)) {
    m_viewer->RestoreCursor();
    m_viewer->m_selection_tool = uic::ViewerBase::eSelectionToolRectangle;
    m_toggle_selection_mode_tb->setIcon(QIcon(QStringLiteral(":/resource/rectangle_select.png")));
  }
  if (m_locator_gb->isChecked()) {
    m_locator_gb->setChecked(false);
    handleLocatorGoupBoxChecked(false);
  }
  if (page < 0 || page >= int(std::size(kPageViews))) return;

  if (page == kTestScenePage || page == kExportPage) m_view_mode_toggle_tb->setChecked(false);
  if (page == kExportPage) {
    m_3d_export_page_pb->setChecked(true);
    m_export_sw->setCurrentIndex(0);
    if (viewer != nullptr) {
      uic::ViewerState state = viewer->GetViewerState();
      state.m_flags = (state.m_flags & ~0x600) | 0x20;
      viewer->PushViewerState(state);
    }
  }
  if (page == kTrackingPage) {
    setupTrackingPageView();
    return;
  }
  if (viewer == nullptr) return;
  const PageView& view = kPageViews[page];
  uic::ViewerState state = viewer->GetViewerState();
  state.m_mode = view.mode;
  state.m_flags = view.flags;
  viewer->SetViewerState(state);
  viewer->SetEditMode(view.edit);
  m_controller->EmitViewerModeChanged();
}

void qKalvexMainWindow::handleLoadImagesButtonClick() {
  if (m_load_sequence_dialog.exec() != QDialog::Accepted) return;
  m_timeline->show();
  m_timeline->m_timeline->ResetZoomX();
  if (uic::ViewerBase* viewer = mainViewer()) viewer->ResetView();
  updateSequenceWidgets();
  updateStatusInfo();
  m_tracking_progress->setValue(0);
  m_tracking_progress->setStyleSheet(qExtras::progressBarStyleSheet(1, false));
}

void qKalvexMainWindow::handleRadialDistortionWidgetChange() {
  // The slider's own accumulated value, whatever the signal carried.
  const double k = m_scrub_slider->m_transformed_value * kRadialPerSliderUnit;
  {
    // The box follows without its own change signal: one distortion change per tick.
    const QSignalBlocker blocker(m_radial_dsb);
    m_radial_dsb->setValue(k);
  }
  if (k != m_controller->GetNormalizedK3()) m_controller->SetRadialDistortion(k, false);
}

void qKalvexMainWindow::handleRadialDistortionSpinboxChange() {
  const double k = m_radial_dsb->value();
  if (k != m_controller->GetNormalizedK3()) m_controller->SetRadialDistortion(k, false);
}

void qKalvexMainWindow::clearRadialDistortionWidgets() {
  m_scrub_slider->m_transformed_value = 0.0;
  m_radial_dsb->setValue(0.0);
  m_controller->ClearRadialDistortion();
}

void qKalvexMainWindow::addReferenceLine() {
  m_controller->AddReferenceLine();
}

void qKalvexMainWindow::deleteAllReferenceLines() {
  m_controller->DeleteAllReferenceLines();
}
