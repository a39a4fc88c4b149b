#include "features/foerstner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "features/coverage_render_for_test.h"

namespace {

using kxtest::Render;

TEST(FoerstnerTest, DefaultFilters) {
  Foerstner f;
  f.InitDerivationFilter();
  f.InitIntegrationFilter();
  EXPECT_THAT(f.DerivationFilter(),
              testing::Pointwise(testing::DoubleNear(1e-6), {0.0, 0.310428, 0.163578, 0.025994}));
  EXPECT_THAT(f.IntegrationFilter(),
              testing::Pointwise(testing::DoubleNear(1e-6),
                                 {0.201648, 0.178596, 0.124078, 0.067611, 0.028892}));
  EXPECT_NEAR(Foerstner::GetTotalFilterWeight(f.DerivationFilter()), 1.0, 1e-12);
  EXPECT_NEAR(Foerstner::GetTotalFilterWeight(f.IntegrationFilter()), 1.0, 1e-12);

  Foerstner::Parameter box;
  box.ft = 1;
  f.SetParameter(box);
  EXPECT_THAT(f.IntegrationFilter(), testing::ElementsAre(0.2, 0.2, 0.2));
  box.gs = 2.0f;  // integration sigma 4: 5 entries of 1/9
  f.SetParameter(box);
  EXPECT_THAT(f.IntegrationFilter(), testing::Each(testing::DoubleEq(1.0 / 9)));
  EXPECT_EQ(f.IntegrationFilter().size(), 5u);
}

TEST(FoerstnerTest, NormalizeFilterCutsUntilNothingIsSmall) {
  struct Case {
    std::vector<double> in, out;
  } cases[] = {
      {{1.0, 0.5, 0.01}, {0.5, 0.25}},
      {{2.0, 1.0}, {0.5, 0.25}},
      {{0.0, 3.0, 1.0}, {0.0, 0.375, 0.125}},
      {{4.0}, {1.0}},
  };
  for (Case& t : cases) {
    Foerstner::NormalizeFilter(t.in, 0.02);
    EXPECT_THAT(t.in, testing::Pointwise(testing::DoubleNear(1e-12), t.out));
  }
  std::vector<double> empty;
  Foerstner::NormalizeFilter(empty, 0.02);
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(Foerstner::GetTotalFilterWeight(empty), 1.0);
}

TEST(FoerstnerTest, CandidatesAreStrictFirstMaximaThatAreRound) {
  CPicture<double> weight, round;
  weight.Resize(20, 15, 1);
  round.Resize(20, 15, 1);
  weight.FillBand(0, 1.0);
  round.FillBand(0, 0.9);
  // Equal peaks three apart in one row: the left one wins.
  weight.SetElement(9.0, 6, 5, 0);
  weight.SetElement(9.0, 9, 5, 0);
  // Equal peaks where the left one is not round: it does not block the right one.
  weight.SetElement(8.0, 6, 11, 0);
  weight.SetElement(8.0, 9, 11, 0);
  round.SetElement(0.3, 6, 11, 0);
  // A peak under the bound, and one at the edge of the scanned area's reach.
  weight.SetElement(3.5, 15, 5, 0);
  CPicture<unsigned char> mask;
  Foerstner::MarkCandidates(weight, round, 4.0f, 0.5f, 3, mask);
  std::vector<std::pair<int, int>> marked;
  for (uint32_t y = 0; y < 15; ++y)
    for (uint32_t x = 0; x < 20; ++x)
      if (mask.GetElement(x, y, 0) != 0) {
        EXPECT_EQ(mask.GetElement(x, y, 0), 255);
        marked.push_back({static_cast<int>(x), static_cast<int>(y)});
      }
  EXPECT_THAT(marked, testing::ElementsAre(std::make_pair(6, 5), std::make_pair(9, 11)));
}

TEST(FoerstnerTest, UniformAndTinyPicturesGiveNothing) {
  CPicture<unsigned char> p;
  // A uniform picture, and pictures too small for the filters with a dot in the middle.
  for (uint32_t size : {60u, 0u, 1u, 5u, 8u}) {
    p.Resize(size, size, 1);
    p.FillBand(0, 90);
    if (size > 2 && size < 60) p.SetElement(250, size / 2, size / 2, 0);
    Foerstner f;
    EXPECT_TRUE(f.Detect(p).empty()) << size;
    EXPECT_FALSE(f.NeedsRecompute());
  }
  Foerstner none;
  EXPECT_EQ(none.Compute(), 0u);
}

TEST(FoerstnerTest, CornerOfTwoEdgesFollowsSubPixelShifts) {
  double first_dx = 0, first_dy = 0;
  for (int k = 0; k < 4; ++k) {
    const double cx = 30.3 + 0.2 * k, cy = 40.6 - 0.15 * k;
    CPicture<unsigned char> p;
    Render(
        p, 80, 80, [&](double x, double y) { return x > cx && y > cy; }, 50, 180);
    for (bool hi : {false, true}) {
      Foerstner f;
      Foerstner::Parameter par;
      par.hi = hi;
      f.SetParameter(par);
      const MetaDetector::FeatureList& r = f.Detect(p);
      ASSERT_EQ(r.size(), 1u) << k;
      const double dx = r[0]->x - cx, dy = r[0]->y - cy;
      // A fraction of a pixel into the bright quadrant, whatever the sub-pixel phase.
      EXPECT_LT(std::hypot(dx, dy), 0.6) << k;
      if (hi) continue;
      if (k == 0) {
        first_dx = dx;
        first_dy = dy;
      } else {
        EXPECT_NEAR(dx, first_dx, 0.1) << k;
        EXPECT_NEAR(dy, first_dy, 0.1) << k;
      }
    }
  }
}

TEST(FoerstnerTest, CheckerboardJunctions) {
  for (int k = 0; k < 3; ++k) {
    const double ox = 20.3 + 0.25 * k, oy = 20.8 - 0.15 * k;
    CPicture<unsigned char> p;
    Render(
        p, 100, 100,
        [&](double x, double y) {
          return ((static_cast<int>(std::floor((x - ox) / 16)) +
                   static_cast<int>(std::floor((y - oy) / 16))) &
                  1) == 0;
        },
        40, 200);
    Foerstner f;
    int inner = 0;
    for (const auto& q : f.Detect(p)) {
      const double ex = std::remainder(q->x - ox, 16.0), ey = std::remainder(q->y - oy, 16.0);
      EXPECT_LT(std::hypot(ex, ey), 0.5);
      if (q->x < 15 || q->y < 15 || q->x > 85 || q->y > 85) continue;
      ++inner;
      EXPECT_LT(std::hypot(ex, ey), 0.2);
    }
    EXPECT_EQ(inner, 25);
  }
}

TEST(FoerstnerTest, RecomputesOnNewPictureOrParametersOnly) {
  CPicture<unsigned char> p;
  Render(
      p, 50, 50, [](double x, double y) { return x > 20.5 && y > 24.5; }, 20, 220);
  Foerstner f;
  const MetaDetector::FeatureList first = f.Detect(p);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_FALSE(f.NeedsRecompute());
  EXPECT_EQ(f.GetFeatures()[0].Get(), first[0].Get());  // the stored list

  f.SetParameter(Foerstner::Parameter());  // the current values: nothing changes
  EXPECT_FALSE(f.NeedsRecompute());
  EXPECT_EQ(f.GetFeatures()[0].Get(), first[0].Get());

  const MetaDetector::FeatureList second = f.Detect(p);  // a new picture recomputes
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second[0].Get(), first[0].Get());
  EXPECT_EQ(second[0]->x, first[0]->x);
  EXPECT_EQ(second[0]->y, first[0]->y);

  Foerstner::Parameter par;
  par.mr = 0.99f;  // a corner is not that round
  f.SetParameter(par);
  EXPECT_TRUE(f.NeedsRecompute());
  EXPECT_TRUE(f.GetFeatures().empty());
}

}  // namespace
