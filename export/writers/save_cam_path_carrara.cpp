#include "export/writers/save_cam_path_carrara.h"

#include <fstream>
#include <string>

#include "foundation/runtime/product_info.h"

namespace {

// Lines at the current depth: Open adds a level after its line, Close removes one before.
class BlockWriter {
 public:
  explicit BlockWriter(std::ofstream& out) : out_(out) {}
  std::ostream& Line() { return out_ << std::string(size_t(depth_), ' '); }
  void Open(const char* keyword) {
    Line() << keyword << " {\n";
    depth_ += 2;
  }
  void Close() {
    depth_ -= 2;
    Line() << "}\n";
  }

 private:
  std::ofstream& out_;
  int depth_ = 0;
};

}  // namespace

bool SaveCamPathCarrara::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathCarrara", cameras, out)) return false;

  const FeatureImage& first = *cameras.front();
  const int first_index = first.GetImageIndex();
  const int last_index = cameras.back()->GetImageIndex();
  BlockWriter block(out);
  block.Open((ProductInfo::GetMakerName() + "_Export").c_str());
  block.Open("Imag");
  block.Line() << "Came \"" << GetCameraName() << "\"\n";
  block.Line() << "Apth \n";
  block.Line() << "Rpth \n";
  block.Line() << "Size " << first.GetWidth() << ',' << first.GetHeight() << '\n';
  block.Line() << "AspK \n";
  block.Line() << "Rate " << GetRoundedFramesPerSecond() << '\n';
  block.Line() << "Leng " << static_cast<long long>(last_index) - first_index + 1 << '\n';
  block.Line() << "Rang " << first_index << ',' << last_index << '\n';
  block.Line() << "Aper \n";
  block.Close();

  block.Open("Obje");
  block.Line() << "Name \n";
  block.Line() << "Came 1\n";
  block.Open("Path");
  for (size_t k = 0; k < cameras.size(); ++k) {
    const vm::Vector3& c = cameras[k]->GetC();
    const vm::Vector3 a = GetCameraAnglesInDegrees(*cameras[k]);
    block.Line() << "PKey " << k << ',' << c.x << ',' << -c.y << ',' << c.z << ',' << a.x << ','
                 << -a.y << ',' << -a.z << '\n';
  }
  block.Close();
  block.Open("Zoom");
  block.Line() << "FKey \n";
  block.Close();
  for (size_t j = 0; j < points.size(); ++j) {
    const vm::Vector3& p = points[j];
    block.Open("Trak");
    block.Line() << "Name \"AutoFeature_" << j << "\"\n";
    block.Line() << "WPos " << p.x << ',' << -p.y << ',' << p.z << '\n';
    block.Close();
  }
  block.Close();
  block.Close();
  return FinishExport("SaveCamPathCarrara", out);
}
