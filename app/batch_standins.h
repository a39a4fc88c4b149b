// STAND-IN, replaced at merge: the command line of the tracking options, the export
// dispatcher and the controller's tracking settings, being built in parallel. The names
// and signatures are theirs, so the program compiles unchanged against either; only the
// few options and the one export type the batch road needs today are here.
#pragma once

#include <string>
#include <vector>

#include "app/commandline_parser.h"
#include "interaction/tracking_settings.h"
#include "tracking/camera_tracking_pool.h"

class CameraTrackingManager;
class PackedStringList;

struct CameraTrackingOptions {
  int first_frame = -1;
  int last_frame = -1;
  std::vector<ExportRequest> export_list;
  std::string log_file_path;
  std::string batch_project_template;
  bool batch_mode = false;
  int thread_count = -1;
  double pixel_aspect = -1.0;
  int deinterlacing = 0;
};

class CommandlineParserCameraTracking : public ogem::CommandlineParser {
 public:
  CommandlineParserCameraTracking();
  int OnOption(int code, const char* value) override;
  int OnFiles(const std::vector<std::string>& files) override;
  void ExpandArguments(PackedStringList& list, int argc, const char* const* argv, const char* key);
  int ParseList(const PackedStringList& list);
  // Stand-in: the pool's batch flag, threads and export list; no sequence is loaded.
  bool ConfigureCTrackMgr(CameraTrackingManager* manager);
  std::vector<std::string> ErrorReasons() const { return m_reasons; }
  const CameraTrackingOptions& Options() const { return m_options; }
  CameraTrackingOptions& Options() { return m_options; }
  const std::string& ImageFileTemplate() const { return m_image_file_template; }
  bool SequenceGiven() const { return m_sequence_given; }

 private:
  std::string m_image_file_template;
  bool m_sequence_given = false;
  CameraTrackingOptions m_options;
  std::vector<std::string> m_reasons;
};

namespace FileIO {
// Stand-in: type 1 (text) only; failures are thrown as texts.
void SaveCameraTrackingManager(CameraTrackingManager* manager, const char* directory,
                               const char* file, int type);
}  // namespace FileIO

// Stand-in for the controller's current tracking settings.
TrackingSettings CurrentTrackingSettings();
