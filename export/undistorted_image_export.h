// Writing the frames of a sequence back as image files with the lens distortion removed.
//
// The export dialog fills an UndistortJob and runs ExportUndistortedImages on a thread of its
// own. For every frame of the range the worker reads the frame (or its two fields) through an
// image cache, resamples it through RadialDistortionMapper with that image's distortion
// parameters, stamps the product name and version into it with the painter's stroke font and
// writes it with the image-file library (24 bits per pixel).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "image/meta_mapper.h"
#include "image/packed_string_list.h"

class ImageCache;

// Output pixel (x, y) reads the source at (f·m + px + 0.5, f·l + py + 0.5) with
// m = (x − px)·scale, l = (y − py)·scale and f = model((sx·m)² + (sy·l)², k, inverse): with the
// inverse flag set the output is the ideal (undistorted) picture of a distorted source.
class RadialDistortionMapper : public MetaMapper {
 public:
  RadialDistortionMapper(const RadialDistortionParameters& parameters, bool inverse)
      : parameters_(parameters), inverse_(inverse) {}
  void Map(double& x_out, double& y_out, double x, double y) const override;

  RadialDistortionParameters& Parameters() { return parameters_; }

 private:
  RadialDistortionParameters parameters_;
  bool inverse_;
};

// Progress values: (i + 1)·100 / frames after frame i is written, then one of these.
inline constexpr int kUndistortEnded = 101;
inline constexpr int kUndistortFailed = 102;

struct UndistortJob {
  ImageCache* source_cache = nullptr;  // the tracking job's cache; not owned
  PackedStringListPtr output_names;    // one file name per frame of the range
  PackedStringListPtr image_list;      // the sequence to read
  int first = 0;                       // frame range, both ends included
  int last = -1;
  // One record per image (field) index; images without one use the default record. The
  // worker takes it over and frees it, whatever the outcome.
  std::unique_ptr<std::vector<RadialDistortionParameters>> parameters;
  int format = 4;                              // ImageFileIO write format id
  int direct = 0;                              // 0: remove the distortion (the model's inverse)
  const std::atomic<uint8_t>* stop = nullptr;  // nonzero stops before the next frame
  void (*progress)(void* context, int value) = nullptr;  // runs on the worker's thread
  void* context = nullptr;
};

// 0 when every frame was written or the export was stopped, −1 when it failed (the private
// cache could not open the list, a frame could not be read, a file could not be written);
// files written before a failure or a stop stay.
int ExportUndistortedImages(UndistortJob& job);
