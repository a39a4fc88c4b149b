// Read back, every scene export describes the same solve as the text export.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "export/file_io.h"
#include "export/writers/writer_golden_for_test.h"
#include "testing/log_capture.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

struct Camera {
  int frame = 0;
  vm::Vector3 c{}, a{}, v0{};
};

// A solve as a file describes it, in the tracking frame (mm).
struct Solve {
  std::vector<Camera> cameras;
  std::vector<vm::Vector3> points;
};

std::vector<double> Numbers(const std::string& text, char separator) {
  std::vector<double> values;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, separator)) {
    if (item.find_first_not_of(" \t\n") == std::string::npos) continue;
    std::istringstream number(item);
    number.imbue(std::locale::classic());
    double value = 0.0;
    if (!(number >> value)) ADD_FAILURE() << "not a number: \"" << item << "\"";
    values.push_back(value);
  }
  return values;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// The text after the first `open` in `line` up to the next `close`.
std::string Between(const std::string& line, const std::string& open, char close, size_t from = 0) {
  const size_t at = line.find(open, from);
  if (at == std::string::npos) return "";
  const size_t begin = at + open.size();
  return line.substr(begin, line.find(close, begin) - begin);
}

vm::Vector3 Turned(double x, double y, double z) {  // half a turn about X
  return {x, -y, -z};
}

// Columns of Ry(pan) Rx(tilt) Rz(roll), angles in degrees: the image-down and viewing axes.
void AxesFromAngles(double pan, double tilt, double roll, Camera& camera) {
  const double d = kxtest::kGoldenPi / 180;
  const double cp = std::cos(pan * d), sp = std::sin(pan * d), ct = std::cos(tilt * d),
               st = std::sin(tilt * d), cr = std::cos(roll * d), sr = std::sin(roll * d);
  camera.v0 = {-cp * sr + sp * st * cr, ct * cr, sp * sr + cp * st * cr};
  camera.a = {sp * ct, -st, cp * ct};
}

Solve ReadTextExport(const std::string& text) {
  Solve solve;
  const std::vector<std::string> lines = Lines(text);
  bool points = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i], "#timeindex ") && i + 1 < lines.size()) {
      const std::vector<double> v = Numbers(lines[i + 1], '\t');
      solve.cameras.push_back({std::stoi(lines[i].substr(11)),
                               {v[9], v[10], v[11]},
                               {v[6], v[7], v[8]},
                               {v[3], v[4], v[5]}});
    } else if (lines[i] == "# x\t\ty\t\tz") {
      points = true;
    } else if (points && !lines[i].empty()) {
      const std::vector<double> v = Numbers(lines[i], '\t');
      solve.points.push_back({v[0], v[1], v[2]});
    }
  }
  return solve;
}

// Rows [H'x, -V'x, -Ax] ...: the pose with the y and viewing axes reversed.
Solve ReadMaxScript(const std::string& text) {
  Solve solve;
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find(" c.rotation = (matrix3 [") != std::string::npos) {
      const size_t matrix = line.find("(matrix3");
      const std::vector<double> r0 = Numbers(Between(line, "[", ']', matrix), ','),
                                r1 = Numbers(Between(line, "] [", ']', matrix), ','),
                                r2 = Numbers(
                                    Between(line, "] [", ']', line.find("] [", matrix) + 1), ','),
                                c = Numbers(Between(lines[i + 1], "position = [", ']'), ',');
      solve.cameras.push_back({std::stoi(line.substr(8)),
                               {c[0], c[1], c[2]},
                               {-r0[2], -r1[2], -r2[2]},
                               {-r0[1], -r1[1], -r2[1]}});
    } else if (line.find("centermarker:on pos:[") != std::string::npos) {
      const std::vector<double> v = Numbers(Between(line, "pos:[", ']'), ',');
      solve.points.push_back({v[0], v[1], v[2]});
    }
  }
  return solve;
}

// Curves keyed at image indices; the scene is turned about X, the camera (rotate order zxy,
// looking along -z with y up) has rotate X = tilt, Y = -pan, Z = -roll.
Solve ReadMayaAscii(const std::string& text) {
  std::vector<std::vector<double>> curves;
  Solve solve;
  for (const std::string& line : Lines(text)) {
    if (StartsWith(line, "\t setAttr -s ") && line.find(".ktv[") != std::string::npos) {
      curves.push_back(Numbers(Between(line, "]\" ", ';'), ' '));
    } else if (StartsWith(line, "\t setAttr \".t\" -type \"double3\" ")) {
      const std::vector<double> v = Numbers(Between(line, "double3\" ", ';'), ' ');
      solve.points.push_back(Turned(v[0], v[1], v[2]));
    }
  }
  if (curves.size() != 7) return {};
  for (size_t k = 0; 2 * k + 1 < curves[1].size(); ++k) {
    const auto value = [&](int curve) { return curves[size_t(curve)][2 * k + 1]; };
    Camera camera;
    camera.frame = int(curves[1][2 * k]);
    camera.c = Turned(value(1), value(2), value(3));
    AxesFromAngles(-value(5), value(4), -value(6), camera);
    solve.cameras.push_back(camera);
  }
  return solve;
}

