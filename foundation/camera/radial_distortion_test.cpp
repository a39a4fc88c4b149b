#include "foundation/camera/radial_distortion.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

struct ModelCase {
  const char* label;
  RadialDistortionFunction model;
  double k[4];
};

const ModelCase kRoundTripCases[] = {
    {"poly3 pincushion", Poly3, {3e-4, 0, 0, 0}},
    {"poly3 barrel", Poly3, {-5e-4, 0, 0, 0}},
    {"poly5", Poly5, {-4e-4, 1e-7, 0, 0}},
    {"fisheye", Fisheye, {5e-4, 0, 0, 0}},
    {"fisheye swapped", Fisheye, {-5e-4, 0, 0, 0}},
    {"equisolid", FisheyeEquisolid, {5e-4, 0, 0, 0}},
    {"equisolid swapped", FisheyeEquisolid, {-5e-4, 0, 0, 0}},
    {"poly4", Poly4, {10.0, 0.05, -0.01, 0.002}},
};

TEST(RadialDistortion, InverseUndoesDirectForEveryModel) {
  for (const ModelCase& c : kRoundTripCases) {
    for (double rd : {0.001, 0.5, 3.0, 8.0, 12.0}) {
      const double ru = rd * c.model(rd * rd, c.k, false);
      const double back = ru * c.model(ru * ru, c.k, true);
      EXPECT_NEAR(back, rd, 1e-8) << c.label << " r=" << rd;
      EXPECT_NE(c.model(ru * ru, c.k, true), kRadialDistortionFailure) << c.label;
    }
  }
}

TEST(RadialDistortion, ZeroRadiusAndZeroCoefficientsGiveOne) {
  const double zero[4] = {0, 0, 0, 0};
  for (const ModelCase& c : kRoundTripCases) {
    EXPECT_EQ(c.model(0.0, c.k, false), 1.0) << c.label;
    EXPECT_EQ(c.model(0.0, c.k, true), 1.0) << c.label;
    EXPECT_EQ(c.model(25.0, zero, false), 1.0) << c.label;
    EXPECT_EQ(c.model(25.0, zero, true), 1.0) << c.label;
  }
  // Poly4 with a base radius but no terms is the identity too.
  const double base_only[4] = {10.0, 0, 0, 0};
  EXPECT_EQ(Poly4(25.0, base_only, false), 1.0);
  EXPECT_EQ(Poly4(25.0, base_only, true), 1.0);
}

TEST(RadialDistortion, PolynomialInverseReportsFailureBeyondRange) {
  const double k[4] = {-1.0, 0, 0, 0};
  // c = 1.2 >= 31/27: no real solution.
  EXPECT_EQ(Poly3(0.2, k, true), kRadialDistortionFailure);
  EXPECT_EQ(Poly5(0.2, k, true), kRadialDistortionFailure);
  // c = 1.1: converges.
  const double g = Poly3(0.1, k, true);
  EXPECT_NE(g, kRadialDistortionFailure);
  const double d = g * std::sqrt(0.1);
  EXPECT_NEAR(d * (1.0 - d * d), std::sqrt(0.1), 1e-9);
}

TEST(RadialDistortion, PolynomialInverseGivesUpWhenNewtonDoesNotConverge) {
  // c = 1 + 0.12 + 0.0144 is below the range bound, but the quintic has no root.
  const double k[4] = {-1.0, -1.0, 0, 0};
  EXPECT_EQ(Poly5(0.12, k, true), kRadialDistortionFailure);
}

TEST(RadialDistortion, FisheyeCapsAndBranchSelection) {
  const double pos[4] = {0.01, 0, 0, 0};
  const double neg[4] = {-0.01, 0, 0, 0};
  const double x = 100.0;  // y = 5 sqrt(1) = 5 > 1.5625
  EXPECT_EQ(Fisheye(x, pos, false), 77.15);
  EXPECT_DOUBLE_EQ(Fisheye(x, neg, false), std::atan(5.0) / 5.0);
  EXPECT_DOUBLE_EQ(Fisheye(x, pos, true), std::atan(5.0) / 5.0);
  EXPECT_EQ(Fisheye(x, neg, true), 77.15);

  // Just above the equisolid cap and just below it.
  const double above = std::pow(1.40626 / 5.0, 2) / 0.01;
  const double below = std::pow(1.40624 / 5.0, 2) / 0.01;
  EXPECT_EQ(FisheyeEquisolid(above, pos, false), 63.316);
  const double y = 5.0 * std::sqrt(0.01 * below);
  EXPECT_DOUBLE_EQ(FisheyeEquisolid(below, pos, false), std::tan(2.0 * std::asin(y / 2)) / y);

  // Series below the threshold.
  EXPECT_DOUBLE_EQ(Fisheye(1e-6, pos, false), 1.0 + 8.333333333333332 * 1e-8);
  EXPECT_DOUBLE_EQ(FisheyeEquisolid(1e-6, pos, true), 1.0 - 9.375 * 1e-8);
}

TEST(RadialDistortion, TableLookupAndIds) {
  const RadialDistortionFunction models[] = {Poly3, Poly5, Fisheye, FisheyeEquisolid, Poly4};
  for (int id = 0; id < kNumRadDistTypes; ++id) {
    EXPECT_EQ(GetRadialDistortionFunction(id), models[id]);
    EXPECT_EQ(GetRadDistType(models[id]), id);
  }
  for (int id : {-1, 5, 7, 1000}) EXPECT_EQ(GetRadialDistortionFunction(id), Poly3);
  EXPECT_EQ(GetRadDistType(nullptr), -1);
}

}  // namespace
