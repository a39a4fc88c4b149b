// Feeds arbitrary bytes to the project-file reader and the tracking job's restore: the root
// block, then the "CTrackMgr" object read into a tracking manager (its images, features, map
// points and vertex objects, its frame cache's settings), linked afterwards. The reader may
// throw its constant texts; anything else (another exception, a crash, a sanitizer report) is a
// fault, and so is a manager left half-restored by a thrown text or unable to load the next
// file. The frame cache's file list is not rebuilt: the names come from the input, and the
// fuzzer must not open whatever files they name.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/project/data_base_in.h"
#include "foundation/project/project_format.h"
#include "foundation/project/project_root.h"
#include "fuzz/fuzz_input_file.h"
#include "tracking/camera_tracking_manager.h"

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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".klx");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
