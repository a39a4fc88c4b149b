#include "app/qt/q_timebar.h"

qTimebar::qTimebar(QWidget* parent) : QWidget(parent) {}

qTimebar::~qTimebar() = default;
