#include "image/filter_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"

namespace {

using kxtest::LogCapture;

struct KernelCase {
  int type;
  float sigma;
  std::vector<float> taps;  // expected, ±1e-6; only the listed outer taps when partial
  size_t size;
};

TEST(FilterKernelTest, KnownKernels) {
  const KernelCase cases[] = {
      {1, 0.7f, {0.009620f, 0.205424f, 0.569912f, 0.205424f, 0.009620f}, 5},
      {1, 1.0f, {0.004433f, 0.054006f, 0.242036f, 0.399050f, 0.242036f, 0.054006f, 0.004433f}, 7},
      {2, 0.8f, {0.002418f, 0.080124f, 0.417458f, 0.0f, -0.417458f, -0.080124f, -0.002418f}, 7},
      {0, 0.7f, {1 / 3.0f, 1 / 3.0f, 1 / 3.0f}, 3},
      {0, 2.0f, {0.2f, 0.2f, 0.2f, 0.2f, 0.2f}, 5},
      {0, 0.0f, {1.0f}, 1},
      {1, 0.0f, {1.0f}, 1},
      {7, 0.0f, {1.0f}, 1},
  };
  for (const KernelCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " sigma " << c.sigma);
    FilterKernel k;
    k.SetFilter(c.type, c.sigma);
    ASSERT_EQ(k.Size(), c.size);
    for (size_t i = 0; i < c.taps.size(); ++i) EXPECT_NEAR(k[i], c.taps[i], 1e-6) << i;
  }
}

TEST(FilterKernelTest, GaussOfPyramidAndLongBox) {
  FilterKernel k;
  k.SetSigma(1.8f);
  ASSERT_EQ(k.Size(), 11u);
  EXPECT_NEAR(k[5], 0.222072f, 1e-6);
  EXPECT_NEAR(k[0], 0.004688f, 1e-6);
  EXPECT_NEAR(k[10], 0.004688f, 1e-6);
  float sum = 0;
  for (size_t i = 0; i < k.Size(); ++i) sum += k[i];
  EXPECT_NEAR(sum, 1.0f, 1e-6);

  k.SetFilter(0, 40.0f);
  ASSERT_EQ(k.Size(), 71u);
  EXPECT_EQ(k[70], 1.0f / 71.0f);
}

TEST(FilterKernelTest, DerivativeLobesAreHalves) {
  FilterKernel k;
  k.SetFilter(2, 1.5f);
  ASSERT_EQ(k.Size() % 2, 1u);
  const size_t c = k.Size() / 2;
  float positive = 0, negative = 0;
  for (size_t i = 0; i < c; ++i) positive += k[i];
  for (size_t i = c + 1; i < k.Size(); ++i) negative += k[i];
  EXPECT_EQ(k[c], 0.0f);
  EXPECT_NEAR(positive, 0.5f, 1e-6);
  EXPECT_NEAR(negative, -0.5f, 1e-6);
}

TEST(FilterKernelTest, TinySigmaDerivativeStaysInsideTheKernel) {
  // Every tap is below the trim threshold before normalising: the trim must
  // not run past the kernel, and the result is still a valid derivative.
  for (float sigma : {0.27f, 0.2f, 0.1f}) {
    FilterKernel k;
    k.SetFilter(2, sigma);
    ASSERT_GE(k.Size(), 3u) << sigma;
    ASSERT_EQ(k.Size() % 2, 1u) << sigma;
    const size_t c = k.Size() / 2;
    EXPECT_EQ(k[c], 0.0f);
    EXPECT_NEAR(k[c - 1], 0.5f, 1e-4) << sigma;
    EXPECT_NEAR(k[c + 1], -0.5f, 1e-4) << sigma;
  }
}

TEST(FilterKernelTest, UnknownTypeLogsAndLeavesEmpty) {
  LogCapture log;
  FilterKernel k;
  k.SetFilter(5, 1.0f);
  EXPECT_EQ(k.Size(), 0u);
  EXPECT_NE(log.text.find("unknown filter type 5"), std::string::npos) << log.text;

  // Sigma 0 with an unknown type: the single tap and no message.
  log.text.clear();
  k.SetFilter(9, 0.0f);
  EXPECT_EQ(k.Size(), 1u);
  EXPECT_EQ(log.text, "");
}

TEST(FilterKernelTest, SettersRebuildOnlyOnChange) {
  FilterKernel k;
  {
    // Rebuilding an unknown type logs; the same settings again must not.
    LogCapture log;
    k.SetFilter(5, 1.0f);
    k.SetFilter(5, 1.0f);
    k.SetSigma(1.0f);
    EXPECT_EQ(log.text.find("unknown filter type"), log.text.rfind("unknown filter type"))
        << log.text;
  }
  k.SetFilter(2, 0.8f);
  ASSERT_EQ(k.Size(), 7u);
  EXPECT_NEAR(k[0], 0.002418f, 1e-6);

  // A NaN never equals the stored value: both calls rebuild (and log the
  // failed normalisation) without a crash.
  LogCapture log;
  k.SetSigma(NAN);
  k.SetSigma(NAN);
  EXPECT_NE(log.text.find("coeff. are null"), std::string::npos);
}

}  // namespace
