#include "app/qt/q_load_sequence_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <cstdlib>

#include "app/qt/q_extras.h"
#include "interaction/controller.h"
#include "interaction/sequence_property.h"

namespace {

constexpr int kMaxFrameNumber = 9999999;

}  // namespace

qLoadSequenceDialog::qLoadSequenceDialog(QWidget* /*window*/)
    : QDialog(nullptr),
      m_extras(qExtras::instance()),
      m_controller(uic::Controller::Instance()),
      m_file_list(PackedStringListPtr::Make()) {
  setObjectName(QStringLiteral("LoadSequenceDialog"));
  setWindowTitle(tr("Load Sequence"));
  resize(384, 501);
  setFixedSize(384, 501);
  auto* grid = new QGridLayout(this);
  grid->setObjectName(QStringLiteral("gridLayout_2"));

  auto* path_row = new QHBoxLayout();
  path_row->addWidget(new QLabel(tr("Path:"), this));
  m_sequence_path_le = new QLineEdit(this);
  m_sequence_path_le->setObjectName(QStringLiteral("m_sequence_path_le"));
  path_row->addWidget(m_sequence_path_le);
  grid->addLayout(path_row, 0, 0);
  m_load_sequence_pb = new QPushButton(QStringLiteral("..."), this);
  m_load_sequence_pb->setObjectName(QStringLiteral("m_load_sequence_pb"));
  m_load_sequence_pb->setToolTip(tr("Browse"));
  grid->addWidget(m_load_sequence_pb, 0, 1);

  auto* properties = new QGroupBox(tr("Properties"), this);
  auto* pgrid = new QGridLayout(properties);
  auto* mask_row = new QHBoxLayout();
  mask_row->addWidget(new QLabel(tr("Mask:"), properties));
  m_file_mask_le = new QLineEdit(properties);
  m_file_mask_le->setObjectName(QStringLiteral("m_file_mask_le"));
  m_file_mask_le->setReadOnly(true);
  mask_row->addWidget(m_file_mask_le);
  pgrid->addLayout(mask_row, 0, 0);
  auto* range_row = new QHBoxLayout();
  range_row->addWidget(new QLabel(tr("Start:"), properties));
  m_start_frame_sb = new QSpinBox(properties);
  m_start_frame_sb->setObjectName(QStringLiteral("m_start_frame_sb"));
  m_start_frame_sb->setMinimumWidth(80);
  m_start_frame_sb->setMaximum(kMaxFrameNumber);
  range_row->addWidget(m_start_frame_sb);
  range_row->addStretch();
  range_row->addWidget(new QLabel(tr("End:"), properties));
  m_end_frame_sb = new QSpinBox(properties);
  m_end_frame_sb->setObjectName(QStringLiteral("m_end_frame_sb"));
  m_end_frame_sb->setMinimumWidth(80);
  m_end_frame_sb->setMaximum(kMaxFrameNumber);
  range_row->addWidget(m_end_frame_sb);
  pgrid->addLayout(range_row, 1, 0);
  m_only_load_range_cb = new QCheckBox(tr("Only load range"), properties);
  m_only_load_range_cb->setObjectName(QStringLiteral("m_only_load_range_cb"));
  m_only_load_range_cb->setMinimumWidth(180);
  m_only_load_range_cb->setToolTip(
      tr("Enable this checkbox, if you only want to load the imges in the given range."));
  pgrid->addWidget(m_only_load_range_cb, 2, 0);
  auto* numbers = new QGridLayout();
  numbers->setColumnStretch(0, 3);
  numbers->addWidget(new QLabel(tr("Total:"), properties), 0, 0);
  m_total_number_of_images_le = new QLineEdit(properties);
  m_total_number_of_images_le->setObjectName(QStringLiteral("m_total_number_of_images_le"));
  m_total_number_of_images_le->setReadOnly(true);
  numbers->addWidget(m_total_number_of_images_le, 0, 1);
  numbers->addWidget(new QLabel(tr("Interlacing:"), properties), 1, 0);
  m_deinterlacing_mode_cb = new QComboBox(properties);
  m_deinterlacing_mode_cb->setObjectName(QStringLiteral("m_deinterlacing_mode_cb"));
  m_deinterlacing_mode_cb->setToolTip(tr("Change the sequence interlacing mode"));
  numbers->addWidget(m_deinterlacing_mode_cb, 1, 1);
  pgrid->addLayout(numbers, 3, 0);
  grid->addWidget(properties, 1, 0, 1, 2);

  auto* preview = new QGroupBox(tr("Preview"), this);
  auto* preview_grid = new QGridLayout(preview);
  m_image_label = new QLabel(preview);
  m_image_label->setObjectName(QStringLiteral("m_image_label"));
  m_image_label->setMinimumHeight(142);
  m_image_label->setAlignment(Qt::AlignCenter);
  preview_grid->addWidget(m_image_label, 0, 0);
  grid->addWidget(preview, 2, 0, 1, 2);

  buttonBox =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
  buttonBox->setObjectName(QStringLiteral("buttonBox"));
  grid->addWidget(buttonBox, 3, 0, 1, 2);
  connect(buttonBox, &QDialogButtonBox::accepted, this, &qLoadSequenceDialog::accept);
  connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

  m_deinterlacing_mode_cb->clear();
  m_deinterlacing_mode_cb->addItem(tr("Progressive"), 0);
  m_deinterlacing_mode_cb->addItem(tr("Upper Field"), 1);
  m_deinterlacing_mode_cb->addItem(tr("Lower Field"), 2);
  m_deinterlacing_mode_cb->addItem(tr("Both Fields (upper first)"), 3);
  m_deinterlacing_mode_cb->addItem(tr("Both Fields (lower first)"), 4);

  connect(m_load_sequence_pb, &QPushButton::clicked, this,
          &qLoadSequenceDialog::handleLoadSequenceButtonClick);
  connect(m_start_frame_sb, &QSpinBox::valueChanged, this,
          &qLoadSequenceDialog::handleSequenceRangeChanged);
  connect(m_end_frame_sb, &QSpinBox::valueChanged, this,
          &qLoadSequenceDialog::handleSequenceRangeChanged);
  ResetFields();
}

