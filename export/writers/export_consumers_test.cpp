// The exports loaded by the programs that consume them, where this machine has them
// (scripts/deps.sh installs them); a missing program skips its check.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/writers/save_cam_path_blender.h"
#include "export/writers/save_cam_path_collada.h"
#include "export/writers/save_cam_path_truespace.h"
#include "export/writers/user_objects_for_test.h"
#include "export/writers/writer_fixture_for_test.h"
#include "testing/log_capture.h"

namespace {

bool HasProgram(const char* name) {
  return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `command` with its output going to `output`; the exit status.
int RunCommand(const std::string& command, std::string& output, const kxtest::TempDir& dir) {
  const std::string log = dir.File("run.log");
  const int status = std::system((command + " >'" + log + "' 2>&1").c_str());
  output = kxtest::ReadText(log);
  return status == -1 ? -1 : WEXITSTATUS(status);
}

class ExportConsumersTest : public testing::Test {
 protected:
  void SetUp() override {
    kxtest::LogCapture quiet(1);
    SaveCamPathCollada collada(dir_.path().c_str(), "scene.dae");
    collada.SetFramesPerSecond(29.97);
    ASSERT_TRUE(collada.Export(kxtest::ThreeCameras(), kxtest::FourPoints()));
    SaveCamPathCollada bare(dir_.path().c_str(), "bare.dae");
    ASSERT_TRUE(bare.Export({kxtest::ThreeCameras()[0]}, {}));
    // Every kind of user object, and the same as a trueSpace scene.
    SaveCamPathCollada objects(dir_.path().c_str(), "objects.dae");
    objects.SetSceneObjects(&scene_.scene);
    ASSERT_TRUE(objects.Export(kxtest::ThreeCameras(), kxtest::FourPoints()));
    SaveCamPathTruespace truespace(dir_.path().c_str(), "objects.scn");
    truespace.SetSceneObjects(&scene_.scene);
    ASSERT_TRUE(truespace.Export(kxtest::ThreeCameras(), kxtest::FourPoints()));
  }
  std::string Dae(const char* name) const { return dir_.File(name); }
  kxtest::UserObjectScene scene_;
  kxtest::TempDir dir_;
};

TEST_F(ExportConsumersTest, ColladaValidatesAgainstTheSchema) {
  const std::string schema = "/usr/lib/opencollada/collada_schema_1_4_1.xsd";
  const std::string xml_xsd = "/usr/lib/python3/dist-packages/collada/resources/xsd.xml";
  if (!HasProgram("xmllint") || !std::filesystem::exists(schema) ||
      !std::filesystem::exists(xml_xsd)) {
    GTEST_SKIP() << "xmllint, opencollada-tools or python3-collada missing";
  }
  // The schema imports xml.xsd from the web; point it at the local copy.
  std::string text = kxtest::ReadText(schema);
  const std::string remote = "http://www.w3.org/2001/03/xml.xsd";
  const size_t at = text.find(remote);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, remote.size(), xml_xsd);
  kxtest::WriteFile(dir_.File("schema.xsd"), text);
  for (const char* name : {"scene.dae", "bare.dae", "objects.dae"}) {
    SCOPED_TRACE(name);
    std::string output;
    EXPECT_EQ(RunCommand("xmllint --noout --nonet --schema '" + dir_.File("schema.xsd") + "' '" +
                             Dae(name) + "'",
                         output, dir_),
              0)
        << output;
  }
}

TEST_F(ExportConsumersTest, ColladaPassesTheOpenColladaValidator) {
  if (!HasProgram("opencolladavalidator")) GTEST_SKIP() << "opencollada-tools missing";
  for (const char* name : {"scene.dae", "bare.dae", "objects.dae"}) {
    SCOPED_TRACE(name);
    std::string output;
    EXPECT_EQ(RunCommand("opencolladavalidator '" + Dae(name) + "'", output, dir_), 0) << output;
    EXPECT_NE(output.find("is valid against the COLLADA 1.4.1 schema"), std::string::npos)
        << output;
    EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
  }
}

// The numbers that follow `label` in `text` (from position `from`), `count` of them.
std::vector<double> NumbersAfter(const std::string& text, const std::string& label, size_t count,
                                 size_t from = 0) {
  std::vector<double> values;
  size_t at = text.find(label, from);
  if (at == std::string::npos) return values;
  const char* p = text.c_str() + at + label.size();
  while (values.size() < count) {
    while (*p != '\0' && !(std::isdigit(static_cast<unsigned char>(*p)) || *p == '-')) ++p;
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) break;
    values.push_back(v);
    p = end;
  }
  return values;
}

