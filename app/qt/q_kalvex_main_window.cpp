// Construction, reset and wiring of the main window.
#include "app/qt/q_kalvex_main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QColor>
#include <QKeySequence>
#include <QSignalMapper>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "foundation/runtime/product_info.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_stack.h"
#include "scene/display_settings.h"

namespace {

// The new-object colour of the display settings; opaque black when it is no valid colour.
QColor NewObjectColour() {
  const DisplaySettings& settings = DisplaySettings::Get();
  const ColorRGBA c = settings.GetColor(settings.color_slots[DS_SLOT_NEW_OBJECT]);
  const QColor colour(int(c.r * 255), int(c.g * 255), int(c.b * 255), int(c.a * 255));
  return colour.isValid() ? colour : QColor(Qt::black);
}

// A colour swatch: the button's palette and its style sheet show colour.
}  // namespace

qKalvexMainWindow::qKalvexMainWindow(QWidget* parent)
    : QMainWindow(parent),
      m_extras(qExtras::instance()),
      m_controller(uic::Controller::Instance()),
      m_export_undist_dialog(this),
      m_load_sequence_dialog(this),
      m_interactive_help_dialog(this),
      m_help_viewer(this) {
  setupUi(this);
  setWindowTitle(QStringLiteral("Kalvex ") +
                 QString::fromStdString(ProductInfo::GetVersionString()));
  const QString style = qExtras::platformStyleSheet();
  setStyleSheet(style);

  qExtras::showColorSwatch(m_mask_color_pb, QColor(Qt::black));
  m_feature_mode = 0;
  qExtras::showColorSwatch(m_add_object_color_pb, NewObjectColour());

  // The controller owns the tracker from here on.
  m_controller->SetCTracker(new qCTracker);
  connectTrackerSignals();

  m_controller->AddViewer(m_viewer);
  m_viewer->SetEditMode(uic::ViewerBase::eEditSequence);

  m_undo_tb->setEnabled(false);
  m_redo_tb->setEnabled(false);

  for (QAction* action :
       {actionAddCone, actionAddBox, actionAddPlane, actionAddMesh, actionAddTexturedMesh}) {
    m_add_object_menu.addAction(action);
  }
  for (QAction* action :
       {actionSelectionToolRectangle, actionSelectionToolCircle, actionSelectionToolLasso}) {
    m_selection_tool_menu.addAction(action);
  }
  m_add_object_menu.setStyleSheet(style);
  m_selection_tool_menu.setStyleSheet(style);

  m_load_images_pb->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  m_load_project_tb->setShortcut(QKeySequence::Open);
  m_save_project_tb->setShortcut(QKeySequence::Save);
  m_help_tb->setShortcut(QKeySequence::HelpContents);
  m_toggle_selection_mode_tb->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  m_toggle_selection_mode_tb->setMenu(&m_selection_tool_menu);
  m_view_mode_toggle_tb->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
  m_add_object_tb->setMenu(&m_add_object_menu);
  m_about_te->setHtml(qExtras::pageHelpText(7));

  refreshMainWindowFromController();
  initMainWindowWidgets();

  selectComboByInt(m_ui_language_cb, qExtras::readUiLanguage(), true);
  const bool check_for_updates = qExtras::readAutoCheckForUpdates();
  m_automatically_check_for_updates_cb->setChecked(check_for_updates);
  m_use_tray_icon_cb->setChecked(qExtras::readUseTrayIcon());
  createTrayIcon();

  auto* feature_group = new QButtonGroup(this);
  feature_group->addButton(m_automatic_features_pb);
  feature_group->addButton(m_manual_features_pb);
  feature_group->setExclusive(true);
  m_automatic_features_pb->setChecked(true);
  auto* export_group = new QButtonGroup(this);
  export_group->addButton(m_3d_export_page_pb);
  export_group->addButton(m_2d_export_page_pb);
  export_group->setExclusive(true);
  m_3d_export_page_pb->setChecked(true);
  auto* camera_group = new QButtonGroup(this);
  camera_group->addButton(m_free_camera_tb, 1);
  camera_group->addButton(m_fix_to_object_tb, 2);
  camera_group->addButton(m_fix_to_camera_tb, 3);
  camera_group->setExclusive(true);
  m_free_camera_tb->setChecked(true);
  connect(camera_group, &QButtonGroup::idClicked, this,
          &qKalvexMainWindow::handleCameraGroupButtonClick);

  connectMainWindowSignals();

  uic::ViewerOverlayOptions& overlay = m_viewer->m_overlay_options;
  overlay.m_widget_text = true;
  overlay.m_corner_boxes = true;
  overlay.m_tool_indicator = true;
  overlay.m_box_color = 0xFF505050;
  m_timeline->hide();

  m_load_sequence_dialog.setStyleSheet(style);
  m_interactive_help_dialog.setStyleSheet(style);

  if (check_for_updates) m_extras->checkForUpdates(false);

  m_import_object_pb->hide();
  m_export_object_pb->hide();
  m_sequence_camera_gb->hide();
  m_show_locator_tool_help_tb->hide();
}

