#include "foundation/tracks/feature_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/project/position_table.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/runtime/random_generator.h"
#include "foundation/tracks/feature_correspondence.h"

namespace {

using kxtest::LogCapture;
using kxtest::ProjectBytes;
using kxtest::TempFile;
using kxtest::Thrown;

TEST(FeaturePoint2DTest, CovarianceAndInverse) {
  struct Case {
    float a, b, c;
    float inv[3];
  };
  const Case cases[] = {
      {4, 0, 9, {0.25f, 0.0f, 1.0f / 9.0f}},
      {1, 1, 1, {1, 0, 1}},  // determinant 0
      {2, 1, 3, {3.0f / 5.0f, -1.0f / 5.0f, 2.0f / 5.0f}},
  };
  for (const Case& k : cases) {
    FeaturePoint2D f(nullptr, 1, 2);
    EXPECT_FALSE(f.TestFlags(FP2D_FLAG_COVARIANCE));
    f.SetCoVariance(k.a, k.b, k.c);
    EXPECT_TRUE(f.TestFlags(FP2D_FLAG_COVARIANCE));
    EXPECT_EQ(f.GetCoVariance()[0], k.a);
    EXPECT_EQ(f.GetCoVariance()[2], k.c);
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(f.GetInvCoVariance()[i], k.inv[i]) << k.a;
    const Matrix2x2 w = f.GetInverseCoVariance();
    EXPECT_EQ(w[0][0], f.GetInvCoVariance()[0]);
    EXPECT_EQ(w[0][1], f.GetInvCoVariance()[1]);
    EXPECT_EQ(w[1][0], f.GetInvCoVariance()[1]);
    EXPECT_EQ(w[1][1], f.GetInvCoVariance()[2]);
  }
}

TEST(FeaturePointTest, ErrorEllipseAndEllipsoidAxes) {
  FeaturePoint2D f;
  f.SetCoVariance(4, 0, 1);
  Matrix2x2 axes = f.GetErrorEllipseAxes();
  EXPECT_NEAR(std::fabs(axes[0][0]), 2.0, 1e-12);
  EXPECT_NEAR(axes[1][0], 0.0, 1e-12);
  EXPECT_NEAR(axes[0][1], 0.0, 1e-12);
  EXPECT_NEAR(std::fabs(axes[1][1]), 1.0, 1e-12);

  FeaturePoint3D p(FeaturePoint3D::eCartesian);
  const double c[9] = {1, 0, 0, 0, 9, 0, 0, 0, 4};
  p.SetCoVariance(c);
  const Matrix3x3& e = p.GetErrorEllipsoidAxes();
  // Columns by decreasing eigenvalue: 3 along y, 2 along z, 1 along x.
  const double expected[3][3] = {{0, 0, 1}, {3, 0, 0}, {0, 2, 0}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(std::fabs(e[i][j]), expected[i][j], 1e-12);
  }
}

TEST(FeaturePoint3DTest, CovarianceMatrixChecks) {
  FeaturePoint3D p;
  const double c[9] = {2, 0, 0, 0, 2, 0, 0, 0, 2};
  p.SetCoVariance(c);
  LogCapture log;
  Matrix wrong(3, 4);
  wrong.SetZero();
  p.SetCoVarianceMatrix(wrong);
  EXPECT_TRUE(log.Has("bad matrix dimension (3x4)")) << log.text;
  EXPECT_EQ(p.GetCoVariance(0, 0), 2.0);
  EXPECT_EQ(p.GetCoVariance(3, 0), 1.0);
  EXPECT_EQ(p.GetCoVariance(0, -1), 1.0);
  EXPECT_TRUE(log.Has("bad indices 3, 0")) << log.text;

  Matrix good(3, 3);
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t k = 0; k < 3; ++k) good(r, k) = r == k ? 16.0 : 0.0;
  }
  p.SetCoVarianceMatrix(good);
  EXPECT_EQ(p.GetCoVariance(1, 1), 16.0);
  EXPECT_NEAR(std::fabs(p.GetErrorEllipsoidAxes()[1][1]) +
                  std::fabs(p.GetErrorEllipsoidAxes()[1][0]) +
                  std::fabs(p.GetErrorEllipsoidAxes()[1][2]),
              4.0, 1e-12);
}

