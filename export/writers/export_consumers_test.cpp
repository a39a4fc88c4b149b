// The exports loaded by the programs that consume them, where this machine has them
// (scripts/deps.sh installs them); a missing program skips its check.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/writers/caligari_chunks_for_test.h"
#include "export/writers/export_meshes.h"
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

// The corners of the mesh of the assimp node whose element starts at node_at, as "assimp
// dump" lists them (each face's corners in turn).
std::vector<vm::Vector3> AssimpMeshCorners(const std::string& xml, size_t node_at) {
  const size_t mesh_ref = size_t(NumbersAfter(xml, "<MeshRefs num=\"1\">", 1, node_at).at(0));
  size_t mesh_at = 0;
  for (size_t k = 0; k <= mesh_ref; ++k) mesh_at = xml.find("<Mesh types=", mesh_at + 1);
  const size_t count = size_t(NumbersAfter(xml, "<Positions num=\"", 1, mesh_at).at(0));
  const std::vector<double> values = NumbersAfter(xml, "num_components=\"3\">", 3 * count, mesh_at);
  std::vector<vm::Vector3> corners;
  for (size_t k = 0; k + 2 < values.size(); k += 3) {
    corners.push_back({values[k], values[k + 1], values[k + 2]});
  }
  EXPECT_EQ(corners.size(), count);
  return corners;
}

// Expects every corner to be one of the vertices (within tolerance).
void ExpectCornersAreVertices(const std::vector<vm::Vector3>& corners,
                              const std::vector<vm::Vector3>& vertices, double tolerance) {
  for (size_t k = 0; k < corners.size(); ++k) {
    const vm::Vector3& p = corners[k];
    bool found = false;
    for (const vm::Vector3& v : vertices) {
      found = found || (std::fabs(v.x - p.x) < tolerance && std::fabs(v.y - p.y) < tolerance &&
                        std::fabs(v.z - p.z) < tolerance);
    }
    EXPECT_TRUE(found) << "corner " << k;
  }
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

// The user objects as assimp places them: every mesh node's transform and vertices against
// the scene's objects, in the document's frame (the tracking frame turned about X).
TEST_F(ExportConsumersTest, AssimpReadsTheUserObjectsOfTheColladaScene) {
  if (!HasProgram("assimp")) GTEST_SKIP() << "assimp-utils missing";
  std::string output;
  const std::string dump = dir_.File("objects.assxml");
  ASSERT_EQ(RunCommand("assimp dump '" + Dae("objects.dae") + "' '" + dump + "'", output, dir_), 0)
      << output;
  const std::string xml = kxtest::ReadText(dump);
  // The texture, beside the document.
  EXPECT_NE(xml.find("./objects_0.png"), std::string::npos);
  struct Case {
    const char* node;
    const NHSObject* object;
  } cases[] = {{"Camera_1", scene_.rect},
               {"Box", scene_.box},
               {"Box_1", scene_.cone},
               {"My_Photo", scene_.photo},
               {"Hidden", scene_.hidden}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    // The node's world matrix: its ancestors' matrices up to the visual scene.
    double world[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    size_t at = xml.find(std::string("<Node name=\"") + c.node + "\">");
    ASSERT_NE(at, std::string::npos);
    const std::vector<double> own = NumbersAfter(xml, "<Matrix4>", 12, at);
    ASSERT_EQ(own.size(), 12u);
    std::vector<double> chain = own;
    if (c.object == scene_.cone) {  // nested in the box's node
      const std::vector<double> parent =
          NumbersAfter(xml, "<Matrix4>", 12, xml.find("<Node name=\"Box\">"));
      for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 4; ++k) {
          chain[size_t(4 * r + k)] = (k == 3 ? parent[size_t(4 * r + 3)] : 0.0);
          for (int j = 0; j < 3; ++j) {
            chain[size_t(4 * r + k)] += parent[size_t(4 * r + j)] * own[size_t(4 * j + k)];
          }
        }
      }
    }
    std::copy(chain.begin(), chain.end(), world);
    // Expected: the object's place in the scene, turned about X.
    Matrix3x4 g;
    c.object->GetGlobalTransform(g, true);
    const double flip[3] = {1, -1, -1};
    for (int r = 0; r < 3; ++r) {
      // Six decimals per matrix entry; the nested node's offset sums products of them.
      for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(world[4 * r + k], flip[r] * g[r][k], k == 3 ? 1e-4 : 2e-6) << r << k;
      }
    }
    // Every corner assimp holds is a vertex of the object's polygon form.
    const std::unique_ptr<NHSObject_PolyMesh> mesh = MakeExportMesh(*c.object);
    ASSERT_NE(mesh, nullptr);
    const std::vector<vm::Vector3> corners = AssimpMeshCorners(xml, at);
    size_t count = 0;
    ForEachExportFace(*mesh,
                      [&](const NHSObject_PolyMesh::PolygonView& p) { count += size_t(p.n); });
    EXPECT_EQ(corners.size(), count);
    ExpectCornersAreVertices(corners, mesh->Vertices(), 1e-5);
  }
  // Objects without a polygon form are not in the document.
  for (const char* absent : {"Pipe", "Lost", "Shared", "Poly"}) {
    EXPECT_EQ(xml.find(std::string("<Node name=\"") + absent + "\">"), std::string::npos) << absent;
  }
}

