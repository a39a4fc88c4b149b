#include "export/writers/save_cam_path_2d_track.h"

#include <unordered_set>

#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"

bool SaveCamPath2DTrack::Export(const CameraList& /*cameras*/, const PointList& /*points*/) {
  return true;
}

std::vector<const FeaturePoint2D*> SaveCamPath2DTrack::CollectTrack(const FeaturePoint2D& feature) {
  const FeaturePoint2D* f = FindTrackEnd(const_cast<FeaturePoint2D*>(&feature), true);
  std::vector<const FeaturePoint2D*> track;
  // Damaged links could lead back into the track: every feature is written once.
  std::unordered_set<const FeaturePoint2D*> seen;
  while (f != nullptr && seen.insert(f).second) {
    track.push_back(f);
    const SharedPtr<FeatureCorrespondence>& link = f->GetSuccessor();
    f = link ? link->GetSecond().Get() : nullptr;
  }
  return track;
}

bool SaveCamPath2DTrack::Export2DTrack(const SharedPtr<FeaturePoint2D>& feature) {
  if (!feature) {
    Notify(2, "%s::Export2DTrack: no feature given!", Name());
    return false;
  }
  const std::vector<const FeaturePoint2D*> track = CollectTrack(*feature);
  if (track.front()->GetImage() == nullptr) {
    Notify(2, "%s::Export2DTrack: the track's first feature has no image!", Name());
    return false;
  }
  std::ofstream out;
  if (!OpenExport(Name(), out)) return false;
  Write(out, track);
  return FinishExport(Name(), out);
}

void SaveCamPathAfterEffects2D::Write(std::ofstream& out,
                                      const std::vector<const FeaturePoint2D*>& track) {
  const FeatureImage& image = *track.front()->GetImage();
  const double aspect = image.GetPixelSizeX() / image.GetPixelSizeY();
  out << "Adobe After Effects 6.5 Keyframe Data\n";
  out << "Units Per Second " << GetFramesPerSecond() << '\n';
  out << "Source Width " << image.GetWidth() << '\n';
  out << "Source Height " << image.GetHeight() << '\n';
  out << "Source Pixel Aspect Ratio " << aspect << '\n';
  out << "Comp Pixel Aspect Ratio " << aspect << '\n';
  out << "Position\n";
  out << "#Frame\t\tX pixels\t\tY pixels\t\tZ pixels\n";
  for (size_t i = 0; i < track.size(); ++i) {
    const FeaturePoint2D& f = *track[i];
    if (i == 0) {
      out << 0.0 << "\t\t\t" << f.x << "\t\t\t\t" << f.y << "\t\t\t0\n";
    } else {
      out << double(i) << "\t\t\t" << f.x << "\t\t\t" << f.y << "\t\t0\n";
    }
  }
}

void SaveCamPathSilhouette::Write(std::ofstream& out,
                                  const std::vector<const FeaturePoint2D*>& track) {
  out << "1 Trackers\n";
  out << "Tracker" << GetFramesPerSecond() << '\n';
  out << "Color: (0.000000,1.000000,0.000000)\n";
  out << "Mode: Lum\n";
  out << "Match Size: 7.000000,7.000000\n";
  out << "Search Size: 7.000000,7.000000\n";
  out << "#frame\t\tpos.x\t\tpos.y\t\tmo.x\t\tmo.y\t\tso.x\t\tso.y\n";
  for (size_t i = 0; i < track.size(); ++i) {
    const FeaturePoint2D& f = *track[i];
    if (i == 0) {
      out << 0.0 << "\t\t\t" << f.x << "\t\t\t" << f.y << "\t\t\t0\t\t\t0\t\t\t0\t\t\t0\n";
    } else {
      out << double(i) << "\t\t\t" << f.x << "\t\t" << f.y << "\t\t0\t\t\t0\t\t\t0\t\t\t0\n";
    }
  }
}
