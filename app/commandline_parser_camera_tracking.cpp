#include "app/commandline_parser_camera_tracking.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "foundation/runtime/notify.h"
#include "image/packed_string_list.h"
#include "platform/string_compare.h"

namespace {

using Option = ogem::CommandlineParser::Option;
using P = CommandlineParserCameraTracking;

const Option kOptionTable[] = {
    {"first-frame", P::kFirstFrame, "UNSIGNED", 0,
     "first frame of sequence (def. -1 for the first existing image)"},
    {"last-frame", P::kLastFrame, "UNSIGNED", 0,
     "last frame of sequence (def. -1 for the last existing image)"},
    {"deinterlacing", P::kDeinterlacing, "UNSIGNED", 0,
     "image scan format, maintain or interpolate scan lines: \n\t0: Progressive\n\t1: First "
     "Field Interpolated, Top Field First\n\t2: First Field Interpolated, Bottom Field "
     "First\n\t3: Both Fields Interpolated, Top Field First\n\t4: Both Fields Interpolated, "
     "Bottom Field First (def.: 0)"},
    {"pixel-aspect", P::kPixelAspect, "DOUBLE", 0, "set pixel aspect ratio (def. 1.0 for \"1:1\")"},
    {"est-method", P::kEstimationMethod, "STRING", 0,
     "select an estimation method. Available are: \"pan\", \"free\" (def.: is \"free\")"},
    {"ft-corner-count", P::kCornerCount, "UNSIGNED", 0,
     "sets the number of feature points (def.: 1000)"},
    {"ft-min-dist", P::kMinDistance, "UNSIGNED", 0,
     "minimum distance between each feature being selected, in pixels (def.: 21)"},
    {"ft-min-eigenvalue", P::kMinEigenvalue, "UNSIGNED", 0,
     "minimum allowable eigenvalue for new features being selected (def.: 150)"},
    {"ft-feature-consistency-check", P::kConsistencyCheck, "STRING", 0,
     "select the consistency check method \"no\", \"translation\", \"similarity\" or "
     "\"affine\", (def. no)"},
    {"export-text", P::kExportText, "STRING", 0, "save tracking result as text file"},
    {"export-max", P::kExportMax, "STRING", 0, "save tracking result as 3D Studio Max Script"},
    {"export-xsi", P::kExportXsi, "STRING", 0, "save tracking result as Softimage XSI file"},
    {"export-maya", P::kExportMaya, "STRING", 0, "save tracking result as Maya script"},
    {"export-blender", P::kExportBlender, "STRING", 0,
     "save tracking result as Blender python script"},
    {"export-blender", P::kExportBlender, "STRING", 0,
     "save tracking result as Blender python script"},
    {"export-lightwave", P::kExportLightwave, "STRING", 0,
     "save tracking result as LightWave 3D file"},
    {"export-cahv-text", P::kExportCahvText, "STRING", 0,
     "save tracking result as sequence of CAHV text files"},
    {"limit-exported-3d-points", P::kPointLimit, "UNSIGNED", 0,
     "limits the max. number of exported 3D points (def. no limit)"},
    {nullptr, 0, nullptr, 0, "-------------- general options -------------- "},
    {"verbose", P::kVerbose, "STRING", 0,
     "verbose, Sets the print level. Available are: \"warn\", \"info\", \"notice\", \"notice\" "
     "(def.: \"warn\")"},
    {"batch-mode", P::kBatchMode, nullptr, 0,
     "run tracking in batchmode, doesn't open any windows (def.: disabled)"},
    {nullptr, 0, nullptr, 0, nullptr},
};

// The whole text as an integer in [lo, hi]. A leading '+' is allowed; a '-' only when lo
// is negative, so an "UNSIGNED" option refuses "-5" instead of wrapping it.
bool ParseWhole(const char* text, long long lo, long long hi, long long* out) {
  if (*text == '+') {
    ++text;
    if (*text == '-' || *text == '+') return false;  // one sign only: "+-5" is no number
  }
  if (*text == '-' && lo >= 0) return false;
  const char* end = text + std::strlen(text);
  long long value = 0;
  const auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || ptr != end || ptr == text) return false;
  if (value < lo || value > hi) return false;
  *out = value;
  return true;
}