// assimp's reader of Caligari scenes stops at a chunk it does not know (it loops on a
// "Chan" chunk of version 0.12 until the file ends) and keeps only chunks whose parent
// is 0 (it has no scene chunk). Walked by their sizes, the camera's channels are left
// out and the scene's children hung from 0; assimp then reads the rest: the camera,
// one bone per point and every visible polygon object, placed as the scene places them.
TEST_F(ExportConsumersTest, AssimpReadsTheTrueSpaceScene) {
  if (!HasProgram("assimp")) GTEST_SKIP() << "assimp-utils missing";
  const std::string text = kxtest::ReadText(dir_.File("objects.scn"));
  std::string readable = text.substr(0, 32);
  for (const kxtest::CaligariChunk& chunk : kxtest::WalkChunks(text)) {
    if (chunk.kind == "Chan") continue;
    std::string part = text.substr(chunk.begin, chunk.end - chunk.begin);
    const std::string parent = " Parent 105229124 ";
    if (part.find(parent) < part.find('\n'))
      part.replace(part.find(parent), parent.size(), " Parent 0 ");
    readable += part;
  }
  readable += "END  V1.00 Id 0 Parent 0 Size 0";
  kxtest::WriteFile(dir_.File("readable.scn"), readable);

  std::string output;
  ASSERT_EQ(RunCommand("assimp info '" + dir_.File("readable.scn") + "'", output, dir_), 0)
      << output;
  for (const char* part : {"Meshes:             6", "Cameras:            1", "TORBANE_cam",
                           "Point_3", "My Photo (mesh"}) {
    EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
  }
  const std::string dump = dir_.File("scn.assxml");
  ASSERT_EQ(
      RunCommand("assimp dump '" + dir_.File("readable.scn") + "' '" + dump + "'", output, dir_), 0)
      << output;
  const std::string xml = kxtest::ReadText(dump);
  // Scene order, newest first; the hidden box is not there; a rectangle has no name.
  struct Case {
    const char* node;
    const NHSObject* object;
  } cases[] = {{"Poly", scene_.poly},      {"polh_1", scene_.pipe->GetFirstChild()},
               {"My Photo", scene_.photo}, {"Box", scene_.box},
               {"Box", scene_.cone},       {"polh_5", scene_.rect}};
  size_t at = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    at = xml.find(std::string("<Node name=\"") + c.node + "\">", at + 1);
    ASSERT_NE(at, std::string::npos);
    const std::vector<double> m = NumbersAfter(xml, "<Matrix4>", 12, at);
    ASSERT_EQ(m.size(), 12u);
    // The node places the object's own vertices at (-x/2, -z/2, -y/2) of its scene place.
    Matrix3x4 g;
    c.object->GetGlobalTransform(g, true);
    const int rows[3] = {0, 2, 1};
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 4; ++k) {
        const double want = -0.5 * g[rows[r]][k];
        EXPECT_NEAR(m[size_t(4 * r + k)], want, 1e-5 * std::max(1.0, std::fabs(want))) << r << k;
      }
    }
    std::unique_ptr<NHSObject_PolyMesh> converted = MakeExportMesh(*c.object);
    const auto* mesh =
        converted ? converted.get() : dynamic_cast<const NHSObject_PolyMesh*>(c.object);
    ASSERT_NE(mesh, nullptr);
    ExpectCornersAreVertices(AssimpMeshCorners(xml, at), *GetMeshVertices(*mesh), 1e-4);
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
