#include "app/qt/q_scrub_slider.h"

qScrubSlider::qScrubSlider(QWidget* parent) : QSlider(parent) {}

qScrubSlider::~qScrubSlider() = default;