qKalvexMainWindow::~qKalvexMainWindow() {
  // Nobody is left to see a run through: it stops at its next frame (the tracker, which
  // outlives the window, joins its thread).
  if (uic::MetaCTracker* tracker = m_controller->GetCTracker(); tracker && tracker->IsTracking()) {
    tracker->StopTracking();
  }
  // The controller outlives the window: it must not keep the viewer widget as its main
  // viewer once QMainWindow has deleted it.
  m_controller->RemoveViewer(m_viewer);
  // No parent: the icon would stay in the tray (and in memory) after the window.
  delete m_tray_icon;
  m_tray_icon = nullptr;
}

uic::ViewerBase* qKalvexMainWindow::mainViewer() const {
  return m_controller->GetMainViewer();
}

void qKalvexMainWindow::setToolboxPageEnabled(QWidget* page, bool enabled) {
  m_toolbox->setItemEnabled(m_toolbox->indexOf(page), enabled);
  page->setEnabled(enabled);
}

void qKalvexMainWindow::refreshMainWindowFromController() {
  m_aspect_ratio_cb->setCurrentIndex(0);
  m_framerate_dsb->setValue(25.0);
  m_resolution_x_le->setText(QStringLiteral("0"));
  m_resolution_y_le->setText(QStringLiteral("0"));
  m_deinterlacing_cb->setCurrentIndex(0);
  m_format_le->setText(QStringLiteral("unknown"));
  m_radial_dsb->setValue(0.0);

  handleAutomaticFeatureSetDefaults();

  m_camera_motion_constraint_cb->setCurrentIndex(0);
  m_visualization_cb->setChecked(false);
  m_final_refinement_cb->setChecked(true);
  m_tracking_progress->setStyleSheet(qExtras::progressBarStyleSheet(1, false));
  m_tracking_progress->setValue(0);

  m_automatic_features_pb->setChecked(true);
  m_manual_features_pb->setChecked(false);
  handleFeatureButtonClick(0);

  m_consistency_check_cb->setCurrentIndex(0);
  for (QToolButton* button : {m_translate_tb, m_rotate_tb, m_scale_tb, m_view_mode_toggle_tb}) {
    button->setChecked(false);
  }
  m_move_mode_cb->setCurrentIndex(0);

  m_export_sw->setCurrentIndex(0);
  if (uic::ViewerBase* viewer = mainViewer()) {
    uic::ViewerState state = viewer->GetViewerState();
    state.m_flags = (state.m_flags & ~0x600) | 0x20;
    viewer->PushViewerState(state);
  }
  m_3d_export_page_pb->setChecked(true);
  m_2d_export_page_pb->setChecked(false);

  DisplaySettings::Get().Reset();
  qExtras::showColorSwatch(m_add_object_color_pb, NewObjectColour());

  for (QAbstractSpinBox* box : {static_cast<QAbstractSpinBox*>(m_status_fileindex_sb),
                                static_cast<QAbstractSpinBox*>(m_status_numimages_sb),
                                static_cast<QAbstractSpinBox*>(m_status_num2dpoints_sb),
                                static_cast<QAbstractSpinBox*>(m_status_num3dpoints_sb),
                                static_cast<QAbstractSpinBox*>(m_status_focal_length_dsb),
                                static_cast<QAbstractSpinBox*>(m_status_fov_hor_dsb),
                                static_cast<QAbstractSpinBox*>(m_status_fov_ver_dsb),
                                static_cast<QAbstractSpinBox*>(m_status_rmse_dsb),
                                static_cast<QAbstractSpinBox*>(m_status_track_quality_dsb)}) {
    box->clear();
    box->setEnabled(false);
  }

  // The transport row of the time bar reads as one segmented control.
  const int segment_kinds[] = {2, 3, 3, 3, 3, 4};
  QWidget* const transport[] = {m_timeline->m_goto_start_frame_pb, m_timeline->m_goto_prev_frame_pb,
                                m_timeline->m_play_backward_pb,    m_timeline->m_play_forward_pb,
                                m_timeline->m_goto_next_frame_pb,  m_timeline->m_goto_end_frame_pb};
  for (int i = 0; i < 6; ++i) {
    transport[i]->setStyleSheet(qExtras::progressBarStyleSheet(segment_kinds[i], false));
  }

  m_toolbox->setCurrentIndex(0);
  disableProjectWidgets();
}

