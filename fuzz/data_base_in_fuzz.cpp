// Feeds arbitrary bytes to the project-file reader, twice:
// - the tracking job's restore alone: the root block, then the "CTrackMgr" object read into a
//   tracking manager (its images, features, map points and vertex objects, its frame cache's
//   settings), linked afterwards. The reader may throw its constant texts; anything else
//   (another exception, a crash, a sanitizer report) is a fault, and so is a manager left
//   half-restored by a thrown text or unable to load the next file. The frame cache's file
//   list is not rebuilt here.
// - the whole project load of the tracker (LoadProject): the job, its image list and the
//   scene's user objects (bare nodes where a stored class is not built). It reports every
//   failure as false; a crash or sanitizer report is a fault, and so is a tracker that cannot
//   load the next file after a failure. The image list is rebuilt from the names in the input,
//   so the seeds name movie files, which the frame cache lists without opening; other names
//   are opened read-only, as any project's would be.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/project/data_base_in.h"
#include "foundation/project/project_format.h"
#include "foundation/project/project_root.h"
#include "fuzz/fuzz_input_file.h"
#include "interaction/meta_ctracker.h"
#include "scene/objects/stored_object_for_test.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

// The smallest job a manager loads: one frame, no map object.
constexpr char kSmallJob[] =
    "KLXP\nVersion 1.0\nMode ascii\nKLX {\nCTrackMgr {\nFImage {\nIndex 0\n}\n}\n}\n";

bool Empty(CameraTrackingManager& manager) {
  return manager.GetImageList().empty() && manager.m_fmap_move->GetFPoint3DList().empty() &&
         manager.GetVertexObjectPool().GetPolygonMasks().empty() &&
         manager.GetVertexObjectPool().GetLineStrips().empty() &&
         manager.GetVertexObjectPool().GetFocalGizmos().empty() &&
         manager.GetInitCamera() == nullptr && manager.GetImagePath() == nullptr;
}

// Reads the root block's start and the manager object from path; false on a thrown text.
bool ReadJob(const char* path, CameraTrackingManager& manager, bool* in_job) {
  *in_job = false;
  try {
    DataBaseIn in;
    in.Open(path);
    if (in.GetIdentifier() != (in.IsBinary() ? PF_KEY_KLX.id : uint8_t{'K'})) return false;
    if (!in.IsBinary()) {
      char rest[PF_MAX_KEY + 1];
      in.GetAToken(rest, sizeof rest);  // "LX" of the root key
    }
    in.GetIdentifier();  // the root's opening mark
    *in_job = true;
    manager.Read(in);
    *in_job = false;
    AtBlockEnd(in);
  } catch (const char*) {
    return false;
  }
  return true;
}

// The whole load into one tracker, reused from input to input as an open action's tracker
// never is: a failed load must leave it able to load again.
void LoadProject(const char* path) {
  static uic::MetaCTracker* tracker = new uic::MetaCTracker;
  tracker->GetScene().ClearData();
  if (tracker->LoadProject(path, kxtest::CreateStoredOrBareObject)) return;
  path = fuzz::WriteInput(reinterpret_cast<const uint8_t*>(kSmallJob), std::strlen(kSmallJob));
  tracker->GetScene().ClearData();
  // The small job names no file: its image list cannot be rebuilt, but its one image stays.
  tracker->LoadProject(path);
  if (tracker->GetImageList().size() != 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".klx");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadProject(fuzz::WriteInput(data, size));
  const char* path = fuzz::WriteInput(data, size);
  CameraTrackingManager manager;
  const int field_mode = manager.GetImageCache()->GetFieldMode();
  const bool top_field_first = manager.GetImageCache()->TopFieldFirst();
  bool in_job = false;
  if (ReadJob(path, manager, &in_job) || !in_job) return 0;
  // A format error inside the job, reported as the reader's contract says: the job must be
  // empty, the cache as it was, and the next load must work.
  if (!Empty(manager)) std::abort();
  if (manager.GetImageCache()->GetFieldMode() != field_mode ||
      manager.GetImageCache()->TopFieldFirst() != top_field_first) {
    std::abort();
  }
  path = fuzz::WriteInput(reinterpret_cast<const uint8_t*>(kSmallJob), std::strlen(kSmallJob));
  if (!ReadJob(path, manager, &in_job) || manager.GetImageList().size() != 1) std::abort();
  return 0;
}
