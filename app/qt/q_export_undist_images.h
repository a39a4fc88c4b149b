// qExportUndistImages: the modeless dialog that writes the frames of the tracking range
// back to disk with the lens distortion removed, one file per frame named
// <directory>/<base name><file number, zero-padded to 5 digits>.<tga|ppm|png>.
//
// The export runs on a worker thread of its own (ExportUndistortedImages); everything it
// needs (names, file list, range, one distortion record per image) is gathered on the
// interface thread before it starts, so the worker reads nothing of the tracker but its
// image cache. Its progress arrives as queued progressStatusChanged signals; the end value
// (above 100) joins the worker on the interface thread and tells the user how it ended:
// written, stopped or failed (with the image that could not be made).
//
// Safety: names are put together from the texts, never used as a format, so any character
// is a plain character. Names that two frames would share are refused before anything is
// written; files that exist already are overwritten only after the user agreed. Closing the
// dialog during an export stops it before the next frame and waits for the worker;
// destroying the dialog does the same.
//
// Threads: interface thread, but for requestStop (any thread).
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "image/packed_string_list.h"

class CameraTrackingManager;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class qDialogRunner;
struct UndistortJob;
namespace platform {
class Thread;
}

class qExportUndistImages : public QDialog {
  Q_OBJECT

 public:
  explicit qExportUndistImages(QWidget* window);
  // Stops a running export and waits for its worker.
  ~qExportUndistImages() override;

  // Gathers the names and starts the worker. Does nothing (a notice) while an export runs,
  // and nothing without manager or without a loaded sequence. Refuses names that collide
  // and asks before existing files are overwritten.
  void startSaving(CameraTrackingManager* manager);
  // Asks a running export to stop before its next frame; its end is reported as stopped.
  void requestStop() { m_stop.store(1); }
  bool isExporting() const;

  // The runner of the dialog's message boxes; null restores the default. Not owned.
  void setDialogRunner(qDialogRunner* runner);

  // The output name of a frame whose file number is number.
  std::string outputName(int number) const;

  QLineEdit* m_directory_le;
  QPushButton* m_browse_pb;
  QLineEdit* m_base_name_le;
  QComboBox* m_exportformat_cb;
  QLineEdit* m_filemask_le;
  QProgressBar* m_progress_prog;
  QPushButton* m_export_pb;
  QPushButton* m_close_pb;

 Q_SIGNALS:
  void progressStatusChanged(unsigned value);

 public Q_SLOTS:
  void browseButtonPressed();
  void exportButtonPressed();
  void updateFilemaskLabel();
  void setProgressStatus(unsigned value);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  static void Work(void* dialog);
  static void Progress(void* dialog, int value);
  // Joins the worker; with stopped set, first asks it to stop and drops its reports still
  // queued. Then tells the user how the export ended.
  void finishExport(unsigned end_value, bool stopped);
  int showBox(int icon, const QString& title, const QString& text, int buttons, int fallback);

  CameraTrackingManager* m_manager = nullptr;
  PackedStringListPtr m_input_list;
  PackedStringListPtr m_output_names;
  int m_first_frame = 0;
  int m_last_frame = 0;
  int m_format = 2;
  std::string m_directory = ".";
  std::string m_base_name = "undist";
  std::string m_extension = "tga";
  int m_digits = 5;
  std::atomic<uint8_t> m_stop{0};
  std::atomic<int> m_written{0};  // frames the running export has written (worker counts)
  std::unique_ptr<UndistortJob> m_job;
  std::unique_ptr<platform::Thread> m_worker;
  qDialogRunner* m_runner;
};