// The whole text as a finite real number in [lo, hi], in the C locale.
bool ParseReal(const char* text, double lo, double hi, double* out) {
  if (*text == '+') {
    ++text;
    if (*text == '-' || *text == '+') return false;
  }
  const char* end = text + std::strlen(text);
  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || ptr != end || ptr == text || !std::isfinite(value)) return false;
  if (!(value >= lo && value <= hi)) return false;
  *out = value;
  return true;
}

constexpr long long kIntMax = std::numeric_limits<int32_t>::max();
constexpr long long kIntMin = std::numeric_limits<int32_t>::min();
constexpr long long kUintMax = std::numeric_limits<uint32_t>::max();
// Plausible pixel aspects: anamorphic lenses stay far inside.
constexpr double kMinPixelAspect = 0.1;
constexpr double kMaxPixelAspect = 10.0;
constexpr double kMinEigenvalueLow = 1.0;
constexpr double kMinEigenvalueHigh = 1e9;

bool EqualsNoCase(const char* a, const char* b) {
  return platform::CompareNoCase(a, b) == 0;
}

}  // namespace

CommandlineParserCameraTracking::CommandlineParserCameraTracking() {
  m_synopsis = "<image file template>";
  SetOptionTable(kOptionTable);
}

CommandlineParserCameraTracking::~CommandlineParserCameraTracking() = default;

void CommandlineParserCameraTracking::Reject(const char* what, int code, const char* value) {
  const char* name = "?";
  for (unsigned i = 0; i < m_option_count; ++i) {
    if (m_option_table[i].code == code && m_option_table[i].long_name != nullptr) {
      name = m_option_table[i].long_name;
      break;
    }
  }
  std::string reason = std::string("option --") + name + ": " + what;
  if (value != nullptr) reason += std::string(" \"") + value + "\"";
  Notify(2, "CommandlineParserCameraTracking::OnOption: %s", reason.c_str());
  m_value_errors.push_back(reason);
}

