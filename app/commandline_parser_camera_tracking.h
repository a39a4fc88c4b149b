// CommandlineParserCameraTracking: the program's command line. It supplies the option
// table (frame range, scan format, pixel aspect, estimation method, feature-tracking
// settings, exports, log level, batch mode), keeps what the options set in a
// CameraTrackingOptions record, expands configuration files into arguments, and applies
// the record to the first tracking job (ConfigureCTrackMgr).
//
// Values: whole numbers must be the whole value, in range ("UNSIGNED" options refuse a
// sign); real numbers must be finite and are read in the C locale whatever the process's
// locale. A rejected value returns kRejected (the parser then sets its error and help
// flags) and leaves the field unchanged; ErrorReasons() says what was rejected.
//
// Configuration files: "--config-file=PATH" (the key passed to ExpandArguments) stands
// for the file's lines. Each line is a name and an optional value separated by blanks,
// tabs or "="; "#" starts a comment; a value ends at the first blank. Files may name
// further files, ten levels deep; deeper references are dropped. A file that cannot be
// opened, a line of 4095 characters or more (which ends the reading of that file), and an
// expansion beyond kMaxConfigFiles files read or kMaxConfigTokens arguments (which ends
// the expansion) are reported at level 2 and make the parse fail.
//
// Not thread-safe; used on the start-up thread only.
#pragma once

#include <string>
#include <vector>

#include "app/camera_tracking_options.h"
#include "app/commandline_parser.h"

class CameraTrackingManager;
class CameraTrackingPool;
class PackedStringList;

class CommandlineParserCameraTracking : public ogem::CommandlineParser {
 public:
  // Option codes of the table (an ASCII letter is also the one-letter form).
  enum Code {
    kFirstFrame = 'F',
    kLastFrame = 'L',
    kDeinterlacing = 'd',
    kPixelAspect = 'A',
    kEstimationMethod = 'm',
    kCornerCount = 279,
    kMinDistance = 280,
    kMinEigenvalue = 282,
    kConsistencyCheck = 291,
    kExportText = 363,
    kExportMax = 364,
    kExportXsi = 365,
    kExportMaya = 366,
    kExportBlender = 367,
    kExportLightwave = 368,
    kExportCahvText = 369,
    kPointLimit = 'l',
    kVerbose = 'v',
    kBatchMode = 359,
  };

  // Configuration-file token buffer, "--" included.
  static constexpr int kTokenBufferSize = 4096;
  // References nested deeper than this are dropped.
  static constexpr int kMaxConfigDepth = 10;
  // Bounds of the whole expansion: files that name each other several times would
  // otherwise multiply at every level. Beyond either the parse fails.
  static constexpr int kMaxConfigFiles = 256;
  static constexpr int kMaxConfigTokens = 100000;

  CommandlineParserCameraTracking();
  ~CommandlineParserCameraTracking() override;

  int OnOption(int code, const char* value) override;
  // Exactly one file argument becomes the image file template; none or several set
  // nothing and are no error.
  int OnFiles(const std::vector<std::string>& files) override;

  // Appends argv[0..argc-1] to list, each through AddTokenOrFile with depth 0.
  void ExpandArguments(PackedStringList& list, int argc, const char* const* argv, const char* key);
  // Appends one argument (length characters of argument) to list, or, when it is
  // "--<key>=PATH" with a non-empty PATH, the arguments of that configuration file in its
  // order. A null key disables references.
  void AddTokenOrFile(PackedStringList& list, const char* argument, int length, const char* key,
                      int key_length, int depth);
  // Parses the entries of an expanded list (the first entry is the program name).
  int ParseList(const PackedStringList& list);

  // Applies the record to a job: the pool configuration, then the image sequence when a
  // template was given, then the pixel aspect when one was given. False for a null
  // manager or when the pool configuration failed.
  bool ConfigureCTrackMgr(CameraTrackingManager* manager);
  // Chooses and configures the pool's components from the record and stores the export
  // list, the batch flag and the thread count. False only for a null pool; an unknown
  // method is a warning after which the remaining steps are skipped (result true).
  bool ConfigureCTrackPool(CameraTrackingPool* pool);
  // Copies the record's feature-tracking, camera and refinement values into the
  // controller's tracking settings.
  void ConfigureControllerSettings();

  // One line per rejected argument or configuration file of the last parse, in order.
  std::vector<std::string> ErrorReasons() const;

  const CameraTrackingOptions& Options() const { return m_options; }
  CameraTrackingOptions& Options() { return m_options; }
  const std::string& ImageFileTemplate() const { return m_image_file_template; }
  bool SequenceGiven() const { return m_sequence_given; }

 protected:
  std::string m_image_file_template;
  bool m_sequence_given = false;
  CameraTrackingOptions m_options;

 private:
  void Reject(const char* what, int code, const char* value);
  // Ends the configuration-file expansion for good and fails the parse.
  void StopExpansion(const std::string& why);
  void ReadConfigFile(PackedStringList& list, const std::string& path, const char* key,
                      int key_length, int depth);

  std::vector<std::string> m_value_errors;
  std::vector<std::string> m_file_errors;
  int m_config_files_read = 0;
  int m_config_tokens = 0;
  bool m_expansion_stopped = false;
};
