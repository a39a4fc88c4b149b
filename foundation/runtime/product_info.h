// ProductInfo: the process-wide product name, maker, company record, version and release
// kind, and the version string shown to users and written into exported files.
//
// Static initialisation gives every value its default (product "Kalvex", maker "TORBANE",
// version 1.0.0, alpha); start-up sets the name, the version and the release kind once,
// before any other thread runs. The values are not guarded: set them only then.
#pragma once

#include <string>

// The maker's company record, seven texts in this order. Filled by static
// initialisation, never changed afterwards.
struct CompanyInfo {
  std::string company_name;
  std::string street;  // street and house number
  std::string postal_code;
  std::string city;
  std::string country;
  std::string web_address;
  std::string email_address;
};

namespace ProductInfo {

// Release kinds.
enum ReleaseKind { kAlpha = 0, kBeta = 1, kReleaseCandidate = 2, kFinal = 3 };

const std::string& GetProductName();
// Copies `name`; a null pointer empties the product name.
void SetProductName(const char* name);
const std::string& GetMakerName();
const CompanyInfo& GetCompanyInfo();

void SetVersion(int major, int minor, int patch);
int GetMajorVersion();
int GetMinorVersion();
int GetPatchVersion();

// One of ReleaseKind, or any other number (shown without patch or build number).
void SetReleaseKind(int kind);
int GetReleaseKind();

// The build number, "3246".
const char* GetBuildNumber();

// "major.minor" followed by "a (build)", "b (build)" or "rc (build)" for alpha, beta and
// release candidate, ".patch" for a final release, nothing for any other kind; the numbers
// as unsigned decimals. For 1.6.0 final: "1.6.0"; for 1.6 beta: "1.6b (3246)".
std::string GetVersionString();

}  // namespace ProductInfo
