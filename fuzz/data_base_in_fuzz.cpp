// Feeds arbitrary bytes to the project-file reader and the tracking job's restore: the root
// block, then the "CTrackMgr" object with its images, features, map points and vertex
// objects, linked afterwards. The reader may throw its constant texts; anything else (another
// exception, a crash, a sanitizer report) is a fault, and so is a job left half-restored by
// a thrown text.

#include <cstdint>
#include <cstdlib>

#include "foundation/project/data_base_in.h"
#include "foundation/project/project_format.h"
#include "foundation/project/project_root.h"
#include "fuzz/fuzz_input_file.h"
#include "image/image_cache.h"
#include "tracking/ctrack_mgr_root.h"
#include "tracking/feature_map.h"

namespace {

// The restore only appends points and hands the map its frames.
class FuzzMap : public FeatureMap {
 public:
  bool OutlierElimination() override { return false; }
  bool CameraEstimation() override { return false; }
  bool FinalEstimation() override { return false; }
  bool Refinement() override { return false; }
  void GetMSE() override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".klx");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = fuzz::WriteInput(data, size);
  FuzzMap map;
  ImageCache cache;
  CTrackMgrRoot root;
  CTrackMgrRoot::Links links;
  links.map = &map;
  links.image_cache = &cache;
  root.SetLinks(links);
  try {
    DataBaseIn in;
    in.Open(path);
    if (in.GetIdentifier() != (in.IsBinary() ? PF_KEY_KLX.id : uint8_t{'K'})) return 0;
    if (!in.IsBinary()) {
      char rest[PF_MAX_KEY + 1];
      in.GetAToken(rest, sizeof rest);  // "LX" of the root key
    }
    in.GetIdentifier();  // the root's opening mark
    try {
      root.Read(in);
    } catch (const char*) {
      // A format error, reported as the reader's contract says; the job must be empty.
      if (!root.GetImageList().empty() || !map.GetFPoint3DList().empty()) std::abort();
      return 0;
    }
    AtBlockEnd(in);
  } catch (const char*) {
    // A format error before or after the job.
  }
  return 0;
}
