#include "features/point_file.h"

#include <fstream>
#include <locale>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"

namespace {

int KindOf(const FeaturePoint3D& point) {
  switch (point.GetCS()) {
    case FeaturePoint3D::eSpherical:
      return 1;
    case FeaturePoint3D::eCartesian:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

bool FeaturePointIO::Save(const FeatureImage* image, const char* path) const {
  if (image == nullptr) {
    Notify(2, "FeaturePointIO::Save: input fimage==NULL");
    return false;
  }
  if (path == nullptr) {
    Notify(2, "FeaturePointIO::Save: input name==NULL");
    return false;
  }
  std::ofstream out(path, std::ios::out | std::ios::trunc);
  if (!out.is_open()) {
    Notify(2, "FeaturePointIO::Save: open file \"%s\" failed !", path);
    return false;
  }
  out.imbue(std::locale::classic());
  out.precision(precision_);
  out << "#FPOINT V2.0\n";
  for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
    if (!f) continue;
    out << f->x << '\t' << f->y << '\t' << (f->TestFlags(FP2D_FLAG_MANUAL) ? 1 : 0);
    if (const FeaturePoint3D* p = f->GetFPoint3D().Get()) {
      out << '\t' << KindOf(*p) << '\t' << p->x << '\t' << p->y << '\t' << p->z << '\t'
          << p->GetId();
    } else {
      out << "\t0\t0\t0\t0\t0";
    }
    const FeatureCorrespondence* link = f->GetPredecessor().Get();
    if (link != nullptr) {
      const FeaturePoint2D* earlier = link->GetFirst().Get();
      out << "\t1\t" << (earlier ? earlier->x : 0.0) << '\t' << (earlier ? earlier->y : 0.0) << '\t'
          << link->GetFlags();
    } else {
      out << "\t0\t0\t0\t0";
    }
    out << '\n';
  }
  out.close();
  if (out.fail()) {
    Notify(2, "FeaturePointIO::Save: writing file \"%s\" failed !", path);
    return false;
  }
  return true;
}