void qKalvexMainWindow::initMainWindowWidgets() {
  struct IntItem {
    const char* text;
    int value;
  };
  const auto fill = [](QComboBox* combo, std::initializer_list<IntItem> items) {
    combo->clear();
    for (const IntItem& item : items) combo->addItem(tr(item.text), item.value);
  };

  m_aspect_ratio_cb->clear();
  const struct {
    const char* text;
    double value;
  } aspects[] = {{"4:3", 4.0 / 3.0}, {"16:9", 16.0 / 9.0}, {"2:1", 2.0}, {"2.35:1", 2.35},
                 {"2.4:1", 2.4},     {"1.5:1", 1.5},       {"1:1", 1.0}, {"1:2", 0.5}};
  for (const auto& item : aspects) m_aspect_ratio_cb->addItem(tr(item.text), item.value);

  fill(m_deinterlacing_cb, {{"Progressive", 0},
                            {"Upper Field", 1},
                            {"Lower Field", 2},
                            {"Both Fields (upper first)", 3},
                            {"Both Fields (lower first)", 4}});
  fill(m_camera_motion_constraint_cb, {{"Free Move", 0}, {"Pure Rotation", 1}});
  fill(m_key_frame_selection_mode_cb, {{"Automatic", 5}, {"Manual", 0}});
  fill(m_move_mode_cb, {{"World", uic::ViewerBase::eManipWorld},
                        {"Ground Grid", uic::ViewerBase::eManipGroundGrid},
                        {"Scene", uic::ViewerBase::eManipScene}});
  fill(m_automatic_feature_type_cb, {{"Structure", 0}, {"Corner", 1}});
  fill(m_consistency_check_cb,
       {{"No Check", 0}, {"Translation", 1}, {"Similarity", 2}, {"Affine", 3}});
  fill(m_export_format_cb, {{"Text File", 1},
                            {"3ds MAXscript", 2},
                            {"Maya Script", 4},
                            {"Blender 2.4 Python Script", 5},
                            {"Blender 2.56 Python Script", 6},
                            {"Blender 2.61 Python Script", 7},
                            {"Lightwave Scene File", 8},
                            {"Softimage 3D|XSI", 3},
                            {"Collada", 15},
                            {"Houdini Camera Clip", 19},
                            {"Houdini Script", 20},
                            {"Modo Script", 24}});
  // The 2D formats are appended to what the form holds, as they always were.
  for (const IntItem& item : {IntItem{"AfterEffects2D", 23}, IntItem{"Pelmar FPoint 2.0", 13},
                              IntItem{"Kalvex Ft2d", 14}}) {
    m_export_format_2d_cb->addItem(tr(item.text), item.value);
  }
  fill(m_export_options_cb, {{"Export all 3D points", 0},
                             {"Export selected 3D Points only", 2},
                             {"Export automatic generated 3D points", 5},
                             {"Export Locators only", 4}});
  fill(m_ui_language_cb, {{"English", 1}, {"German", 2}});

  const auto on_index = [this](QComboBox* combo, void (qKalvexMainWindow::*slot)()) {
    connect(combo, &QComboBox::currentIndexChanged, this, slot);
  };
  on_index(m_aspect_ratio_cb, &qKalvexMainWindow::handleSequencePropertyChange);
  on_index(m_deinterlacing_cb, &qKalvexMainWindow::handleSequencePropertyChange);
  on_index(m_camera_motion_constraint_cb, &qKalvexMainWindow::handleCameraPropertyChange);
  on_index(m_key_frame_selection_mode_cb, &qKalvexMainWindow::handleKeyFrameSelectionModeChange);
  on_index(m_move_mode_cb, &qKalvexMainWindow::handleMoveModeChange);
  on_index(m_automatic_feature_type_cb, &qKalvexMainWindow::handleAutomaticFeatureSettingsChange);
  on_index(m_consistency_check_cb, &qKalvexMainWindow::handleConsistencyCheckChange);
  on_index(m_export_options_cb, &qKalvexMainWindow::handleExportOptionsChange);
  on_index(m_ui_language_cb, &qKalvexMainWindow::handleUILanguageChange);

  handleToolboxPageChange(0);
}

