// qLoadSequenceDialog: the modal dialog that loads an image sequence into the current
// tracker. Browse finds the numbered sequence a chosen file belongs to (qExtras::
// loadSequence) and shows its folder, first file, numbering range and a preview of its
// first picture; the user may narrow the range ("Only load range" loads only that part)
// and choose the interlacing. OK hands the list to the controller and sets the tracking
// range in frame positions (not file numbers).
//
// OK stays disabled until a browse of this run found a sequence: loading replaces the
// current project, and that must only happen for a sequence the user just chose (the
// question to save changes is part of the browse). A range bound that no file carries (the
// numbering has gaps) snaps to the file with the nearest number.
//
// Threads: interface thread only.
#pragma once

#include <QDialog>
#include <QString>

#include "image/packed_string_list.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class qExtras;
namespace uic {
class Controller;
}

class qLoadSequenceDialog : public QDialog {
  Q_OBJECT

 public:
  // A top-level window: window is not made its parent.
  explicit qLoadSequenceDialog(QWidget* window);

  // The position in list of the file numbered number, or of the file with the nearest
  // number (the lower one on a tie); -1 for an empty list.
  static int NearestPosition(const PackedStringList& list, int number);

  QLineEdit* m_sequence_path_le;
  QPushButton* m_load_sequence_pb;
  QLineEdit* m_file_mask_le;
  QSpinBox* m_start_frame_sb;
  QSpinBox* m_end_frame_sb;
  QCheckBox* m_only_load_range_cb;
  QLineEdit* m_total_number_of_images_le;
  QComboBox* m_deinterlacing_mode_cb;
  QLabel* m_image_label;
  QDialogButtonBox* buttonBox;

 public Q_SLOTS:
  void handleSequenceRangeChanged();
  void handleLoadSequenceButtonClick();
  void accept() override;
  int exec() override;

 private:
  void ResetFields();

  qExtras* m_extras;
  uic::Controller* m_controller;
  QString m_path;
  PackedStringListPtr m_file_list;
};