// Centimetres in the turned frame; the interest point lies one millimetre along the viewing
// axis and the up-vector null one millimetre against the image-down axis.
Solve ReadDotXsi(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  // The key lines (frame and three values) of the curve whose head contains `head`.
  const auto keys = [&](const char* head) {
    std::vector<std::vector<double>> found;
    size_t i = 0;
    while (i < lines.size() && lines[i].find(head) == std::string::npos) ++i;
    for (++i; i < lines.size() && lines[i].find('}') == std::string::npos; ++i) {
      const std::string line = lines[i].substr(lines[i].find_first_not_of(' '));
      if (line[0] == '"') continue;  // names
      const std::vector<double> v = Numbers(line, ',');
      if (v.size() == 4) found.push_back(v);
    }
    return found;
  };
  const auto position = keys("-POSITION-XYZ {"), interest = keys("-INTEREST-XYZ {"),
             up = keys("up_vector-TRANSLATION-XYZ {");
  Solve solve;
  for (size_t k = 0; k < position.size() && k < interest.size() && k < up.size(); ++k) {
    const auto& p = position[k];
    const auto& i = interest[k];
    const auto& u = up[k];
    solve.cameras.push_back({int(p[0]), Turned(10 * p[1], 10 * p[2], 10 * p[3]),
                             Turned(10 * (i[1] - p[1]), 10 * (i[2] - p[2]), 10 * (i[3] - p[3])),
                             Turned(10 * (p[1] - u[1]), 10 * (p[2] - u[2]), 10 * (p[3] - u[3]))});
  }
  for (size_t i = 0; i + 3 < lines.size(); ++i) {
    if (lines[i].find("SI_Transform SRT-auto_") == std::string::npos) continue;
    const std::vector<double> v = Numbers(lines[i + 3], ',');  // after scaling and rotation
    solve.points.push_back(Turned(10 * v[0], 10 * v[1], 10 * v[2]));
  }
  return solve;
}

// Key times in 1/46186158000 s at 25 frames per second; translation (x, -y, -z); rotation X
// = roll, Y = -pan, Z = tilt; the vertices as tracked (the mesh model is turned instead).
Solve ReadFbx(const std::string& text) {
  const size_t take = text.find("\t\tModel: \"Model::Kalvex_Camera\" {\n\t\t\tVersion: 1.1");
  const std::vector<std::string> lines = Lines(text.substr(take));
  std::vector<std::vector<std::pair<double, double>>> channels;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != "\t\t\t\t\t\tKey: ") continue;
    std::vector<std::pair<double, double>> keys;
    for (++i; i < lines.size() && lines[i].find("Color:") == std::string::npos; ++i) {
      const std::vector<double> v = Numbers(lines[i].substr(0, lines[i].find(",L")), ',');
      keys.push_back({v[0], v[1]});
    }
    channels.push_back(keys);
  }
  if (channels.size() != 9) return {};  // T, R and the two scale keys of S
  Solve solve;
  for (size_t k = 0; k < channels[0].size(); ++k) {
    Camera camera;
    camera.frame = int(std::lround(channels[0][k].first / 46186158000.0 * 25.0));
    camera.c = Turned(channels[0][k].second, channels[1][k].second, channels[2][k].second);
    AxesFromAngles(-channels[4][k].second, channels[5][k].second, channels[3][k].second, camera);
    solve.cameras.push_back(camera);
  }
  const size_t at = text.find("Vertices: ") + 10;
  const std::vector<double> v = Numbers(text.substr(at, text.find("PolygonVertexIndex") - at), ',');
  for (size_t i = 0; i + 2 < v.size(); i += 3) solve.points.push_back({v[i], v[i + 1], v[i + 2]});
  return solve;
}

