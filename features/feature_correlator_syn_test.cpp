#include "features/feature_correlator_syn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "features/feature_image.h"
#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;
using Syn = FeatureCorrelatorSyn;

// A reference camera away from the origin and turned, so that the scene's offset and the
// camera's own axes matter.
void SetReferenceCamera(PerspectiveCamera& camera) {
  Matrix3x3 r;
  r.SetRotationXYZ(0.1, -0.3, 0.05);
  const vm::Vector3 h0{r[0][0], r[0][1], r[0][2]};
  const vm::Vector3 v0{r[1][0], r[1][1], r[1][2]};
  const vm::Vector3 a{r[2][0], r[2][1], r[2][2]};
  const double none[4] = {0, 0, 0, 0};
  // 1000 pixels of 0.02 mm: a 20 mm lens.
  camera.SetAll({1000.0, -2000.0, 500.0}, a, h0 * 1000.0, v0 * 1000.0, 1280, 720, 0.02, 0.02, none,
                none, Poly3);
}

// Runs the template's clones over images 0 .. count-1 the way the engine does, keeping the
// clones (each unlinks its correspondences when it dies).
struct SynRun {
  std::vector<std::unique_ptr<FeatureImage>> images;
  std::vector<SharedPtr<FeatureCorrelator>> clones;
  std::vector<int32_t> results;

  SynRun(Syn& templ, int count) {
    for (int i = 0; i < count; ++i) {
      images.push_back(std::make_unique<FeatureImage>());
      images.back()->SetImageIndex(i);
      SetReferenceCamera(*images.back());
    }
    templ.Init3DScene();
    for (int k = 0; k + 1 < count; ++k) {
      clones.push_back(templ.Clone());
      FeatureCorrelator& c = *clones.back();
      c.SetCamera(*images[size_t(k) + 1]);
      EXPECT_TRUE(c.SetFeatureImages(images[size_t(k)].get(), images[size_t(k) + 1].get()));
      results.push_back(c.Compute());
    }
  }
  ~SynRun() {
    clones.clear();
    for (auto& image : images) image->ClearFPoints2D();
  }
  const FeatureImage::FeatureList& Features(int n) const {
    return images[size_t(n)]->GetFPoints2D();
  }
};

TEST(FeatureCorrelatorSynTest, SceneAgainstKnownCameras) {
  Syn templ;
  Syn::Parameter& p = templ.GetParameter();
  const vm::Vector3 t{100.0, -50.0, 200.0};
  p = Syn::Parameter(3000, 50000.0, 150000.0, 1.5, 0.0, 0.0, 0.02, 0.5, 2.0, 0.0, 0.0, 0.0, 50, &t,
                     false, true, false, true, false, false, 2e-5, 1e-8, 3.0, -2.0, 0.0, 15.0,
                     1937);
  EXPECT_DOUBLE_EQ(p.m_dp, 1.5 * M_PI / 180.0);

  for (int pass = 0; pass < 2; ++pass) {  // a second run must not link to the first
    SynRun run(templ, 6);
    const PerspectiveCamera& ref = Syn::GetReferenceCamera();
    EXPECT_EQ(ref.GetC(), run.images[0]->GetC());
    EXPECT_TRUE(run.Features(0).size() > 50) << run.Features(0).size();
    for (const auto& f : run.Features(0)) EXPECT_FALSE(f->GetPredecessor());

    for (int n = 0; n < 6; ++n) {
      SCOPED_TRACE(n);
      PerspectiveCamera cam;
      templ.GetCamera(n, cam);
      // The path: pan about R's vertical axis, translation n·t, zoom down by 1.02 per image
      // (the lower bound is 35 steps away), the block's lens and principal point.
      const vm::Vector3 c_expected = ref.GetC() + t * n;
      EXPECT_NEAR((cam.GetC() - c_expected).Length(), 0.0, 1e-9);
      EXPECT_NEAR(cam.GetA().Dot(ref.GetA()), std::cos(n * p.m_dp), 1e-12);
      EXPECT_NEAR(cam.GetA().Dot(ref.V0()), 0.0, 1e-12);
      EXPECT_NEAR(cam.GetFocalLength(), 20.0 * std::pow(1.02, -n), 1e-9);
      EXPECT_EQ(cam.GetDistortionCoefficients()[0], 2e-5);
      EXPECT_EQ(cam.GetDistortionCoefficients()[1], 1e-8);
      EXPECT_NEAR(cam.GetCenterPointX(), 3.0, 1e-9);
      EXPECT_NEAR(cam.GetCenterPointY(), -2.0, 1e-9);
      if (n == 0) continue;

      PerspectiveCamera before;
      templ.GetCamera(n - 1, before);
      EXPECT_EQ(run.results[size_t(n) - 1], run.images[size_t(n)]->CountCorrespondences(true));
      EXPECT_EQ(size_t(run.results[size_t(n) - 1]),
                run.clones[size_t(n) - 1]->GetCorrespondences().size());
      int linked = 0;
      for (const auto& f : run.Features(n)) {
        EXPECT_EQ(f->GetFlags() & 1u, 0u);
        if (!f->GetPredecessor()) continue;
        ++linked;
        const FeaturePoint2D& e = *f->GetPredecessor()->GetFirst();
        EXPECT_EQ(e.GetImage(), run.images[size_t(n) - 1].get());
        ASSERT_TRUE(f->GetFPoint3D());
        EXPECT_EQ(f->GetFPoint3D(), e.GetFPoint3D());  // one point along the track
        const vm::Vector3 w = *f->GetFPoint3D();
        double x, y, depth;
        ASSERT_TRUE(cam.ProjectPoint(w, x, y, depth, true));
        EXPECT_GT(depth, 0.0);
        EXPECT_NEAR(x, f->x, 1e-9);
        EXPECT_NEAR(y, f->y, 1e-9);
        ASSERT_TRUE(before.ProjectPoint(w, x, y, depth, true));
        EXPECT_GT(depth, 0.0);
        EXPECT_NEAR(x, e.x, 1e-9);
        EXPECT_NEAR(y, e.y, 1e-9);
      }
      EXPECT_GT(linked, run.Features(n).size() / 2);
    }
  }
}

