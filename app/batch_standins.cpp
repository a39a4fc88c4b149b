// STAND-IN, replaced at merge (see batch_standins.h).
#include "app/batch_standins.h"

#include <cstdlib>
#include <shared_mutex>

#include "export/writers/save_cam_path_text.h"
#include "foundation/runtime/notify.h"
#include "image/packed_string_list.h"
#include "tracking/camera_tracking_manager.h"

namespace {

const ogem::CommandlineParser::Option kRows[] = {
    {"first-frame", 'F', "FRAME", 0, "first frame"},
    {"last-frame", 'L', "FRAME", 0, "last frame"},
    {"export-text", 363, "FILE", 0, "export camera path as text file"},
    {"verbose", 'v', "LEVEL", 0, "log level"},
    {"batch-mode", 359, nullptr, 0, "track, export and exit"},
    {nullptr, 0, nullptr, 0, nullptr},
};

}  // namespace

CommandlineParserCameraTracking::CommandlineParserCameraTracking() {
  SetOptionTable(kRows);
  m_synopsis = "<image file template>";
}

int CommandlineParserCameraTracking::OnOption(int code, const char* value) {
  const bool has_value = value != nullptr && *value != '\0';
  switch (code) {
    case 'F':
    case 'L': {
      if (!has_value) break;
      char* end = nullptr;
      const long n = std::strtol(value, &end, 10);
      if (*end != '\0' || n < -1 || n > 1000000000L) break;
      (code == 'F' ? m_options.first_frame : m_options.last_frame) = int(n);
      return 0;
    }
    case 363:
      if (!has_value) break;
      m_options.export_list.push_back({value, 1});
      return 0;
    case 'v':
      if (has_value && NotifyContext::SetGlobalNotifyLevelByName(value)) return 0;
      break;
    case 359:
      m_options.batch_mode = true;
      return 0;
    default:
      break;
  }
  m_reasons.push_back(std::string("option ") + std::to_string(code) + " rejected");
  return kRejected;
}

int CommandlineParserCameraTracking::OnFiles(const std::vector<std::string>& files) {
  if (files.size() == 1) {
    m_image_file_template = files[0];
    m_sequence_given = true;
  }
  return 0;
}

void CommandlineParserCameraTracking::ExpandArguments(PackedStringList& list, int argc,
                                                      const char* const* argv, const char*) {
  for (int i = 0; i < argc; ++i) list.Append(argv[i], i);
}

int CommandlineParserCameraTracking::ParseList(const PackedStringList& list) {
  std::vector<const char*> argv;
  for (int i = 0; i < list.Count(); ++i) argv.push_back(list.GetEntryName(i));
  return Parse(int(argv.size()), argv.data());
}

bool CommandlineParserCameraTracking::ConfigureCTrackMgr(CameraTrackingManager* manager) {
  if (manager == nullptr) return false;
  manager->m_batch_mode = m_options.batch_mode;
  manager->m_num_threads = m_options.thread_count;
  manager->m_export_list = m_options.export_list;
  return true;
}

namespace FileIO {

void SaveCameraTrackingManager(CameraTrackingManager* manager, const char* directory,
                               const char* file, int type) {
  if (file == nullptr) throw "FileIO::SaveCameraTrackingManager: file name not set";
  if (type != 1) {
    Notify(2, "FileIO::SaveCameraTrackingManager: type %d not supported!", type);
    return;
  }
  SharedPtr<FeatureMap> map = manager->GetFeatureMap();
  if (!map) {
    Notify(2, "FileIO::SaveCameraTrackingManager: feature map not set");
    return;
  }
  SaveCamPath::CameraList cameras;
  const int step = manager->GetFrameStep() == 0 ? 1 : std::abs(manager->GetFrameStep());
  for (int i = manager->GetFrameStart(); i <= manager->GetFrameEnd(); i += step) {
    if (SharedPtr<FeatureImage>& image = manager->GetFImage(unsigned(i))) cameras.push_back(image);
  }
  SaveCamPathText writer(directory, file);
  bool ok = false;
  {
    std::shared_lock<ReadWriteSpinLock> lock(map->GetFPoint3DLock());
    ok = writer.Save(cameras, map->GetFPoint3DList());
  }
  if (!ok) throw "FileIO::SaveCameraTrackingManager: saving failed";
}

}  // namespace FileIO

TrackingSettings CurrentTrackingSettings() {
  return TrackingSettings();
}