// The camera's pose in the document's frame (the tracking system turned by 180 degrees
// about X; the camera looking along its -z with y up): rows of [F R F | F C].
std::vector<double> DocumentPose(const FeatureImage& camera) {
  const vm::Vector3 h = camera.H0(), v = camera.V0(), a = camera.GetA(), c = camera.GetC();
  const double r[3][3] = {{h.x, v.x, a.x}, {h.y, v.y, a.y}, {h.z, v.z, a.z}};
  const double f[3] = {1, -1, -1};
  const double t[3] = {c.x, -c.y, -c.z};
  std::vector<double> m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.push_back(f[i] * r[i][j] * f[j]);
    m.push_back(t[i]);
  }
  return m;
}

TEST_F(ExportConsumersTest, AssimpReadsTheColladaScene) {
  if (!HasProgram("assimp")) GTEST_SKIP() << "assimp-utils missing";
  std::string output;
  ASSERT_EQ(RunCommand("assimp info '" + Dae("scene.dae") + "'", output, dir_), 0) << output;
  for (const char* part : {"Cameras:            1", "TORBANESceneNode", "PointCloudNode", "auto_3",
                           "Camera\n", "'Camera-rotateX'"}) {
    EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
  }

  // The camera node and its keys as assimp evaluates them, against the cameras exported.
  const std::string dump = dir_.File("scene.assxml");
  ASSERT_EQ(RunCommand("assimp dump '" + Dae("scene.dae") + "' '" + dump + "'", output, dir_), 0)
      << output;
  const std::string xml = kxtest::ReadText(dump);
  const SaveCamPath::CameraList cameras = kxtest::ThreeCameras();
  const std::vector<double> node =
      NumbersAfter(xml, "<Matrix4>", 12, xml.find("<Node name=\"Camera\">"));
  const std::vector<double> first = DocumentPose(*cameras[0]);
  ASSERT_EQ(node.size(), 12u) << xml;
  for (size_t k = 0; k < 12; ++k) EXPECT_NEAR(node[k], first[k], 2e-6) << k;

  size_t position = xml.find("<PositionKeyList num=\"3\">");
  size_t rotation = xml.find("<RotationKeyList num=\"3\">");
  ASSERT_NE(position, std::string::npos) << xml;
  ASSERT_NE(rotation, std::string::npos) << xml;
  for (size_t i = 0; i < cameras.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<double> want = DocumentPose(*cameras[i]);
    position = xml.find("<PositionKey ", position + 1);
    const std::vector<double> key = NumbersAfter(xml, "time=", 4, position);
    ASSERT_EQ(key.size(), 4u);
    EXPECT_NEAR(key[0], 1000.0 * double(float(double(i) / 29.97)), 1e-3);  // ms
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(key[1 + k], want[4 * k + 3], 1e-5);
    // x, y, z, w of the rotation key, compared as the rotation it stands for.
    rotation = xml.find("<RotationKey ", rotation + 1);
    const std::vector<double> q = NumbersAfter(xml, "\">", 4, rotation);
    ASSERT_EQ(q.size(), 4u);
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    const double m[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[r][c], want[4 * r + c], 2e-5) << r << c;
    }
  }
}

TEST_F(ExportConsumersTest, PythonCompilesTheBpyScripts) {
  if (!HasProgram("python3")) GTEST_SKIP() << "python3 missing";
  for (float version : {2.5f, 2.6f}) {
    SCOPED_TRACE(version);
    SaveCamPathBlender writer(dir_.path().c_str(), "cams.py");
    writer.SetVersion(version);
    ASSERT_TRUE(writer.Export(kxtest::ThreeCameras(), kxtest::FourPoints()));
    std::string output;
    EXPECT_EQ(RunCommand("python3 -m py_compile '" + dir_.File("cams.py") + "'", output, dir_), 0)
        << output;
  }
}

}  // namespace
