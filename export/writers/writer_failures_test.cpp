// Every camera-path writer reports a missing camera list, a file it cannot create and a
// write that fails under its own name, and claims no success.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "export/writers/save_cam_path_3dmax.h"
#include "export/writers/save_cam_path_blender.h"
#include "export/writers/save_cam_path_carrara.h"
#include "export/writers/save_cam_path_collada.h"
#include "export/writers/save_cam_path_fbx.h"
#include "export/writers/save_cam_path_houdini.h"
#include "export/writers/save_cam_path_houdini_script.h"
#include "export/writers/save_cam_path_lwsc.h"
#include "export/writers/save_cam_path_maya.h"
#include "export/writers/save_cam_path_modo.h"
#include "export/writers/save_cam_path_truespace.h"
#include "export/writers/save_cam_path_xsi.h"
#include "export/writers/writer_fixture_for_test.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

template <class Writer>
std::unique_ptr<SaveCamPath> Make(const std::string& directory, const char* file) {
  return std::make_unique<Writer>(directory.c_str(), file);
}

template <int kTenths>
std::unique_ptr<SaveCamPath> MakeBlender(const std::string& directory, const char* file) {
  auto writer = std::make_unique<SaveCamPathBlender>(directory.c_str(), file);
  writer->SetVersion(static_cast<float>(kTenths) / 10.0f);
  return writer;
}

TEST(WriterFailuresTest, AreReportedUnderTheWritersName) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<SaveCamPath>(const std::string&, const char*)> make;
  } writers[] = {
      {"SaveCamPathCarrara::Export", Make<SaveCamPathCarrara>},
      {"SaveCamPathHoudini::Export", Make<SaveCamPathHoudini>},
      {"SaveCamPathHoudiniScript::Export", Make<SaveCamPathHoudiniScript>},
      {"SaveCamPathModo::Export", Make<SaveCamPathModo>},
      {"SaveCamPathLWSC::Export", Make<SaveCamPathLWSC>},
      {"SaveCamPathCollada::Export", Make<SaveCamPathCollada>},
      // The 2.6x script reports under the 2.5x name.
      {"SaveCamPathBlender::Export2Dot4", MakeBlender<24>},
      {"SaveCamPathBlender::Export2Dot5", MakeBlender<25>},
      {"SaveCamPathBlender::Export2Dot5", MakeBlender<26>},
      {"SaveCamPath3DMax::Export", Make<SaveCamPath3DMax>},
      {"SaveCamPathXsi::Export", Make<SaveCamPathXsi>},
      {"SaveCamPathMaya::Export", Make<SaveCamPathMaya>},
      {"SaveCamPathFBX::Export", Make<SaveCamPathFBX>},
      {"SaveCamPathTruespace::Export", Make<SaveCamPathTruespace>},
  };
  kxtest::TempDir dir;
  const std::string missing = dir.File("missing");
  for (const auto& w : writers) {
    SCOPED_TRACE(w.name);
    const std::string name = w.name;
    const struct {
      std::string directory;
      const char* file;
      bool cameras;
      std::string message;
    } cases[] = {
        {"/dev", "full", true, name + ": write file \"/dev/full\" failed !!"},
        {missing, "out", true, name + ": open file \"" + missing + "/out\" failed !!"},
        {dir.path(), "empty", false, name + ": empty camera list!"},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.message);
      kxtest::LogCapture log(5);
      const SaveCamPath::CameraList cameras =
          c.cameras ? kxtest::PathCameras() : SaveCamPath::CameraList();
      EXPECT_FALSE(w.make(c.directory, c.file)->Export(cameras, kxtest::PathPoints()));
      EXPECT_TRUE(log.Has(c.message)) << log.text;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty")));
  }
}

}  // namespace
