// solve_compare: measures a solved camera path against the true cameras of a rendered
// sequence (kx_render_sequence's cameras.txt). The solved path is kalvex's text export or
// a COLMAP model in text form. The solved world is aligned to the true one by a
// similarity (centres, Umeyama) and, for the orientations, by the rotation that fits the
// camera rotations best; a tripod shot (all true centres equal) is aligned by rotation
// only. Prints one table row:
//   label | frames | centre error (% of path, rms / max) | rotation error (deg, rms / max)
//   | focal error (%, mean / max) | seconds
//
//   solve_compare --truth=cameras.txt (--kalvex=cams.txt | --colmap=MODEL_TXT_DIR)
//                 [--label=NAME] [--seconds=S]
#include <Eigen/Dense>
#include <Eigen/SVD>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Cam {
  Eigen::Matrix3d R;  // world to camera: rows are the image right, down and forward axes
  Eigen::Vector3d C;  // centre
  double focal = 0;   // pixels
};
using Path = std::map<int, Cam>;  // by frame number

bool ReadTruth(const std::string& path, Path* out) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    int frame;
    double fx, fy, cx, cy, k1;
    Cam cam;
    s >> frame >> fx >> fy >> cx >> cy >> k1;
    for (int i = 0; i < 9; ++i) s >> cam.R(i / 3, i % 3);
    s >> cam.C.x() >> cam.C.y() >> cam.C.z();
    if (!s) return false;
    cam.focal = fx;
    (*out)[frame] = cam;
  }
  return !out->empty();
}

// The text export: "#timeindex N", then H0 V0 A C (3 each), focal mm, fov, sx, sy.
bool ReadKalvex(const std::string& path, Path* out) {
  std::ifstream in(path);
  std::string line;
  int frame = -1;
  while (std::getline(in, line)) {
    if (line.rfind("#timeindex ", 0) == 0) {
      frame = std::atoi(line.c_str() + 11);
      continue;
    }
    if (line.empty() || line[0] == '#' || frame < 0) continue;
    std::istringstream s(line);
    double v[16];
    for (double& x : v) s >> x;
    if (!s) return false;
    Cam cam;
    cam.R << v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8];
    cam.C << v[9], v[10], v[11];
    cam.focal = v[14] > 0 ? v[12] / v[14] : 0;
    (*out)[frame] = cam;
    frame = -1;
  }
  return !out->empty();
}

// COLMAP's images.txt and cameras.txt; the frame number comes from the image name.
bool ReadColmap(const std::string& dir, Path* out) {
  std::map<int, double> focal;
  {
    std::ifstream in(dir + "/cameras.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream s(line);
      int id, w, h;
      std::string model;
      double f;
      s >> id >> model >> w >> h >> f;
      if (s) focal[id] = f;
    }
  }
  std::ifstream in(dir + "/images.txt");
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (!header) {  // the image's 2D points
      header = true;
      continue;
    }
    header = false;
    std::istringstream s(line);
    int id, camera;
    double qw, qx, qy, qz, tx, ty, tz;
    std::string name;
    s >> id >> qw >> qx >> qy >> qz >> tx >> ty >> tz >> camera >> name;
    if (!s) continue;
    const size_t digits = name.find_first_of("0123456789");
    if (digits == std::string::npos) continue;
    Cam cam;
    cam.R = Eigen::Quaterniond(qw, qx, qy, qz).normalized().toRotationMatrix();
    cam.C = -cam.R.transpose() * Eigen::Vector3d(tx, ty, tz);
    cam.focal = focal.count(camera) ? focal[camera] : 0;
    (*out)[std::atoi(name.c_str() + digits)] = cam;
  }
  return !out->empty();
}

