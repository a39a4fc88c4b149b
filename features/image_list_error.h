// The reprojection error of a list of feature images, the measure behind every
// "RMSE %f [pel]" message of the solver. It sits with the feature images so that every
// solver layer (key-frame selection, point updates, bundle adjustment, the feature
// maps) measures with the same code; the free-motion map offers it as
// FeatureMapMove::GetMSE, whose name its log lines carry.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"

class FeatureImage;

// Mean squared reprojection error per image coordinate over every observation of a
// Cartesian, not removed 3D point by a 2D feature of the listed images, projected with
// the image's camera (lens distortion included). pixels: in pixels^2, else in mm^2 on
// the image plane (x and the projection scaled by the pixel width, y by the height).
// Each observation counts as two measurements; points given as directions are only
// counted. Returns 1e20 for an empty list and 0 when nothing was measured.
//
// Writes each image's statistics (mean squared error, numbers of Cartesian and of
// direction points observed) when the image has at least one measurement; other
// images keep theirs. verbose: level-5 lines per image, the theoretic residual factor
// and the number of synthetic outliers (features with flag 1) met. Null entries are
// skipped.
double ImageListMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels, bool verbose);
