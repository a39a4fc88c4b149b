// Feeds arbitrary bytes to the project-file reader as a small job: a root object holding
// cameras, 2D features and 3D points. The reader may throw its constant texts; anything
// else (another exception, a crash, a sanitizer report) is a fault.

#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/project/data_base.h"
#include "foundation/project/data_base_in.h"
#include "foundation/project/project_format.h"
#include "foundation/tracks/feature_point.h"
#include "fuzz/fuzz_input_file.h"

namespace {

struct StoredCamera : DataBase, PerspectiveCamera {
  bool CheckForField(DataBaseIn& in, const char* key) override {
    return PerspectiveCamera::CheckForField(in, key);
  }
};

// Stands in for the tracking manager: what Read needs, and a child list of each kind.
struct Root : DataBase {
  std::vector<StoredCamera> cameras;
  std::vector<FeaturePoint2D> features;
  std::vector<FeaturePoint3D> points;

  void Clear() {
    cameras.clear();
    features.clear();
    points.clear();
  }
  void PostProcessDataBaseIn() {}
  bool CheckForField(DataBaseIn& in, const char* key) override {
    if (in.IsField(key, PF_KEY_FIMAGE)) {
      cameras.emplace_back().RestoreObject(in);
    } else if (in.IsField(key, PF_KEY_FP2D)) {
      features.emplace_back().RestoreObject(in);
    } else if (in.IsField(key, PF_KEY_FP3D)) {
      points.emplace_back().RestoreObject(in);
    } else {
      return false;
    }
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".klx");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = fuzz::WriteInput(data, size);
  try {
    DataBaseIn in;
    in.Open(path);
    Root root;
    in.Read(root);
  } catch (const char*) {
    // A format error, reported as the reader's contract says.
  }
  return 0;
}
