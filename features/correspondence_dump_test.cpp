#include "features/correspondence_dump.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <locale>
#include <sstream>
#include <string>

#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempPath(const char* stem) {
  return testing::TempDir() + "kx_fcorr_" + std::to_string(getpid()) + "_" + stem;
}

SharedPtr<FeatureCorrespondence> Link(double x0, double y0, double x1, double y1, float score) {
  auto link =
      SharedPtr<FeatureCorrespondence>::Make(SharedPtr<FeaturePoint2D>::Make(nullptr, x0, y0),
                                             SharedPtr<FeaturePoint2D>::Make(nullptr, x1, y1));
  link->SetScore(score);
  return link;
}

class ListCorrelator : public FeatureCorrelator {
 public:
  int32_t Compute() override { return 0; }
  SharedPtr<FeatureCorrelator> Clone() override { return nullptr; }
  t_ListFCorr& List() { return correspondences_; }
};

TEST(CorrespondenceDumpTest, FileContents) {
  ListCorrelator c;
  const std::string path = TempPath("contents");
  // An empty list is the header alone.
  EXPECT_EQ(FeatureCorrespondenceIO::Save(&c, path.c_str()), 1);
  EXPECT_EQ(ReadAll(path), "#FCORR V1.0\n");

  c.List().push_back(Link(10.5, 20.25, 11, 20.75, 1.0f));
  auto half = SharedPtr<FeatureCorrespondence>::Make();  // a link without its later end
  half->SetFirst(SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0, 2.0));
  c.List().push_back(half);
  c.List().push_back(Link(123.456789, 0.00001234, 1e7, -3, 0.5f));
  // Numbers never take the user's decimal comma.
  const std::locale saved = std::locale::global(std::locale::classic());
  try {
    std::locale::global(std::locale("de_DE.UTF-8"));
  } catch (const std::runtime_error&) {
  }
  const int result = FeatureCorrespondenceIO::Save(&c, path.c_str());
  std::locale::global(saved);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadAll(path),
            "#FCORR V1.0\n"
            "10.5\t20.25\t11\t20.75\t1\n"
            "\n"
            "123.457\t1.234e-05\t1e+07\t-3\t0.5\n");
  std::remove(path.c_str());
}

TEST(CorrespondenceDumpTest, FailuresReturnZero) {
  ListCorrelator c;
  const t_ListFCorr list;
  struct Case {
    const char* what;
    std::function<int()> save;
    const char* message;
  };
  const std::string missing_dir = TempPath("no_such_dir") + "/x.fcorr";
  const Case cases[] = {
      {"null correlator", [] { return FeatureCorrespondenceIO::Save(nullptr, "x"); },
       "Warning: input corr==NULL"},
      {"null name", [&] { return FeatureCorrespondenceIO::Save(&c, nullptr); },
       "Warning: input name==NULL"},
      {"unopenable", [&] { return FeatureCorrespondenceIO::Save(list, missing_dir.c_str()); },
       "failed !"},
      {"full device", [&] { return FeatureCorrespondenceIO::Save(list, "/dev/full"); },
       "Warning: writing file \"/dev/full\" failed !"},
  };
  for (const Case& k : cases) {
    LogCapture log;
    EXPECT_EQ(k.save(), 0) << k.what;
    EXPECT_TRUE(log.Has(k.message)) << k.what << ": " << log.text;
  }
}

}  // namespace
