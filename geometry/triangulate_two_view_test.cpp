#include "geometry/triangulate_two_view.h"

#include <gtest/gtest.h>

#include "geometry/corr_el.h"
#include "geometry/two_view_scene_for_test.h"

namespace {

using kxtest::MakeCamera;
using kxtest::RotationXYZ;

TEST(TriangulateTwoViewLinearTest, RecoversPointsWithOffCentrePrincipalPoints) {
  struct Case {
    const char* name;
    double px0, py0, px1, py1;
  };
  const Case cases[] = {
      {"centred", 0, 0, 0, 0},
      {"off-centre in both", 25, -18, -30, 12},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const PerspectiveCamera c0 = MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), 30, t.px0, t.py0);
    const PerspectiveCamera c1 =
        MakeCamera({400, 50, -30}, RotationXYZ(0.02, -0.1, 0.03), 35, t.px1, t.py1);
    const kxtest::TwoViewScene scene = kxtest::MakeTwoViewScene(c0, c1, 20);
    const CorrElMapper mapper(c0, c1);
    for (size_t i = 0; i < scene.points.size(); ++i) {
      CorrEl e;
      mapper.MapCorrespondence(scene.correspondences[i], e);
      double x[3];
      ASSERT_TRUE(TriangulateTwoViewLinear(x, &c0, &c1, e.x0, e.y0, e.x1, e.y1));
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(x[k], scene.points[i][k], 1e-6 * 3000);
    }
  }
}

TEST(TriangulateTwoViewLinearTest, RaysMeetingAtInfinityGiveZeroAndFalse) {
  // Both rays run along the optical axis of two side-by-side cameras.
  const PerspectiveCamera c0 = MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), 30);
  const PerspectiveCamera c1 = MakeCamera({100, 0, 0}, RotationXYZ(0, 0, 0), 30);
  double x[3] = {1, 2, 3};
  EXPECT_FALSE(TriangulateTwoViewLinear(x, &c0, &c1, 0, 0, 0, 0));
  EXPECT_EQ(x[0], 0.0);
  EXPECT_EQ(x[1], 0.0);
  EXPECT_EQ(x[2], 0.0);
}

}  // namespace