TEST(FeaturePoint3DTest, CopiesOwnTheirNamesAndAssignmentKeepsTheId) {
  auto a = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
  a->SetName("corner");
  a->SetId(5);
  a->AssignFlags(FP3D_FLAG_LOCATOR);
  a->SetStateWord(1, 7);
  auto b = SharedPtr<FeaturePoint3D>::Make(*a);
  EXPECT_NE(b->GetUID(), a->GetUID());
  EXPECT_NE(b->GetName(), a->GetName());
  EXPECT_STREQ(b->GetName(), "corner");
  EXPECT_EQ(b->GetStateWord(1), 7u);
  a.Release();  // the copy's name survives (ASan checks the frees)
  EXPECT_STREQ(b->GetName(), "corner");

  FeaturePoint3D target(FeaturePoint3D::eSpherical);
  target.SetName("old");
  const int32_t uid = target.GetUID();
  target = *b;
  EXPECT_EQ(target.GetUID(), uid);
  EXPECT_STREQ(target.GetName(), "corner");
  EXPECT_EQ(target.GetId(), 5);
  EXPECT_EQ(target.GetCS(), FeaturePoint3D::eCartesian);
  EXPECT_EQ(target.GetFlags(), FP3D_FLAG_LOCATOR);
  target = FeaturePoint3D(FeaturePoint3D::eSpherical);  // an absent name becomes absent
  EXPECT_EQ(target.GetName(), nullptr);
  EXPECT_EQ(target.GetUID(), uid);
}

TEST(FeaturePoint2DTest, CopySharesLinksAndAssignmentKeepsTheId) {
  auto p = SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0, 2.0);
  auto q = SharedPtr<FeaturePoint2D>::Make(nullptr, 3.0, 4.0);
  auto link = SharedPtr<FeatureCorrespondence>::Make(p, q);
  p->SetSuccessor(link);
  q->SetPredecessor(link);
  auto point = SharedPtr<FeaturePoint3D>::Make(FeaturePoint3D::eCartesian);
  point->SetId(70000);  // beyond 16 bits: the stored index keeps it whole
  p->SetFPoint3D(point);
  EXPECT_EQ(p->GetFPoint3DIndex(), 70000);
  p->SetCoVariance(4, 0, 9);

  FeaturePoint2D copy(*p);
  EXPECT_NE(copy.GetUID(), p->GetUID());
  // Objects found by id turn back into handles; a copy on the stack does not.
  EXPECT_EQ(SharedPtr<FeaturePoint2D>::FromPlainPointer(p.Get()), p);
  EXPECT_FALSE(SharedPtr<FeaturePoint2D>::FromPlainPointer(&copy));
  EXPECT_EQ(copy.GetSuccessor(), link);
  EXPECT_EQ(copy.GetSuccessor()->GetFirst(), p);  // the link still names the source
  EXPECT_EQ(copy.GetFPoint3D(), point);
  EXPECT_EQ(copy.GetInvCoVariance()[0], 0.25f);
  EXPECT_EQ(copy.x, 1.0);

  FeaturePoint2D target(nullptr, 9, 9);
  const int32_t uid = target.GetUID();
  target = *q;
  EXPECT_EQ(target.GetUID(), uid);
  EXPECT_EQ(target.GetPredecessor(), link);
  EXPECT_EQ(target.x, 3.0);

  UnlinkFromTrack(p);
  copy.SetSuccessor(nullptr);
  target.SetPredecessor(nullptr);
  EXPECT_EQ(link.RefCount(), 1);
  link.Release();
  EXPECT_EQ(p.RefCount(), 1);
  EXPECT_EQ(q.RefCount(), 1);
}

