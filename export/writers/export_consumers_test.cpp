// The exports loaded by the programs that consume them, where this machine has them
// (scripts/deps.sh installs them); a missing program skips its check.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "export/writers/export_fixture_for_test.h"
#include "export/writers/save_cam_path_blender.h"
#include "export/writers/save_cam_path_collada.h"

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
  }
  std::string Dae(const char* name) const { return dir_.File(name); }
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
  for (const char* name : {"scene.dae", "bare.dae"}) {
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
  for (const char* name : {"scene.dae", "bare.dae"}) {
    SCOPED_TRACE(name);
    std::string output;
    EXPECT_EQ(RunCommand("opencolladavalidator '" + Dae(name) + "'", output, dir_), 0) << output;
    EXPECT_NE(output.find("is valid against the COLLADA 1.4.1 schema"), std::string::npos)
        << output;
    EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
  }
}

TEST_F(ExportConsumersTest, AssimpReadsTheColladaScene) {
  if (!HasProgram("assimp")) GTEST_SKIP() << "assimp-utils missing";
  std::string output;
  ASSERT_EQ(RunCommand("assimp info '" + Dae("scene.dae") + "'", output, dir_), 0) << output;
  for (const char* part : {"Cameras:            1", "TORBANESceneNode", "PointCloudNode", "auto_3",
                           "Camera\n", "'Camera-rotateX'"}) {
    EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
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