int CommandlineParserCameraTracking::OnOption(int code, const char* value) {
  if (code == kBatchMode) {
    // "--batch-mode=no" must not start a batch run.
    if (value != nullptr && *value != '\0') {
      Reject("takes no value", code, value);
      return kRejected;
    }
    m_options.batch_mode = true;
    return 0;
  }
  if (code == 0) return kRejected;  // no row matched: reported by ErrorReasons
  if (value == nullptr || *value == '\0') {
    Reject("missing value", code, nullptr);
    return kRejected;
  }
  long long whole = 0;
  double real = 0.0;
  switch (code) {
    case kFirstFrame:
    case kLastFrame:
      if (!ParseWhole(value, kIntMin, kIntMax, &whole)) {
        Reject("not a whole number in range", code, value);
        return kRejected;
      }
      (code == kFirstFrame ? m_options.first_frame : m_options.last_frame) = int(whole);
      return 0;
    case kDeinterlacing:
      if (!ParseWhole(value, 0, 4, &whole)) {
        Reject("not one of 0 to 4", code, value);
        return kRejected;
      }
      m_options.deinterlacing = int(whole);
      return 0;
    case kPixelAspect:
      if (!ParseReal(value, kMinPixelAspect, kMaxPixelAspect, &real)) {
        Reject("not a pixel aspect between 0.1 and 10", code, value);
        return kRejected;
      }
      m_options.pixel_aspect = real;
      return 0;
    case kEstimationMethod:
      if (EqualsNoCase(value, "rk") || EqualsNoCase(value, "pan")) {
        m_options.estimation_method = 7;
        return 0;
      }
      // "free" is compared case-sensitively, as a prefix ("freemove" is free motion).
      if (std::strncmp(value, "free", 4) == 0 || EqualsNoCase(value, "rtk")) {
        m_options.estimation_method = 8;
        return 0;
      }
      Reject("unknown method", code, value);
      return kRejected;
    case kCornerCount:
      if (!ParseWhole(value, 0, kUintMax, &whole)) {
        Reject("not an unsigned number in range", code, value);
        return kRejected;
      }
      m_options.optical_flow.m_corner_count = uint32_t(whole);
      return 0;
    case kMinDistance:
      if (!ParseWhole(value, 0, kIntMax, &whole)) {
        Reject("not an unsigned number in range", code, value);
        return kRejected;
      }
      m_options.optical_flow.m_min_dist = int32_t(whole);
      return 0;
    case kMinEigenvalue:
      // Below 1 the correlator would drop the whole feature block for its defaults.
      if (!ParseReal(value, kMinEigenvalueLow, kMinEigenvalueHigh, &real)) {
        Reject("not a number between 1 and 1e9", code, value);
        return kRejected;
      }
      m_options.optical_flow.m_min_eigenvalue = float(real);
      return 0;
    case kConsistencyCheck: {
      // A misspelt method must not quietly mean "no".
      static const char* const kMethods[] = {"no", "translation", "similarity", "affine"};
      for (int i = 0; i < 4; ++i) {
        if (EqualsNoCase(value, kMethods[i])) {
          m_options.optical_flow.m_consistency_check = i;
          return 0;
        }
      }
      Reject("unknown method", code, value);
      return kRejected;
    }
    case kExportText:
    case kExportMax:
    case kExportXsi:
    case kExportMaya:
    case kExportBlender:
    case kExportLightwave:
    case kExportCahvText: {
      static const int kTypes[] = {1, 2, 3, 4, 5, 8, 11};
      m_options.export_list.push_back(ExportRequest{value, kTypes[code - kExportText]});
      return 0;
    }
    case kPointLimit:
      if (!ParseWhole(value, 0, kIntMax, &whole)) {
        Reject("not an unsigned number in range", code, value);
        return kRejected;
      }
      m_options.export_point_limit = int(whole);
      return 0;
    case kVerbose:
      if (EqualsNoCase(value, "warn") || EqualsNoCase(value, "notice") ||
          EqualsNoCase(value, "info") || EqualsNoCase(value, "debug")) {
        // Applied with the configuration, where the default would otherwise replace it.
        m_options.verbose_level = NotifyContext::LevelFromName(value);
        return 0;
      }
      Reject("unknown level", code, value);
      return kRejected;
    default:
      return kRejected;
  }
}

int CommandlineParserCameraTracking::OnFiles(const std::vector<std::string>& files) {
  if (files.size() == 1) {
    m_image_file_template = files[0];
    m_sequence_given = !m_image_file_template.empty();
  }
  return 0;
}

void CommandlineParserCameraTracking::ExpandArguments(PackedStringList& list, int argc,
                                                      const char* const* argv, const char* key) {
  const int key_length = key != nullptr ? int(std::strlen(key)) : 0;
  for (int i = 0; i < argc && argv != nullptr; ++i) {
    if (argv[i] == nullptr) continue;
    AddTokenOrFile(list, argv[i], int(std::strlen(argv[i])), key, key_length, 0);
  }
}

void CommandlineParserCameraTracking::AddTokenOrFile(PackedStringList& list, const char* argument,
                                                     int length, const char* key, int key_length,
                                                     int depth) {
  // "--" key "=" and at least one character of path.
  const bool reference =
      key != nullptr && length > key_length + 3 && argument[0] == '-' && argument[1] == '-' &&
      std::strncmp(argument + 2, key, size_t(key_length)) == 0 && argument[2 + key_length] == '=';
  if (!reference) {
    char* entry = list.AllocEntry(size_t(length) + 1);
    std::memcpy(entry, argument, size_t(length));
    entry[length] = '\0';
    return;
  }
  const int skip = key_length + 3;
  if (m_expansion_stopped) return;
  if (++m_config_files_read > kMaxConfigFiles) {
    StopExpansion("more than " + std::to_string(kMaxConfigFiles) + " config files read");
    return;
  }
  ReadConfigFile(list, std::string(argument + skip, size_t(length - skip)), key, key_length, depth);
}