TEST(FeaturePointTest, InvertMatrix2x2) {
  Matrix2x2 m = {{2, 1, 4, 3}};
  Matrix2x2 inv;
  EXPECT_TRUE(InvertMatrix2x2(inv, m));
  const double expected[4] = {1.5, -0.5, -2, 1};
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(inv.m[i], expected[i]);
  EXPECT_TRUE(InvertMatrix2x2(m, m));  // in place
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(m.m[i], expected[i]);
  Matrix2x2 singular = {{1, 2, 2, 4}};
  EXPECT_FALSE(InvertMatrix2x2(inv, singular));
  EXPECT_EQ(inv.m[0], 1.0);
  EXPECT_EQ(inv.m[1], 0.0);
  EXPECT_EQ(inv.m[2], 0.0);
  EXPECT_EQ(inv.m[3], 1.0);
}

TEST(FeaturePointTest, ReseedSamplingGeneratorRepeatsTheSequence) {
  RandomGenerator fresh(4783);
  for (int i = 0; i < 5; ++i) SamplingRandomGenerator().Next();
  ReseedSamplingGenerator();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(SamplingRandomGenerator().Next(), fresh.Next());
}

// ---- project fields

// Restores the object the bytes hold (after the header) into object.
void Restore(const std::string& bytes, const ProjectKey& key, DataBase& object) {
  TempFile file(bytes);
  DataBaseIn in;
  in.Open(file.path());
  ASSERT_TRUE(kxtest::ReadObjectKey(in, key));
  object.RestoreObject(in);
}

TEST(FeaturePointTest, RestoresFeaturesAndPointsInBothModes) {
  const std::string long_name(300, 'n');
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "ascii");
    ProjectBytes w(binary);
    w.Begin(PF_KEY_FP2D);
    w.Key(PF_KEY_VEC2).Real(123.25).Real(-0.5).Eol();
    w.Key(PF_KEY_FP3DI).Int(40000).Eol();  // beyond 16 bits
    w.Key(PF_KEY_NFP2DI).Int(-1).Eol();
    w.Key(PF_KEY_NFCSUP).Int(0x41).Eol();
    // A key of another class: skipped (in binary only an object can be).
    if (binary) {
      w.Begin(PF_KEY_ID).End();
    } else {
      w.Key(PF_KEY_ID).Int(3).Eol();
    }
    w.Key(PF_KEY_FLGS).Int(FP2D_FLAG_MANUAL | FP2D_FLAG_ANCHOR).Eol();
    w.End();
    FeaturePoint2D f;
    LogCapture log;
    Restore(w.bytes(), PF_KEY_FP2D, f);
    EXPECT_EQ(f.x, 123.25);
    EXPECT_EQ(f.y, -0.5);
    EXPECT_EQ(f.GetFPoint3DIndex(), 40000);
    EXPECT_EQ(f.GetSuccessorIndex(), -1);
    EXPECT_EQ(f.GetSuccessorFlags(), 0x41u);
    EXPECT_EQ(f.GetFlags(), FP2D_FLAG_MANUAL | FP2D_FLAG_ANCHOR);
    EXPECT_TRUE(log.Has(binary ? "field id 0x20" : "skip unknown: field Id")) << log.text;

    ProjectBytes p(binary);
    p.Begin(PF_KEY_FP3D);
    p.Key(PF_KEY_NAME).Text(long_name).Eol();
    p.Key(PF_KEY_VEC3).Real(1.5).Real(12345.678).Real(-0.05).Eol();
    p.Key(PF_KEY_ID).Int(70000).Eol();
    p.Key(PF_KEY_CS).Int(1).Eol();
    p.Key(PF_KEY_FLGS).Int(FP3D_FLAG_NO_EXPORT).Eol();
    p.End();
    FeaturePoint3D point;
    Restore(p.bytes(), PF_KEY_FP3D, point);
    EXPECT_EQ(std::string(point.GetName()), long_name.substr(0, PF_MAX_TEXT));
    EXPECT_EQ(point.x, 1.5);
    EXPECT_FLOAT_EQ(point.y, 12345.678);
    EXPECT_FLOAT_EQ(point.z, -0.05);
    EXPECT_EQ(point.GetId(), 70000);
    EXPECT_EQ(point.GetCS(), FeaturePoint3D::eCartesian);
    EXPECT_EQ(point.GetFlags(), FP3D_FLAG_NO_EXPORT);

    // Only the fields present change: an unnamed point keeps no name.
    ProjectBytes q(binary);
    q.Begin(PF_KEY_FP3D).Key(PF_KEY_VEC3).Real(1).Real(2).Real(3).Eol().End();
    FeaturePoint3D plain;
    Restore(q.bytes(), PF_KEY_FP3D, plain);
    EXPECT_EQ(plain.GetName(), nullptr);
    EXPECT_EQ(plain.GetId(), -1);
    EXPECT_EQ(plain.z, 3.0);
  }
}