void qKalvexMainWindow::connectMainWindowSignals() {
  using W = qKalvexMainWindow;
  const auto on_click = [this](QAbstractButton* button, void (W::*slot)()) {
    connect(button, &QAbstractButton::clicked, this, slot);
  };
  // A signal mapper (window as parent) through which each sender's signal sends the
  // sender's place in the list to slot.
  const auto map_numbers = [this]<class Sender>(std::initializer_list<Sender*> senders,
                                                void (Sender::*signal)(bool),
                                                void (W::*slot)(int)) {
    auto* mapper = new QSignalMapper(this);
    int number = 0;
    for (Sender* sender : senders) {
      connect(sender, signal, mapper, static_cast<void (QSignalMapper::*)()>(&QSignalMapper::map));
      mapper->setMapping(sender, number++);
    }
    connect(mapper, &QSignalMapper::mappedInt, this, slot);
    return mapper;
  };
  const auto map_clicks = [&](std::initializer_list<QAbstractButton*> buttons,
                              void (W::*slot)(int)) {
    return map_numbers(buttons, &QAbstractButton::clicked, slot);
  };
  const auto map_actions = [&](std::initializer_list<QAction*> actions, void (W::*slot)(int)) {
    return map_numbers(actions, &QAction::triggered, slot);
  };

  connect(m_framerate_dsb, &QDoubleSpinBox::valueChanged, this, &W::handleSequencePropertyChange);
  connect(m_automatic_feature_max_sld, &QSlider::valueChanged, this,
          &W::handleAutomaticFeatureSettingsChange);
  connect(m_automatic_feature_density_sld, &QSlider::valueChanged, this,
          &W::handleAutomaticFeatureSettingsChange);
  connect(m_automatic_feature_sensitivity_sld, &QSlider::valueChanged, this,
          &W::handleAutomaticFeatureSettingsChange);
  connect(m_toolbox, &QToolBox::currentChanged, this, &W::handleToolboxPageChange);

  on_click(m_new_project_tb, &W::handleNewProjectButtonClick);
  on_click(m_load_project_tb, &W::handleOpenProjectButtonClick);
  on_click(m_save_project_tb, &W::handleSaveProjectButtonClick);
  on_click(m_save_project_as_tb, &W::handleSaveProjectAsButtonClick);
  on_click(m_load_images_pb, &W::handleLoadImagesButtonClick);
  on_click(m_track_pb, &W::handleTrackButtonClick);
  on_click(m_stop_tracking_pb, &W::handleTrackStopButtonClick);
  on_click(m_refinement_pb, &W::handleRefinementButtonClick);
  on_click(m_mask_new_pb, &W::newPolygonMask);
  on_click(m_mask_color_pb, &W::handleMaskColorButtonClick);
  connect(m_mask_name_le, &QLineEdit::textEdited, this, &W::handleMaskPropertyChange);
  connect(m_mask_transparency_sld, &QSlider::valueChanged, this, &W::handleMaskPropertyChange);
  on_click(m_radial_clear_tb, &W::clearRadialDistortionWidgets);
  on_click(m_new_reference_line_pb, &W::addReferenceLine);
  on_click(m_delete_reference_lines_pb, &W::deleteAllReferenceLines);
  connect(m_radial_dsb, &QDoubleSpinBox::valueChanged, this,
          &W::handleRadialDistortionSpinboxChange);
  connect(m_scrub_slider, &qScrubSlider::transformedValueChanged, this,
          &W::handleRadialDistortionWidgetChange);
  on_click(m_add_object_color_pb, &W::handleObjectColorButtonClick);
  on_click(m_translate_tb, &W::handleGizmoButtonClick);
  on_click(m_rotate_tb, &W::handleGizmoButtonClick);
  on_click(m_scale_tb, &W::handleGizmoButtonClick);
  on_click(m_view_mode_toggle_tb, &W::handleViewModeToggleButtonClick);
  on_click(m_align_ground_grid_pb, &W::handleAlignGroundGridButtonClick);
  on_click(m_select_ground_grid_pb, &W::handleSelectGroundGridButtonClick);
  on_click(m_export_save_pb, &W::handleExportButtonClick);
  on_click(m_export_save_2d_pb, &W::handleExportButton2dClick);
  on_click(m_save_undistorted_pb, &W::handleExportUndistortedButtonClick);
  connect(m_limit_points_group, &QGroupBox::clicked, this, &W::handleExportLimitGroupClick);
  // The read-only box follows the slider before the limit is applied.
  connect(m_limit_points_num_sld, &QSlider::valueChanged, m_limit_points_num_sb,
          &QSpinBox::setValue);
  connect(m_limit_points_num_sld, &QSlider::valueChanged, this,
          &W::handleExportPointLimitSliderChange);
  connect(m_first_key_frame_sb, &QSpinBox::valueChanged, this, &W::handleInitialKeyFrameChanged);
  connect(m_second_key_frame_sb, &QSpinBox::valueChanged, this, &W::handleInitialKeyFrameChanged);
  on_click(m_automatic_feature_default_tb, &W::handleAutomaticFeatureSetDefaults);
  on_click(m_automatic_feature_preview_pb, &W::handleAutomaticFeaturePreview);
  connect(m_manual_feature_snap_checkb, &QCheckBox::stateChanged, this,
          &W::handleManualFeatureSettingsChange);
  connect(m_undo_tb, &QAbstractButton::clicked, m_viewer, &qViewer::undo);
  connect(m_redo_tb, &QAbstractButton::clicked, m_viewer, &qViewer::redo);
  m_add_object_mapper = map_actions(
      {actionAddCone, actionAddBox, actionAddPlane, actionAddMesh, actionAddTexturedMesh},
      &W::handleAddObjectTriggered);
  on_click(m_help_tb, &W::handleHelpButtonClick);
  map_clicks({m_automatic_features_pb, m_manual_features_pb}, &W::handleFeatureButtonClick);
  map_clicks({m_3d_export_page_pb, m_2d_export_page_pb}, &W::handleExportPageButtonClicked);
  map_clicks({m_next_key_frame_pb, m_previous_key_frame_pb}, &W::handleKeyFrameButtonClick);
  m_selection_tool_mapper = map_actions(
      {actionSelectionToolRectangle, actionSelectionToolCircle, actionSelectionToolLasso},
      &W::handleSelectionModeChange);

  auto* next_frame = new QAction(this);
  next_frame->setShortcut(QKeySequence(Qt::Key_PageDown));
  addAction(next_frame);
  connect(next_frame, &QAction::triggered, this, &W::handleNextFrameShortcutTriggered);
  auto* previous_frame = new QAction(this);
  previous_frame->setShortcut(QKeySequence(Qt::Key_PageUp));
  addAction(previous_frame);
  connect(previous_frame, &QAction::triggered, this, &W::handlePreviousFrameShortcutTriggered);

  connect(m_automatically_check_for_updates_cb, &QCheckBox::stateChanged, this,
          &W::handleAutomaticallyCheckForUpdatesClicked);
  on_click(m_manually_check_for_updates_pb, &W::handleManuallyCheckForUpdatesClicked);
  connect(m_extras, &qExtras::updateAvailable, this, &W::handleUpdateAvailableTriggered);
  on_click(m_use_tray_icon_cb, &W::handleUseTrayIconCBChange);
  if (m_tray_icon != nullptr) {
    connect(m_tray_icon, &QSystemTrayIcon::activated, this, &W::handleTrayIconActivated);
  }
  connect(m_locator_gb, &QGroupBox::clicked, this, &W::handleLocatorGoupBoxChecked);
  on_click(m_snap_locator_to_corner_cb, &W::handleSnapLocatorToCornerClicked);

  // The program's own notifications.
  m_controller->GetSelection()->m_selection_changed.Connect(this, &W::handleSelectionChange);
  m_controller->m_current_frame_changed.Connect(this, &W::handleCurrentFrameChange);
  m_controller->m_object_pool_changed.Connect(this, &W::handleObjectPoolChange);
  m_controller->m_sequence_changed.Connect(this, &W::updateSequenceWidgets);
  m_controller->m_need_save.Connect(this, &W::handleNeedSave);
  m_controller->m_tracking_settings_changed.Connect(this, &W::handleTrackingSettingsChanged);
  m_viewer->m_load_images_requested.Connect(this, &W::handleLoadImagesButtonClick);
  m_viewer->m_load_project_requested.Connect(this, &W::handleOpenProjectButtonClick);
  // The viewer's "save" means the export of the camera path.
  m_viewer->m_save_requested.Connect(this, &W::handleExportButtonClick);
  m_viewer->m_start_tracking_requested.Connect(this, &W::handleTrackButtonClick);
  m_viewer->m_start_refinement_requested.Connect(this, &W::handleRefinementButtonClick);
  m_viewer->m_stop_tracking_requested.Connect(this, &W::handleTrackStopButtonClick);
  m_viewer->m_new_mask_requested.Connect(this, &W::newPolygonMask);
  UndoStack::Instance().m_changed.Connect(this, &W::handleUndoStackChange);
}

void qKalvexMainWindow::connectTrackerSignals() {
  auto* tracker = dynamic_cast<qCTracker*>(m_controller->GetCTracker());
  if (tracker == nullptr) return;
  // Automatic: progress and frame come from the tracking thread and arrive queued. Unique,
  // so calling this again for the same tracker does not double them.
  const auto type = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
  connect(tracker, &qCTracker::progressBarChanged, this, &qKalvexMainWindow::updateTrackingProgress,
          type);
  connect(tracker, &qCTracker::frameChanged, this, &qKalvexMainWindow::handleTrackingFrameChange,
          type);
  connect(tracker, &qCTracker::trackingFinishedSignal, this, &qKalvexMainWindow::finishTracking,
          type);
}

void qKalvexMainWindow::showSequenceInTimeline() {
  if (m_controller->GetCTracker() != nullptr && m_controller->GetNumberOfImages() > 0) {
    m_timeline->show();
  }
  m_controller->EmitSequenceChanged();
}