int qLoadSequenceDialog::NearestPosition(const PackedStringList& list, int number) {
  const int exact = list.FindNumber(number);
  if (exact >= 0) return exact;
  int best = -1;
  long long best_distance = 0;
  for (int i = 0; i < list.Count(); ++i) {
    const long long distance = std::llabs(static_cast<long long>(list.GetEntryNumber(i)) - number);
    if (best < 0 || distance < best_distance ||
        (distance == best_distance && list.GetEntryNumber(i) < list.GetEntryNumber(best))) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

void qLoadSequenceDialog::ResetFields() {
  m_sequence_path_le->clear();
  m_file_mask_le->clear();
  m_total_number_of_images_le->clear();
  m_image_label->clear();
  {
    const QSignalBlocker start(m_start_frame_sb), end(m_end_frame_sb);
    m_start_frame_sb->setRange(0, 0);
    m_start_frame_sb->setValue(0);
    m_end_frame_sb->setMaximum(1);
    m_end_frame_sb->setMinimum(1);
    m_end_frame_sb->setValue(1);
  }
  m_only_load_range_cb->setChecked(false);
  // Only a sequence found by a browse of this run may be loaded.
  buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
}

int qLoadSequenceDialog::exec() {
  ResetFields();
  return QDialog::exec();
}

void qLoadSequenceDialog::handleLoadSequenceButtonClick() {
  ResetFields();
  if (!m_extras->loadSequence(m_file_list) || !m_file_list) return;
  const int count = m_file_list->Count();
  m_path = count > 0 ? QFile::decodeName(m_file_list->GetEntryName(0)) : QStringLiteral("no image");
  const int first = count > 0 ? m_file_list->GetEntryNumber(0) : 0;
  const int last = count > 0 ? m_file_list->GetEntryNumber(count - 1) : 0;
  const QFileInfo info(m_path);
  m_sequence_path_le->setText(info.absolutePath());
  m_file_mask_le->setText(info.fileName());
  m_total_number_of_images_le->setText(QString::number(last - first + 1));
  {
    const QSignalBlocker start(m_start_frame_sb), end(m_end_frame_sb);
    m_start_frame_sb->setRange(first, last);
    m_start_frame_sb->setValue(first);
    m_end_frame_sb->setMaximum(last);
    m_end_frame_sb->setMinimum(first + 1);
    m_end_frame_sb->setValue(last);
  }
  QImageReader reader(m_path);
  const QImage picture = reader.read();
  if (picture.isNull()) {
    m_image_label->setText(tr("No preview image available!"));
  } else {
    m_image_label->setPixmap(QPixmap::fromImage(picture).scaledToHeight(m_image_label->height()));
  }
  buttonBox->button(QDialogButtonBox::Ok)->setEnabled(count > 0);
}

void qLoadSequenceDialog::handleSequenceRangeChanged() {
  const int start = m_start_frame_sb->value();
  const int end = m_end_frame_sb->value();
  m_total_number_of_images_le->setText(QString::number(end - start + 1));
  m_start_frame_sb->setMaximum(end - 1);
  m_end_frame_sb->setMinimum(start + 1);
}

void qLoadSequenceDialog::accept() {
  if (!m_file_list || m_file_list->Count() == 0) return;
  const int start_number = m_start_frame_sb->value();
  const int end_number = m_end_frame_sb->value();
  int start = NearestPosition(*m_file_list, start_number);
  int end = std::max(start, NearestPosition(*m_file_list, end_number));
  PackedStringListPtr list = m_file_list;
  if (m_only_load_range_cb->isChecked()) {
    auto cut = PackedStringListPtr::Make();
    for (int i = start; i <= end; ++i) {
      cut->Append(list->GetEntryName(i), list->GetEntryNumber(i));
    }
    list = cut;
    start = 0;
    end = cut->Count() - 1;
  }
  if (m_controller->SetSequence(list) != 0) return;
  m_file_list = list;
  m_controller->SetCurrentFrame(0, false);
  m_controller->EmitCurrentFrameChanged();
  uic::SequenceProperty property = m_controller->GetSequenceProperty();
  int interlacing = 0;
  if (currentComboInt(&interlacing, m_deinterlacing_mode_cb)) property.m_interlacing = interlacing;
  m_controller->SetSequenceProperty(property);
  m_controller->GetGlobal()->SetStartFrame(start);
  m_controller->GetGlobal()->SetEndFrame(end);
  m_controller->SetCurrentFrame(start, false);
  QDialog::accept();
}
