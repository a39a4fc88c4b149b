// qKalvexMainWindow: the program's one main window. It builds the form, creates the first
// tracker and hands it to the controller, registers its viewer widget as the controller's
// main viewer, brings every widget into its initial state and wires the widgets, the
// tracker's Qt signals and the controller's, viewer's and undo stack's notifications to
// its slots.
//
// The slots are grouped by the tool-box page or service they belong to, each group in a
// source file of its own (q_kalvex_main_window_<group>.cpp); construction and wiring live
// in q_kalvex_main_window.cpp, the tracking run control in q_kalvex_main_window_run.cpp.
//
// Lifetime: main makes one window (no parent) after the worker pool and before the
// command line is applied, and destroys it after the event loop. The controller, qExtras
// and the current tracker are not owned: they outlive the window.
//
// Threads: interface thread only. The tracker's progress and frame signals come from the
// tracking thread and arrive queued (automatic connections).
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <string>

#include "app/qt/q_export_undist_images.h"
#include "app/qt/q_help_windows.h"
#include "app/qt/q_load_sequence_dialog.h"
#include "app/qt/ui_kalvex_main_window.h"
#include "foundation/runtime/signal.h"
#include "image/packed_string_list.h"
#include "interaction/viewer_base.h"

class QCloseEvent;
class QEvent;
class QKeyEvent;
class QSignalMapper;
class qExtras;

namespace uic {
class Controller;
}

class qKalvexMainWindow : public QMainWindow, public Ui::KalvexMainWindow, public HasSlots {
  Q_OBJECT

 public:
  explicit qKalvexMainWindow(QWidget* parent = nullptr);
  ~qKalvexMainWindow() override;

  // ---- construction steps, also used after New Project and Open
  // Fills the combo boxes (every item carries its value as Qt::UserRole data), connects
  // their change signals and shows the first tool-box page.
  void initMainWindowWidgets();
  // Every other widget connection and the program's own notifications.
  void connectMainWindowSignals();
  // The current tracker's progress, frame and end-of-run signals, when it is a qCTracker;
  // again after a project was opened (that replaces the tracker).
  void connectTrackerSignals();
  // The window's reset: every widget to its state after construction, one more view state
  // on the main viewer, the display settings to their defaults, page 1 shown.
  void refreshMainWindowFromController();
  // Shows the timeline when the tracker has images, then announces the sequence.
  void showSequenceInTimeline();

  // ---- tracking run control (q_kalvex_main_window_run.cpp)
  // Batch mode: keeps the project template, then starts tracking as the Track button does.
  // The end of the run writes the exports and ends the event loop with batchExitCode().
  void startBatchTracking(const std::string& project_template);
  // The exit code a batch run ended with; -1 until it ended.
  int batchExitCode() const { return m_batch_exit_code; }
  // The tracking page's view on the main viewer: image view with features, edit mode 0
  // (automatic features) or 4 (manual).
  void setupTrackingPageView();
  // Before a sequence's first run every frame file is read once: a frame of another size
  // would be tracked as a wrong picture and the run end "finished" with a wrong camera.
  // False (a box says why) when the frames differ in size or none can be read; frames that
  // cannot be read are named and tracked only if the user agrees. A passed sequence is
  // not read again.
  bool checkSequenceFrames();
  // The result's quality (0..1) as the whole percentage shown: 0.5 gives 50, 0.6667 67.
  static int qualityPercent(double quality);
  // The per-frame quality bar of the current result into m_quality_pixmap.
  void createQualityPixmap();
  // The quality bar of the frames start..end: one column per step ((end - start) / 200 +
  // 1 frames), the last frame included, 32 pixels high; a solved frame's column is filled
  // from the top row 32 v down in (255 v, 255 - 255 v, 0), v = sqrt(mse) / scale clamped to
  // 0..1; frames whose error is not positive keep the grey. Null for end < start.
  static QImage drawQualityBar(int start, int end, double scale,
                               const std::function<double(int)>& mean_squared_error);
  // "hh:mm:ss" of a time of day starting at 00:00:00, so it wraps after 24 hours.
  static QString clockText(qint64 milliseconds);
  // The remaining-time text for percent done after elapsed_ms: "N/A" at 0.
  static QString remainingTimeText(int percent, qint64 elapsed_ms);

  // ---- page helpers used across the pages
  void hideMaskProperties();     // mask page
  void exportCameraTrack3D();    // export page
  void updateSequenceWidgets();  // sequence widgets from the tracker
  void updateStatusInfo();       // the Status tab for the current frame
  // A tool-box page's title button and its content together (the toolbox itself only
  // switches the button).
  void setToolboxPageEnabled(QWidget* page, bool enabled);
  void enableProjectWidgets();  // pages 2 to 6 and Save As
  void disableProjectWidgets();
  void updateFeatureSliders();  // tracking page sliders from the settings

