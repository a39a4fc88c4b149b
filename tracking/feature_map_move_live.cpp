#include "tracking/feature_map_move_live.h"

FeatureMapMoveLive::FeatureMapMoveLive() {
  m_parameter.m_estimate_focal = 0;
}

FeatureMapMoveLive::~FeatureMapMoveLive() = default;