void CommandlineParserCameraTracking::ReadConfigFile(PackedStringList& list,
                                                     const std::string& path, const char* key,
                                                     int key_length, int depth) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    Notify(2,
           "CommandlineParserCameraTracking::AddTokenOrFile: couldn't open config file for "
           "reading: %s",
           path.c_str());
    m_file_errors.push_back("couldn't open config file for reading: " + path);
    m_error = m_help = true;
    return;
  }
  enum State { kLineStart, kInName, kAfterName, kInValue, kSkipLine };
  State state = kLineStart;
  char token[kTokenBufferSize];
  int used = 0;
  auto emit = [&] {
    if (depth < kMaxConfigDepth && !m_expansion_stopped) {
      if (++m_config_tokens > kMaxConfigTokens) {
        StopExpansion("more than " + std::to_string(kMaxConfigTokens) +
                      " arguments from config files");
        return;
      }
      token[used] = '\0';
      AddTokenOrFile(list, token, used, key, key_length, depth + 1);
    }
  };
  // Stores one character; false when the token reached the buffer's limit.
  auto store = [&](char c) {
    token[used++] = c;
    return used < kTokenBufferSize - 1;
  };
  bool too_long = false;
  for (;;) {
    const int c = std::fgetc(file);
    const bool name_begun = state == kInName || state == kAfterName || state == kInValue;
    if (c == ' ' || c == '\t') {
      if (state == kInName) {
        state = kAfterName;
      } else if (state == kInValue) {
        emit();
        state = kSkipLine;
      }
    } else if (c == '#') {
      if (name_begun) emit();
      state = kSkipLine;
    } else if (c == '\n' || c == '\r' || c == EOF) {
      if (name_begun) emit();
      state = kLineStart;
      if (c == EOF) break;
    } else if (c <= 32) {
      // other control characters are ignored
    } else if (state != kSkipLine) {
      bool room = true;
      if (state == kLineStart) {
        used = 0;
        token[used++] = '-';
        token[used++] = '-';
        state = kInName;
      } else if (state == kAfterName) {
        room = store('=');
        state = kInValue;
      }
      room = room && store(char(c));
      if (!room) {
        too_long = true;
        break;
      }
    }
  }
  std::fclose(file);
  if (too_long) {
    // The rest of the file is dropped; say so rather than run with half a configuration.
    Notify(2,
           "CommandlineParserCameraTracking::AddTokenOrFile: line too long, rest of config "
           "file ignored: %s",
           path.c_str());
    m_file_errors.push_back("line too long, rest of config file ignored: " + path);
    m_error = m_help = true;
  }
}

void CommandlineParserCameraTracking::StopExpansion(const std::string& why) {
  Notify(2, "CommandlineParserCameraTracking::AddTokenOrFile: config files expand too far: %s",
         why.c_str());
  m_file_errors.push_back("config files expand too far: " + why);
  m_error = m_help = true;
  m_expansion_stopped = true;
}

int CommandlineParserCameraTracking::ParseList(const PackedStringList& list) {
  std::vector<const char*> args;
  for (int32_t i = 0; i < list.Count(); ++i) args.push_back(list.GetEntry(i));
  return Parse(int(args.size()), args.data());
}

std::vector<std::string> CommandlineParserCameraTracking::ErrorReasons() const {
  std::vector<std::string> reasons = m_file_errors;
  for (const Token& token : m_tokens) {
    if (token.name.empty() || token.code != 0) continue;
    if (token.name == "h" || EqualsNoCase(token.name.c_str(), "help") ||
        EqualsNoCase(token.name.c_str(), "version")) {
      continue;
    }
    reasons.push_back("unknown option \"" + token.name + "\"");
  }
  reasons.insert(reasons.end(), m_value_errors.begin(), m_value_errors.end());
  return reasons;
}
