// Every camera-path writer reports a missing camera list, a file it cannot create and a
// write that fails under its own name, and claims no success.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "export/writers/save_cam_path_3dmax.h"
#include "export/writers/save_cam_path_carrara.h"
#include "export/writers/save_cam_path_fbx.h"
#include "export/writers/save_cam_path_houdini.h"
#include "export/writers/save_cam_path_houdini_script.h"
#include "export/writers/save_cam_path_maya.h"
#include "export/writers/save_cam_path_modo.h"
#include "export/writers/save_cam_path_xsi.h"
#include "export/writers/writer_fixture_for_test.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

template <class Writer>
std::unique_ptr<SaveCamPath> Make(const std::string& directory, const char* file) {
  return std::make_unique<Writer>(directory.c_str(), file);
}

TEST(WriterFailuresTest, AreReportedUnderTheWritersName) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<SaveCamPath>(const std::string&, const char*)> make;
  } writers[] = {
      {"SaveCamPathCarrara", Make<SaveCamPathCarrara>},
      {"SaveCamPathHoudini", Make<SaveCamPathHoudini>},
      {"SaveCamPathHoudiniScript", Make<SaveCamPathHoudiniScript>},
      {"SaveCamPathModo", Make<SaveCamPathModo>},
      {"SaveCamPath3DMax", Make<SaveCamPath3DMax>},
      {"SaveCamPathXsi", Make<SaveCamPathXsi>},
      {"SaveCamPathMaya", Make<SaveCamPathMaya>},
      {"SaveCamPathFBX", Make<SaveCamPathFBX>},
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
        {"/dev", "full", true, name + "::Export: write file \"/dev/full\" failed !!"},
        {missing, "out", true, name + "::Export: open file \"" + missing + "/out\" failed !!"},
        {dir.path(), "empty", false, name + "::Export: empty camera list!"},
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
