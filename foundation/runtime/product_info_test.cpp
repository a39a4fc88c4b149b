#include "foundation/runtime/product_info.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Puts the static defaults back, so that every test starts from them.
class ProductInfoTest : public testing::Test {
 protected:
  void TearDown() override {
    ProductInfo::SetProductName("Kalvex");
    ProductInfo::SetVersion(1, 0, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kAlpha);
  }
};

TEST_F(ProductInfoTest, StaticDefaults) {
  EXPECT_EQ(ProductInfo::GetProductName(), "Kalvex");
  EXPECT_EQ(ProductInfo::GetMakerName(), "TORBANE");
  EXPECT_EQ(ProductInfo::GetCompanyInfo().company_name, "TORBANE GmbH");
  EXPECT_STREQ(ProductInfo::GetBuildNumber(), "3246");
  EXPECT_EQ(ProductInfo::GetReleaseKind(), ProductInfo::kAlpha);
  EXPECT_EQ(ProductInfo::GetVersionString(), "1.0a (3246)");
}

TEST_F(ProductInfoTest, VersionStringByReleaseKind) {
  struct Case {
    int major, minor, patch, kind;
    const char* text;
  } cases[] = {
      {1, 6, 0, ProductInfo::kFinal, "1.6.0"},
      {1, 6, 2, ProductInfo::kBeta, "1.6b (3246)"},
      {1, 6, 2, ProductInfo::kReleaseCandidate, "1.6rc (3246)"},
      {2, 10, 4, ProductInfo::kAlpha, "2.10a (3246)"},
      {1, 6, 2, 7, "1.6"},
      {1, 6, 2, -1, "1.6"},
      {-1, 0, -2, ProductInfo::kFinal, "4294967295.0.4294967294"},  // unsigned decimals
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ProductInfo::SetVersion(c.major, c.minor, c.patch);
    ProductInfo::SetReleaseKind(c.kind);
    EXPECT_EQ(ProductInfo::GetMajorVersion(), c.major);
    EXPECT_EQ(ProductInfo::GetMinorVersion(), c.minor);
    EXPECT_EQ(ProductInfo::GetPatchVersion(), c.patch);
    EXPECT_EQ(ProductInfo::GetReleaseKind(), c.kind);
    EXPECT_EQ(ProductInfo::GetVersionString(), c.text);
  }
}

TEST_F(ProductInfoTest, ProductNameIsCopied) {
  std::string name = "Other";
  ProductInfo::SetProductName(name.c_str());
  name[0] = 'X';
  EXPECT_EQ(ProductInfo::GetProductName(), "Other");
  ProductInfo::SetProductName(nullptr);
  EXPECT_EQ(ProductInfo::GetProductName(), "");
}

}  // namespace
