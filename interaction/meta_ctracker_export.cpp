#include "export/file_io.h"
#include "interaction/meta_ctracker.h"

namespace uic {

bool MetaCTracker::ExportCameraPath(const char* directory, const char* file_name, int type) {
  // The writers of user objects read the scene the user sees; the tree is not changed.
  return FileIO::SaveCameraTrackingManager(this, directory, file_name, type, &m_scene);
}

}  // namespace uic
