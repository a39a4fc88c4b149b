#include <gtest/gtest.h>

#include "foundation/camera/perspective_camera.h"
#include "foundation/project/data_base.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;
using kxtest::ProjectBytes;
using kxtest::TempFile;
using kxtest::Thrown;

// A stored class whose camera part is restored through the camera's handler, as a
// frame's image does.
struct StoredCamera : DataBase, PerspectiveCamera {
  bool CheckForField(DataBaseIn& in, const char* key) override {
    return PerspectiveCamera::CheckForField(in, key);
  }
};

// The camera as a writer stores it: one record (binary) or eleven fields (ascii).
void WriteCamera(ProjectBytes& w, const PerspectiveCamera& cam, int model_id) {
  const vm::Vector3* vectors[4] = {&cam.GetC(), &cam.GetA(), &cam.GetH(), &cam.GetV()};
  const ProjectKey vector_keys[4] = {PF_KEY_CVEC, PF_KEY_AVEC, PF_KEY_HVEC, PF_KEY_VVEC};
  const double* k = cam.GetDistortionCoefficients();
  const double reals[4] = {cam.GetPixelSizeX(), cam.GetPixelSizeY(), k[0], k[1]};
  const ProjectKey real_keys[4] = {PF_KEY_PIXEL_SIZE_X, PF_KEY_PIXEL_SIZE_Y, PF_KEY_RAD_DIST_K3,
                                   PF_KEY_RAD_DIST_K5};
  if (w.binary()) {
    w.Byte(PF_CAMERA_RECORD);
    for (const vm::Vector3* v : vectors) w.Real(v->x).Real(v->y).Real(v->z);
    w.Int(static_cast<int32_t>(cam.GetWidth())).Int(static_cast<int32_t>(cam.GetHeight()));
    for (double r : reals) w.Real(r);
    w.Int(model_id);
    return;
  }
  for (int i = 0; i < 4; ++i) {
    w.Key(vector_keys[i]).Real(vectors[i]->x).Real(vectors[i]->y).Real(vectors[i]->z).Eol();
  }
  w.Key(PF_KEY_WIDTH).Int(static_cast<int32_t>(cam.GetWidth())).Eol();
  w.Key(PF_KEY_HEIGHT).Int(static_cast<int32_t>(cam.GetHeight())).Eol();
  for (int i = 0; i < 4; ++i) w.Key(real_keys[i]).Real(reals[i]).Eol();
  w.Key(PF_KEY_RAD_DIST_TYPE).Int(model_id).Eol();
}

void Restore(const std::string& bytes, DataBase& object) {
  TempFile file(bytes);
  DataBaseIn in;
  in.Open(file.path());
  ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_FIMAGE));
  object.RestoreObject(in);
}

void ExpectVectorNear(const vm::Vector3& a, const vm::Vector3& b) {
  EXPECT_FLOAT_EQ(a.x, b.x);
  EXPECT_FLOAT_EQ(a.y, b.y);
  EXPECT_FLOAT_EQ(a.z, b.z);
}

TEST(CameraRestoreTest, RoundTripInBothModes) {
  PerspectiveCamera saved;
  const double zero[4] = {0, 0, 0, 0};
  saved.SetAll({10.5, -20.25, 1234.5}, {0.0, 0.6, 0.8}, {1500.0, 3.0, 40.0}, {-2.0, 1100.0, 7.0},
               1920, 1080, 0.0078125, 0.0075, zero, zero, Poly5);
  saved.SetDistortion(-1.2345e-5, 3.5e-9, 0, Poly5);
  const struct {
    int stored_id;
    RadialDistortionFunction expected;
  } models[] = {{kRadDistPoly5, Poly5}, {kRadDistPoly4, Poly4}, {9, Poly3}, {-1, Poly3}};
  for (bool binary : {false, true}) {
    for (const auto& model : models) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(model.stored_id));
      ProjectBytes w(binary);
      w.Begin(PF_KEY_FIMAGE);
      WriteCamera(w, saved, model.stored_id);
      w.End();
      StoredCamera cam;
      const double further[4] = {1, 2, 3, 4};
      cam.SetAll(cam.GetC(), cam.GetA(), cam.GetH(), cam.GetV(), 1, 1, 1, 1, further, further,
                 Fisheye);
      cam.SetName("kept");
      Restore(w.bytes(), cam);
      ExpectVectorNear(cam.GetC(), saved.GetC());
      ExpectVectorNear(cam.GetA(), saved.GetA());
      ExpectVectorNear(cam.GetH(), saved.GetH());
      ExpectVectorNear(cam.GetV(), saved.GetV());
      EXPECT_EQ(cam.GetWidth(), 1920u);
      EXPECT_EQ(cam.GetHeight(), 1080u);
      EXPECT_FLOAT_EQ(cam.GetPixelSizeX(), 0.0078125);
      EXPECT_FLOAT_EQ(cam.GetPixelSizeY(), 0.0075);
      const double* k = cam.GetDistortionCoefficients();
      EXPECT_FLOAT_EQ(k[0], -1.2345e-5);
      EXPECT_FLOAT_EQ(k[1], 3.5e-9);
      // A record zeroes the further coefficients; named fields leave them alone.
      EXPECT_EQ(k[2], binary ? 0.0 : 3.0);
      EXPECT_EQ(k[3], binary ? 0.0 : 4.0);
      EXPECT_EQ(cam.GetDistortionModel(), model.expected);
      EXPECT_EQ(cam.GetFurtherValues()[1], 2.0);  // never stored
      EXPECT_STREQ(cam.GetName(), "kept");
    }
  }
}