// The writers give exactly the fields the handlers read, with the cross references as
// positions in the written lists.
TEST(FeaturePointTest, WritersStoreTheFieldsAndPositions) {
  using List2D = std::vector<SharedPtr<FeaturePoint2D>>;
  std::vector<SharedPtr<FeaturePoint3D>> points = {
      SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian),
      SharedPtr<FeaturePoint3D>(),
      SharedPtr<FeaturePoint3D>::Make(0.5, -0.25, 1000.0, FeaturePoint3D::eSpherical)};
  auto foreign_point = SharedPtr<FeaturePoint3D>::Make();
  List2D next = {SharedPtr<FeaturePoint2D>(), SharedPtr<FeaturePoint2D>::Make(nullptr, 5, 6),
                 SharedPtr<FeaturePoint2D>::Make(nullptr, 7, 8)};
  auto anchor = SharedPtr<FeaturePoint2D>::Make(nullptr, 9, 9);
  const PositionTable points3d(points), next_table(next);

  auto linked = [](const SharedPtr<FeaturePoint2D>& later, uint32_t flags) {
    auto f = SharedPtr<FeaturePoint2D>::Make(nullptr, 12.5, -3.25);
    auto link = SharedPtr<FeatureCorrespondence>::Make();
    link->SetFirst(f);
    link->SetSecond(later);
    link->SetFlags(flags);
    f->SetSuccessor(link);
    return f;
  };
  const struct Case {
    const char* name;
    SharedPtr<FeaturePoint2D> feature;
    SharedPtr<FeaturePoint3D> point;
    const PositionTable* next_list;
    int32_t point_index, next_index, next_flags;
  } cases[] = {
      {"linked", linked(next[2], 0x21), points[2], &next_table, 1, 1, 0x21},
      {"successor elsewhere", linked(anchor, 0x40), points[0], &next_table, 0, -1, 0},
      {"last frame", linked(next[1], 0x1), foreign_point, nullptr, -1, -1, 0},
      {"no links", SharedPtr<FeaturePoint2D>::Make(nullptr, 1, 2), {}, &next_table, -1, -1, 0},
  };
  for (bool binary : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + c.name);
      c.feature->SetFPoint3D(c.point);
      c.feature->AssignFlags(FP2D_FLAG_COVARIANCE | FP2D_FLAG_MANUAL);
      const std::string bytes = kxtest::WrittenBytes(binary, [&](DataBaseOut& out) {
        WriteFeaturePoint2D(out, *c.feature, points3d, c.next_list);
      });
      ProjectBytes w(binary);
      w.Begin(PF_KEY_FP2D);
      w.Key(PF_KEY_VEC2).Real(c.feature->x).Real(c.feature->y).Eol();
      w.Key(PF_KEY_FP3DI).Int(c.point_index).Eol();
      w.Key(PF_KEY_NFP2DI).Int(c.next_index).Eol();
      w.Key(PF_KEY_NFCSUP).Int(c.next_flags).Eol();
      w.Key(PF_KEY_FLGS).Int(FP2D_FLAG_COVARIANCE | FP2D_FLAG_MANUAL).Eol();
      w.End();
      EXPECT_EQ(bytes, w.bytes());
      FeaturePoint2D restored;
      Restore(bytes, PF_KEY_FP2D, restored);
      EXPECT_EQ(restored.x, c.feature->x);
      EXPECT_EQ(restored.GetFPoint3DIndex(), c.point_index);
      EXPECT_EQ(restored.GetSuccessorIndex(), c.next_index);
      EXPECT_EQ(restored.GetSuccessorFlags(), uint32_t(c.next_flags));
      EXPECT_EQ(restored.GetFlags(), FP2D_FLAG_COVARIANCE | FP2D_FLAG_MANUAL);
    }
  }
  for (const auto& c : cases) UnlinkFromTrack(c.feature);

  // Points: a named Cartesian point with flags; an unnamed direction with flags 0 has
  // exactly "Vec3", "Id" and "CS".
  points[0]->SetName("corner left");
  points[0]->SetId(70000);
  points[0]->AssignFlags(FP3D_FLAG_LOCATOR | FP3D_FLAG_NO_EXPORT);
  points[2]->SetId(2);
  for (bool binary : {false, true}) {
    for (int i : {0, 2}) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(i));
      const FeaturePoint3D& p = *points[i];
      const std::string bytes =
          kxtest::WrittenBytes(binary, [&](DataBaseOut& out) { WriteFeaturePoint3D(out, p); });
      ProjectBytes w(binary);
      w.Begin(PF_KEY_FP3D);
      if (i == 0) w.Key(PF_KEY_NAME).Text("corner left").Eol();
      w.Key(PF_KEY_VEC3).Real(p.x).Real(p.y).Real(p.z).Eol();
      w.Key(PF_KEY_ID).Int(p.GetId()).Eol();
      w.Key(PF_KEY_CS).Int(p.GetCS()).Eol();
      if (i == 0) w.Key(PF_KEY_FLGS).Int(FP3D_FLAG_LOCATOR | FP3D_FLAG_NO_EXPORT).Eol();
      w.End();
      EXPECT_EQ(bytes, w.bytes());
      FeaturePoint3D restored;
      Restore(bytes, PF_KEY_FP3D, restored);
      EXPECT_EQ(static_cast<const vm::Vector3&>(restored), static_cast<const vm::Vector3&>(p));
      EXPECT_EQ(restored.GetCS(), p.GetCS());
      EXPECT_EQ(restored.GetId(), p.GetId());
      EXPECT_EQ(restored.GetFlags(), p.GetFlags());
      if (i == 0) {
        EXPECT_STREQ(restored.GetName(), "corner left");
      }
    }
  }
}

