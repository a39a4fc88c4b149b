// The tracking driver's calls into the manager's bulk operations, in one place.
#include "interaction/meta_ctracker.h"
#include "interaction/undo_stack.h"

namespace uic {

void MetaCTracker::EngineClearAllFPointsAndResetFMap(int bits) {
  ClearAllFPointsAndResetFMap(bits);
}

void MetaCTracker::EngineInitCameras() {
  InitCameras(nullptr);
}

void MetaCTracker::EngineSetInitFocalLength(double focal35) {
  SetInitFocalLength(focal35);
}

long MetaCTracker::EngineSetFPoint2DBitMask(int selector, uint32_t bits, bool set) {
  return SetFPoint2DBitMask(selector, int(bits), set);
}

void MetaCTracker::EngineRecycleImages(unsigned n) {
  RecycleImages(n);
}

void MetaCTracker::EngineClearUndoStack() {
  ClearUndoStack();
}

}  // namespace uic