// The camera's writer: the bytes the reader expects, for every lens model; what it wrote
// restores to the same camera and is written again byte for byte.
TEST(CameraRestoreTest, WriterRoundTripsEveryLensModel) {
  auto save = [](const PerspectiveCamera& camera, bool binary) {
    return kxtest::WrittenBytes(binary, [&](DataBaseOut& out) {
      out.BeginObject(PF_KEY_FIMAGE);
      ::WriteCamera(out, camera);
      out.EndObject();
    });
  };
  const RadialDistortionFunction models[kNumRadDistTypes] = {Poly3, Poly5, Fisheye,
                                                             FisheyeEquisolid, Poly4};
  for (bool binary : {false, true}) {
    for (int id = 0; id < kNumRadDistTypes; ++id) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(id));
      PerspectiveCamera saved;
      const double k[4] = {id == 4 ? 512.0 : -1.2345e-5, 3.5e-9, 0, 0};
      const double zero[2] = {0, 0};
      saved.SetAll({10.5, -20.25, 1234.5}, {0.0, 0.6, 0.8}, {1500.0, 3.0, 40.0},
                   {-2.0, 1100.0, 7.0}, 1920, 1080, 0.0078125, 0.0075, k, zero, models[id]);
      const std::string bytes = save(saved, binary);
      ProjectBytes expected(binary);
      expected.Begin(PF_KEY_FIMAGE);
      WriteCamera(expected, saved, id);
      expected.End();
      EXPECT_EQ(bytes, expected.bytes());

      StoredCamera restored;
      Restore(bytes, restored);
      EXPECT_EQ(restored.GetDistortionModel(), models[id]);
      EXPECT_FLOAT_EQ(restored.GetDistortionCoefficients()[0], k[0]);
      ExpectVectorNear(restored.GetH(), saved.GetH());
      EXPECT_EQ(save(restored, binary), bytes);
    }
  }
}

TEST(CameraRestoreTest, NamedFieldsChangeOnlyTheirMemberAndRdDimIsNeverRead) {
  StoredCamera cam;
  cam.SetDistortion(0.5, 0.25, 1, Poly5);
  ProjectBytes w(false);
  w.Begin(PF_KEY_FIMAGE).Key(PF_KEY_RAD_DIST_K3).Real(-0.125).Eol();
  w.Key(PF_KEY_AVEC).Real(0).Real(0).Real(2).Eol().End();
  Restore(w.bytes(), cam);
  EXPECT_EQ(cam.GetA(), (vm::Vector3{0, 0, 2}));  // as stored, not normalised
  EXPECT_EQ(cam.GetH(), PerspectiveCamera().GetH());
  EXPECT_EQ(cam.GetDistortionCoefficients()[0], -0.125);
  EXPECT_EQ(cam.GetDistortionCoefficients()[1], 0.25);
  EXPECT_EQ(cam.GetRdDim(), 1);
  EXPECT_EQ(cam.GetDistortionModel(), Poly5);
  EXPECT_EQ(cam.GetWidth(), 720u);
}

TEST(CameraRestoreTest, DamagedRecords) {
  PerspectiveCamera plain;
  struct Case {
    bool binary;
    int width;
    bool truncate;
    const char* error;
  };
  const Case cases[] = {
      {true, -5, false, "PerspectiveCamera::CheckForField: negative image size"},
      {false, -5, false, "PerspectiveCamera::CheckForField: negative image size"},
      {true, 720, true, "unexpected end of file"},
  };
  for (const Case& c : cases) {
    ProjectBytes w(c.binary);
    w.Begin(PF_KEY_FIMAGE);
    if (c.binary) {
      w.Byte(PF_CAMERA_RECORD);
      for (int i = 0; i < 12; ++i) w.Real(7.0);
      w.Int(c.width).Int(576);
      if (!c.truncate) w.Real(0.1).Real(0.1).Real(0).Real(0).Int(0).End();
    } else {
      w.Key(PF_KEY_WIDTH).Int(c.width).Eol().End();
    }
    StoredCamera cam;
    EXPECT_EQ(Thrown([&] { Restore(w.bytes(), cam); }), c.error);
    EXPECT_EQ(cam.GetC(), plain.GetC());  // a damaged record changes nothing
    EXPECT_EQ(cam.GetWidth(), 720u);
  }
}

TEST(CameraRestoreTest, UnknownFieldsAreLeftToTheCaller) {
  for (bool binary : {false, true}) {
    ProjectBytes w(binary);
    w.Begin(PF_KEY_FIMAGE).Begin(ProjectKey{"Lens", 0x57}).End();
    if (!binary) w.Key(PF_KEY_WIDTH).Int(640).Eol();  // binary files hold it in the record
    // An unknown scalar: skipped in ascii; in binary nothing tells its length.
    w.Key(PF_KEY_INDEX).Int(3).Eol().End();
    StoredCamera cam;
    LogCapture log;
    EXPECT_EQ(Thrown([&] { Restore(w.bytes(), cam); }),
              binary ? "DataBaseIn::SkipObject: unknown binary field is not an object" : "");
    EXPECT_EQ(cam.GetWidth(), binary ? 720u : 640u);
    EXPECT_TRUE(log.Has(binary ? "field id 0x26" : "skip unknown: field Index")) << log.text;
    EXPECT_TRUE(log.Has(binary ? "field id 0x57" : "skip unknown: field Lens")) << log.text;
  }
}

}  // namespace