TEST(FeaturePointTest, HostileFields) {
  struct Case {
    bool binary;
    std::string body;  // after the object's key
    const char* error;
  };
  const std::string b1(1, static_cast<char>(PF_OBJECT_BEGIN));
  const Case cases[] = {
      // truncated inside a vector, a text, an object
      {true, b1 + "\x42\x01\x02", "unexpected end of file"},
      {true, b1 + "\x22nameless", "unexpected end of file"},
      {false, " {\n\tVec3 1 2 3\n", "unexpected end of file"},
      // an integer beyond 32 bits
      {true, b1 + "\x20\xff\xff\xff\xff\xff\x01", "FileScanner::GetBInt: invalid format"},
      {false, " {\n\tId 99999999999\n}\n", "FileScanner::GetAInt: invalid format"},
      {false, " {\n\tId 12a\n}\n", "FileScanner::GetAInt: invalid format"},
      // an unterminated or unquoted name
      {false, " {\n\tName \"open\n}\n", "unexpected end of file"},
      {false, " {\n\tName open\n}\n", "DataBaseIn::GetString: missing \""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.body);
    ProjectBytes w(k.binary);
    w.Key(PF_KEY_FP3D).Raw(k.body);
    FeaturePoint3D point;
    EXPECT_EQ(Thrown([&] { Restore(w.bytes(), PF_KEY_FP3D, point); }), k.error);
  }
}

}  // namespace
