// MetaMapper: maps a destination position to a source position for
// TransformImage (image_transform.h). Positions are pixel coordinates with
// the origin at the top-left corner of pixel (0, 0), so pixel k spans
// [k, k+1). What the mapping means (a lens distortion, a scale) is the
// implementation's.
//
// Map is called concurrently from several threads during one transform: it
// must be safe to call that way. A result that is not finite, or lies very
// far out, simply counts as outside the source.
#pragma once

class MetaMapper {
 public:
  virtual ~MetaMapper() = default;
  virtual void Map(double& x_out, double& y_out, double x, double y) const = 0;
};
