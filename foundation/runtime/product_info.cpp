#include "foundation/runtime/product_info.h"

#include <string>

namespace ProductInfo {
namespace {

// One record for all values, built on first use so that other static initialisers can
// read it whatever the order of initialisation.
struct Values {
  std::string product_name = "Kalvex";
  std::string maker_name = "TORBANE";
  CompanyInfo company{"TORBANE GmbH", "", "", "", "", "", ""};
  int major = 1;
  int minor = 0;
  int patch = 0;
  int release_kind = kAlpha;
};

Values& Get() {
  static Values values;
  return values;
}

std::string Unsigned(int value) {
  return std::to_string(static_cast<unsigned>(value));
}

}  // namespace

const std::string& GetProductName() {
  return Get().product_name;
}

void SetProductName(const char* name) {
  Get().product_name = name != nullptr ? name : "";
}

const std::string& GetMakerName() {
  return Get().maker_name;
}

const CompanyInfo& GetCompanyInfo() {
  return Get().company;
}

void SetVersion(int major, int minor, int patch) {
  Values& values = Get();
  values.major = major;
  values.minor = minor;
  values.patch = patch;
}

int GetMajorVersion() {
  return Get().major;
}

int GetMinorVersion() {
  return Get().minor;
}

int GetPatchVersion() {
  return Get().patch;
}

void SetReleaseKind(int kind) {
  Get().release_kind = kind;
}

int GetReleaseKind() {
  return Get().release_kind;
}

const char* GetBuildNumber() {
  return "3246";
}

std::string GetVersionString() {
  const Values& values = Get();
  std::string text = Unsigned(values.major) + "." + Unsigned(values.minor);
  const std::string build = std::string(" (") + GetBuildNumber() + ")";
  switch (values.release_kind) {
    case kAlpha:
      text += "a" + build;
      break;
    case kBeta:
      text += "b" + build;
      break;
    case kReleaseCandidate:
      text += "rc" + build;
      break;
    case kFinal:
      text += "." + Unsigned(values.patch);
      break;
    default:
      break;
  }
  return text;
}

}  // namespace ProductInfo