// Positions (x, y, z) written as (-x/2, -z/2, -y/2); per key a quaternion (w, x, y, z)
// whose (w, -x, -z, -y) turns the world into the rows H0, -A, V0; keys counted from 0;
// without a translation channel every centre is the origin.
Solve ReadTruespace(const std::string& text) {
  const auto unmapped = [](const std::vector<double>& p) {
    return vm::Vector3{-2.0 * p[0], -2.0 * p[2], -2.0 * p[1]};
  };
  Solve solve;
  std::vector<vm::Vector3> centres;
  bool in_bone = false;  // a bone's centre line follows its name
  for (const std::string& line : Lines(text)) {
    if (StartsWith(line, "time ") && line.find(" orientation ") != std::string::npos) {
      const std::vector<double> q = Numbers(line.substr(line.find("orientation ") + 12), ' ');
      const double w = q[0], x = -q[1], y = -q[3], z = -q[2];
      const double m[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                              {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                              {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
      Camera camera;
      camera.frame = std::stoi(line.substr(5));
      camera.a = {-m[1][0], -m[1][1], -m[1][2]};
      camera.v0 = {m[2][0], m[2][1], m[2][2]};
      solve.cameras.push_back(camera);
    } else if (StartsWith(line, "time ") && line.find(" position ") != std::string::npos) {
      centres.push_back(unmapped(Numbers(line.substr(line.find("position ") + 9), ' ')));
    } else if (StartsWith(line, "Name Point_")) {
      in_bone = true;
    } else if (in_bone && StartsWith(line, "center ")) {
      solve.points.push_back(unmapped(Numbers(line.substr(7), ' ')));
      in_bone = false;
    }
  }
  for (size_t k = 0; k < solve.cameras.size() && k < centres.size(); ++k) {
    solve.cameras[k].c = centres[k];
  }
  return solve;
}

double Distance(const vm::Vector3& a, const vm::Vector3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

// Each export is read back, its format's axis and unit conversion undone, and its cameras
// (centre, viewing axis, image-down axis, frame numbers) and points compared with the text
// export of the same solve, all written through the dispatcher.
TEST(SceneExportsTest, EveryFormatDescribesTheSameSolve) {
  kxtest::LogCapture quiet(2);
  kxtest::TempDir dir;
  CameraTrackingManager manager;
  for (const SharedPtr<FeatureImage>& camera : kxtest::GoldenCameras()) {
    auto image = SharedPtr<FeatureImage>::Make(&manager);
    image->CopyFrom(*camera, false);
    image->SetImageIndex(camera->GetImageIndex());
    image->SetFileIndex(camera->GetFileIndex());
    manager.GetImageList().push_back(image);
  }
  manager.SetFrameRange(10, 12, 1);
  for (const vm::Vector3& p : kxtest::EightPoints()) {
    auto point = SharedPtr<FeaturePoint3D>::Make(p.x, p.y, p.z, FeaturePoint3D::eCartesian);
    manager.m_fmap->AddFPoint3D(point);
  }
  const auto write = [&](int type, const char* name) {
    EXPECT_TRUE(FileIO::SaveCameraTrackingManager(&manager, dir.path().c_str(), name, type));
    return kxtest::ReadText(dir.File(name));
  };
  const Solve reference = ReadTextExport(write(1, "scene.txt"));
  ASSERT_EQ(reference.cameras.size(), 3u);
  ASSERT_EQ(reference.points.size(), 8u);

  // Tolerances follow each format's number form: fixed decimals (absolute) or six
  // significant digits (relative).
  const struct {
    int type;
    const char* file;
    std::function<Solve(const std::string&)> read;
    int first_frame;   // the format's number for the first camera (image 10, file 100)
    double absolute;   // of lengths, mm
    double relative;   // of lengths
    double direction;  // of the unit axes
  } formats[] = {
      {2, "scene.ms", ReadMaxScript, 10, 5e-7, 0, 2e-6},
      {3, "scene.xsi", ReadDotXsi, 100, 5e-6, 0, 2e-4},
      {4, "scene.ma", ReadMayaAscii, 10, 1e-12, 5e-6, 2e-6},
      {21, "scene.fbx", ReadFbx, 10, 5e-10, 5e-6, 1e-9},
      {9, "scene.scn", ReadTruespace, 0, 1e-12, 5e-6, 5e-6},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(f.file);
    const auto expect_near = [&](const vm::Vector3& got, const vm::Vector3& want) {
      const double g[] = {got.x, got.y, got.z}, w[] = {want.x, want.y, want.z};
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(g[i], w[i], f.absolute + f.relative * std::fabs(w[i])) << "component " << i;
      }
    };
    const Solve solve = f.read(write(f.type, f.file));
    ASSERT_EQ(solve.cameras.size(), reference.cameras.size());
    for (size_t k = 0; k < solve.cameras.size(); ++k) {
      SCOPED_TRACE(k);
      const Camera& got = solve.cameras[k];
      const Camera& want = reference.cameras[k];
      EXPECT_EQ(got.frame, f.first_frame + int(k));
      expect_near(got.c, want.c);
      EXPECT_LT(Distance(got.a, want.a), f.direction);
      // The up-vector null of dotXSI lies only a millimetre from the centre.
      EXPECT_LT(Distance(got.v0, want.v0), f.type == 3 ? 1e-4 : f.direction);
    }
    ASSERT_EQ(solve.points.size(), reference.points.size());
    for (size_t i = 0; i < solve.points.size(); ++i) {
      SCOPED_TRACE(i);
      expect_near(solve.points[i], reference.points[i]);
    }
  }
}

}  // namespace
