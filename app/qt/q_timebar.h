// qTimebar: the playback bar under the viewer: current frame, tracking range, transport
// buttons and the curve timeline.
#pragma once

#include <QWidget>

class qTimebar : public QWidget {
  Q_OBJECT

 public:
  explicit qTimebar(QWidget* parent = nullptr);
  ~qTimebar() override;
};