TEST(FeatureCorrelatorSynTest, SameSeedSameRun) {
  auto features = [](int nf) {
    Syn templ;
    Syn::Parameter& p = templ.GetParameter();
    p = Syn::Parameter();
    p.m_nf = nf;
    p.m_std_d = 0.7;
    p.m_outlier = 0.3;
    p.m_dp = 0.01;
    SynRun run(templ, 4);
    std::vector<std::tuple<double, double, uint32_t>> out;
    for (int n = 0; n < 4; ++n) {
      for (const auto& f : run.Features(n)) out.emplace_back(f->x, f->y, f->GetFlags());
    }
    return out;
  };
  // The first run builds the scene; the second finds it built, the third follows
  // another scene: every run draws the same scene and noise.
  const auto first = features(10000);
  EXPECT_GT(first.size(), 100u);
  EXPECT_EQ(features(10000), first);
  features(500);
  EXPECT_EQ(features(10000), first);
}

TEST(FeatureCorrelatorSynTest, SceneShapes) {
  struct Case {
    const char* what;
    uint32_t nf, p_r2;
    bool dist, grid, cube;
    size_t points;
  };
  const Case cases[] = {
      {"random, fixed radii", 1000, 50, false, false, false, 1000},
      {"random, bad percentage", 1000, 150, false, false, false, 1000},
      {"grid", 100, 50, false, true, false, 70},
      {"grid with random radii", 100, 50, true, true, false, 80},
      {"cube", 600, 50, false, false, true, 600},
  };
  const double r1 = 1000.0, r2 = 3000.0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Syn syn;
    Syn::Parameter& p = syn.GetParameter();
    p.m_nf = k.nf;
    p.m_r1 = r1;
    p.m_r2 = r2;
    p.m_p_r2 = k.p_r2;
    p.m_dist = k.dist;
    p.m_grid = k.grid;
    p.m_cube = k.cube;
    p.m_seed = 99;
    LogCapture log;
    syn.Init3DScene();
    EXPECT_EQ(log.Has("bad parameter percentage on radius 2 (150), set to 50 !"), k.p_r2 == 150);
    EXPECT_EQ(p.m_p_r2, 50u);
    const std::vector<vm::Vector3>& scene = Syn::GetScene();
    ASSERT_EQ(scene.size(), k.points);
    for (size_t i = 0; i < scene.size(); ++i) {
      const double radius = scene[i].Length();
      if (k.cube) {
        EXPECT_GE(scene[i].z, r1 - 1e-9);
        EXPECT_LE(scene[i].z, r2 + 1e-9);
      } else if (k.dist) {
        EXPECT_GE(radius, r1 - 1e-9);
        EXPECT_LE(radius, r2 + 1e-9);
      } else if (k.grid) {
        EXPECT_NEAR(radius, i < 35 ? r2 : r1, 1e-9) << i;  // the r2 sphere first
      } else {
        EXPECT_NEAR(radius, i % 100 < 50 ? r1 : r2, 1e-9) << i;
      }
    }
  }
}