// The rotation Q (solved world to true world) that fits true R_k ≈ solved R_k · Qᵀ best.
Eigen::Matrix3d FitRotation(const std::vector<const Cam*>& truth,
                            const std::vector<const Cam*>& solved) {
  Eigen::Matrix3d M = Eigen::Matrix3d::Zero();
  for (size_t i = 0; i < truth.size(); ++i) M += truth[i]->R.transpose() * solved[i]->R;
  Eigen::JacobiSVD<Eigen::Matrix3d> svd(M, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d D = Eigen::Matrix3d::Identity();
  if ((svd.matrixU() * svd.matrixV().transpose()).determinant() < 0) D(2, 2) = -1;
  return svd.matrixU() * D * svd.matrixV().transpose();
}

// The rotation angle of R; atan2 of sine and cosine stays exact for small angles.
double AngleDeg(const Eigen::Matrix3d& R) {
  const Eigen::Vector3d axis(R(2, 1) - R(1, 2), R(0, 2) - R(2, 0), R(1, 0) - R(0, 1));
  return std::atan2(0.5 * axis.norm(), 0.5 * (R.trace() - 1.0)) * 180.0 / M_PI;
}

}  // namespace

int main(int argc, char** argv) {
  std::string truth_path, kalvex_path, colmap_dir, label = "solve";
  double seconds = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq),
                      value = eq == std::string::npos ? "" : arg.substr(eq + 1);
    if (name == "--truth")
      truth_path = value;
    else if (name == "--kalvex")
      kalvex_path = value;
    else if (name == "--colmap")
      colmap_dir = value;
    else if (name == "--label")
      label = value;
    else if (name == "--seconds")
      seconds = std::atof(value.c_str());
    else {
      std::fprintf(stderr, "solve_compare: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  Path truth, solved;
  if (!ReadTruth(truth_path, &truth)) {
    std::fprintf(stderr, "solve_compare: cannot read the true cameras \"%s\"\n",
                 truth_path.c_str());
    return 1;
  }
  const bool read =
      !kalvex_path.empty() ? ReadKalvex(kalvex_path, &solved) : ReadColmap(colmap_dir, &solved);
  std::vector<const Cam*> t, s;
  for (const auto& [frame, cam] : solved) {
    auto it = truth.find(frame);
    if (it == truth.end()) continue;
    t.push_back(&it->second);
    s.push_back(&cam);
  }
  if (!read || t.size() < 2) {
    std::printf("%-14s | %4zu/%-4zu | no solved path\n", label.c_str(), t.size(), truth.size());
    return 1;
  }

  double path_length = 0;
  for (auto it = truth.begin(); std::next(it) != truth.end(); ++it) {
    path_length += (std::next(it)->second.C - it->second.C).norm();
  }
  const Eigen::Matrix3d Q = FitRotation(t, s);
  double rot_rms = 0, rot_max = 0, f_mean = 0, f_max = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const double a = AngleDeg(t[i]->R * (s[i]->R * Q.transpose()).transpose());
    rot_rms += a * a;
    rot_max = std::max(rot_max, a);
    const double f = std::abs(s[i]->focal - t[i]->focal) / t[i]->focal * 100.0;
    f_mean += f;
    f_max = std::max(f_max, f);
  }
  rot_rms = std::sqrt(rot_rms / double(t.size()));
  f_mean /= double(t.size());

  std::string centre = "-";
  if (path_length > 1e-9) {
    Eigen::Matrix3Xd from(3, t.size()), to(3, t.size());
    for (size_t i = 0; i < t.size(); ++i) {
      from.col(Eigen::Index(i)) = s[i]->C;
      to.col(Eigen::Index(i)) = t[i]->C;
    }
    const Eigen::Matrix4d T = Eigen::umeyama(from, to, true);
    double rms = 0, max = 0;
    for (size_t i = 0; i < t.size(); ++i) {
      const Eigen::Vector3d c = T.topLeftCorner<3, 3>() * s[i]->C + T.topRightCorner<3, 1>();
      const double e = (c - t[i]->C).norm() / path_length * 100.0;
      rms += e * e;
      max = std::max(max, e);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.4f / %.4f", std::sqrt(rms / double(t.size())), max);
    centre = text;
  }
  std::printf("%-14s | %4zu/%-4zu | %-19s | %.4f / %.4f | %.4f / %.4f | %.1f\n", label.c_str(),
              t.size(), truth.size(), centre.c_str(), rot_rms, rot_max, f_mean, f_max, seconds);
  return 0;
}