  // The controller's main viewer; null without one.
  uic::ViewerBase* mainViewer() const;

 Q_SIGNALS:
  // Declared for callers that listen to it; nothing emits it.
  void quitPressed();

 public Q_SLOTS:
  // ---- sequence and lens-distortion pages
  void handleSequencePropertyChange();
  void handleToolboxPageChange(int page);
  void handleLoadImagesButtonClick();
  void handleRadialDistortionWidgetChange();
  void handleRadialDistortionSpinboxChange();
  void clearRadialDistortionWidgets();
  void addReferenceLine();
  void deleteAllReferenceLines();

  // ---- mask-edit and test-scene pages
  void handleMaskPropertyChange();
  void applyMaskPropertyChanges();
  void handleMaskColorButtonClick();
  void newPolygonMask();
  void handleKeyFrameButtonClick(int direction);
  void handleObjectColorButtonClick();
  void handleGizmoButtonClick();
  void handleAlignGroundGridButtonClick();
  void handleSelectGroundGridButtonClick();
  void handleViewModeToggleButtonClick();
  void handleMoveModeChange();
  void handleSelectionModeChange(int tool);
  void handleCameraGroupButtonClick(int id);
  void handleAddObjectTriggered(int entry);

  // ---- window services
  void handleUILanguageChange();
  void handleAutomaticallyCheckForUpdatesClicked();
  void handleManuallyCheckForUpdatesClicked();
  void handleUpdateAvailableTriggered(QString version);
  void handleHelpButtonClick();
  void createTrayIcon();
  void trayShowHide();
  void trayQuit();
  void handleUseTrayIconCBChange();
  void handleTrayIconActivated(QSystemTrayIcon::ActivationReason reason);

  // ---- tracking run control
  void handleTrackButtonClick();
  void handleTrackStopButtonClick();
  void handleRefinementButtonClick();
  void updateTrackingProgress(int percent);
  void handleTrackingFrameChange(int frame);
  void finishTracking();
  void disableGuiWhileTracking(bool running);

  // ---- export page
  void handleExportButtonClick();
  void handleExportButton2dClick();
  void handleExportLimitGroupClick(bool checked);
  void handleExportPointLimitSliderChange();
  void handleExportUndistortedButtonClick();
  void handleExportPageButtonClicked(int page);
  void handleExportOptionsChange();

  // ---- project, frame and selection handlers
  void handleSelectionChange();
  void handleCurrentFrameChange();
  void handleObjectPoolChange();
  void handleNewProjectButtonClick();
  void handleOpenProjectButtonClick();
  void handleSaveProjectButtonClick();
  void handleSaveProjectAsButtonClick();
  void handleUndoStackChange(bool changed);
  void handleNeedSave();
  void handleNextFrameShortcutTriggered();
  void handlePreviousFrameShortcutTriggered();

  // ---- tracking page settings
  void handleFeatureButtonClick(int mode);
  void handleAutomaticFeatureSettingsChange();
  void handleAutomaticFeatureSetDefaults();
  void handleAutomaticFeaturePreview();
  void handleManualFeatureSettingsChange();
  void handleConsistencyCheckChange();
  void handleCameraPropertyChange();
  void handleKeyFrameSelectionModeChange();
  void handleInitialKeyFrameChanged();
  void handleLocatorGoupBoxChecked(bool on);
  void handleSnapLocatorToCornerClicked();
  void handleTrackingSettingsChanged();

 protected:
  // Window services: the viewer's tool keys from anywhere in the window, the save question
  // on close, minimising to the tray.
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 public:
  qExtras* m_extras;
  uic::Controller* m_controller;
  qExportUndistImages m_export_undist_dialog;
  qLoadSequenceDialog m_load_sequence_dialog;
  qInteractivHelpDialog m_interactive_help_dialog;
  bool m_tracking_running = false;
  bool m_mask_drawing = false;
  QMenu m_add_object_menu;
  QSignalMapper* m_add_object_mapper = nullptr;
  QMenu m_selection_tool_menu;
  QSignalMapper* m_selection_tool_mapper = nullptr;
  // Started each time the window enters the running state (Qt 6 has no QTime clock).
  QElapsedTimer m_run_clock;
  std::string m_batch_project_template;
  QPixmap m_quality_pixmap;
  qHelpViewer m_help_viewer;
  bool m_batch_mode = false;
  QSystemTrayIcon* m_tray_icon = nullptr;
  int m_feature_mode = 0;

 private:
  // The batch end: project template, exports, the exit code and the end of the event loop.
  void finishBatchRun();
  // The result balloon in batch mode and when the window is hidden; stderr without a tray.
  void showTrayMessage(const QString& title, const QString& text);

  int m_batch_exit_code = -1;
  PackedStringListPtr m_checked_frames;  // the file list that passed checkSequenceFrames
};
