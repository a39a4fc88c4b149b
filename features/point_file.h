// FeaturePointIO: writes the 2D features of one image as a tab-separated text file:
//
//   #FPOINT V2.0
//   one line per feature of the image's feature list (anchors are not written), 12 fields:
//    1, 2  x, y in pixels
//    3     1 when the feature was placed by the user (FP2D_FLAG_MANUAL), else 0
//    4     its 3D point's kind: 1 spherical, 2 Cartesian; 0 without a 3D point
//    5-7   the 3D point's x, y, z (spherical: azimuth, elevation in radians, radius in mm)
//    8     the 3D point's Id
//    9     1 when the feature has a predecessor link, else 0
//    10,11 x, y of the predecessor's earlier feature
//    12    the predecessor link's flags (unsigned)
//   Fields of a missing 3D point or predecessor are 0.
//
// Reals are written in general notation with the object's precision in significant digits
// (trailing zeros dropped), '.' whatever the locale; lines end with LF. Kalvex writes
// these files but never reads them.
#pragma once

class FeatureImage;

class FeaturePointIO {
 public:
  explicit FeaturePointIO(int precision = 12) : precision_(precision) {}

  int GetPrecision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }

  // Creates or truncates path and writes the image's features. False (level 2 log) for a
  // null image or path, a file that cannot be opened, and a write that fails (a partly
  // written file may remain).
  bool Save(const FeatureImage* image, const char* path) const;

 private:
  int precision_;
};
