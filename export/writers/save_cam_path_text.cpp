#include "export/writers/save_cam_path_text.h"

#include <fstream>
#include <iomanip>

#include "export/writer_support.h"

bool SaveCamPathText::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathText", cameras, out)) return false;
  out << std::fixed << std::setprecision(10);

  out << "# Text export \n";
  out << "# " << GetCreatedBy() << '\n';
  out << "# Creation date: " << GetCreationDate() << '\n';
  out << "# The camera (one line per frame) \n"
         "#\n"
         "# Descriptions:\n"
         "# -------------\n"
         "# (H0x, H0y, H0z) : RotationAxis0  \n"
         "# (V0x, V0y, V0z) : RotationAxis1  \n"
         "# (A0x, A0y, A0z) : RotationAxis2  \n"
         "# (Cx, Cy, Cz)    : CameraPosition \n"
         "# focal           : Focal Length \n"
         "# fov             : Field of View\n"
         "# sx              : PixelSizeX\n"
         "# sy              : PixelSizeY\n"
         "# -------------\n"
         "# H0x\t\tH0y\t\tH0z\t\tV0x\t\tV0y\t\tV0z\t\tAx\t\tAy\t\tAz\t\tCx\t\tCy\t\tCz\t\t"
         "focal\t\tfov\t\tsx\t\tsy\n"
         "#\n";

  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3 h0 = camera->H0();
    const vm::Vector3 v0 = camera->V0();
    const vm::Vector3& a = camera->GetA();
    const vm::Vector3& c = camera->GetC();
    const double focal = camera->GetFocalLength();
    const double sx = camera->GetPixelSizeX();
    const double fov = HorizontalFieldOfViewDegrees(*camera);
    out << "#timeindex " << camera->GetFileIndex() << '\n';
    out << h0.x << '\t' << h0.y << '\t' << h0.z << '\t' << v0.x << '\t' << v0.y << '\t' << v0.z
        << '\t' << a.x << '\t' << a.y << '\t' << a.z << '\t' << c.x << '\t' << c.y << '\t' << c.z
        << '\t' << focal << '\t' << fov << '\t' << sx << '\t' << camera->GetPixelSizeY() << '\n';
  }

  if (!points.empty()) {
    out << "#\n# 3D Feature Points\n# x\t\ty\t\tz\n";
    for (const vm::Vector3& p : points) out << p.x << '\t' << p.y << '\t' << p.z << '\n';
    out << '\n';
  }
  out << '\n';

  return FinishExport("SaveCamPathText", out);
}