TEST(FeatureCorrelatorSynTest, ZoomRunsThroughItsPeriod) {
  Syn syn;
  syn.GetParameter().m_dz = 0.1;
  const double f = Syn::GetReferenceCamera().GetFocalLength();
  const struct {
    int n, exponent;
  } cases[] = {{0, 0},  {1, -1}, {7, -7}, {8, -6}, {14, 0},
               {21, 7}, {22, 6}, {27, 1}, {28, 0}, {35, -7}};
  for (const auto& k : cases) {
    PerspectiveCamera cam;
    syn.GetCamera(k.n, cam);
    EXPECT_NEAR(cam.GetFocalLength(), f * std::pow(1.1, k.exponent), 1e-9 * f) << k.n;
  }
}

TEST(FeatureCorrelatorSynTest, ZoomParametersWithoutACycleLeaveTheFocalLength) {
  const double f = Syn::GetReferenceCamera().GetFocalLength();
  const struct {
    double dz, zlb, zub;
  } cases[] = {
      {-1.0, 0.5, 2.0}, {-2.0, 0.5, 2.0}, {0.1, 0.0, 2.0}, {0.1, 0.5, -1.0}, {1e-300, 0.5, 2.0}};
  for (const auto& k : cases) {
    Syn syn;
    syn.GetParameter().m_dz = k.dz;
    syn.GetParameter().m_zlb = k.zlb;
    syn.GetParameter().m_zub = k.zub;
    PerspectiveCamera cam;
    syn.GetCamera(5, cam);
    EXPECT_NEAR(cam.GetFocalLength(), f, 1e-9 * f) << k.dz << " " << k.zlb << " " << k.zub;
  }
}

TEST(FeatureCorrelatorSynTest, OutliersOnlyInTheirImages) {
  Syn templ;
  Syn::Parameter& p = templ.GetParameter();
  p = Syn::Parameter();
  p.m_nf = 4000;
  p.m_std_d = 0.5;
  p.m_outlier = 1.0;  // every visible point of an outlier image
  p.m_covariance = 1;
  SynRun run(templ, 8);
  for (int n = 0; n < 8; ++n) {
    SCOPED_TRACE(n);
    size_t marked = 0;
    for (const auto& f : run.Features(n)) {
      if (f->TestFlags(1)) ++marked;
      EXPECT_EQ(f->GetCoVariance()[0], 0.25f);
      EXPECT_EQ(f->GetCoVariance()[1], 0.0f);
      EXPECT_EQ(f->GetCoVariance()[2], 0.25f);
      EXPECT_TRUE(f->TestFlags(FP2D_FLAG_COVARIANCE));
    }
    ASSERT_GT(run.Features(n).size(), 100u);
    if (n & 2) {
      // Displacements toward negative x or y are labelled too: nearly all are.
      EXPECT_GT(marked, run.Features(n).size() * 95 / 100);
    } else {
      EXPECT_EQ(marked, 0u);
    }
  }
}

TEST(FeatureCorrelatorSynTest, ClonesAndMissingImages) {
  Syn templ;
  templ.Init3DScene();
  for (int k = 0; k < 3; ++k) {
    SharedPtr<FeatureCorrelator> clone = templ.Clone();
    ASSERT_TRUE(clone);
    EXPECT_EQ(static_cast<Syn&>(*clone).GetCloneIndex(), k);
  }
  templ.Init3DScene();
  EXPECT_EQ(static_cast<Syn&>(*templ.Clone()).GetCloneIndex(), 0);

  FeatureImage image;
  LogCapture log;
  EXPECT_FALSE(templ.SetFeatureImages(nullptr, &image));
  EXPECT_EQ(templ.Compute(), 0);
  EXPECT_TRUE(image.GetFPoints2D().empty());
  templ.CreateImageFeatures(nullptr, 3);
  EXPECT_TRUE(log.Has("Warning: input image == NULL")) << log.text;
}

}  // namespace
