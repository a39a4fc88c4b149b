#include "tracking/storage/project_writer.h"

#include <string>

#include "features/feature_image.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/position_table.h"
#include "foundation/runtime/split_path.h"
#include "foundation/tracks/feature_point.h"
#include "tracking/objects/vertex_object.h"
#include "tracking/objects/vertex_object_pool.h"
#include "tracking/storage/ctrack_mgr_root.h"

namespace {

void WriteColor(DataBaseOut& out, const ColorRGBA& color) {
  const double rgba[4] = {color.r, color.g, color.b, color.a};
  out.WriteFloats(PF_KEY_COL, rgba, 4);
}

void WriteFrameRange(DataBaseOut& out, const VertexObject& object) {
  out.PutKey(PF_KEY_FRMS);
  out.PutInt(object.GetStartIndex());
  out.PutInt(object.GetEndIndex());
  out.EndField();
}

void WriteVertices(DataBaseOut& out, const VertexObject& object) {
  for (const Vertex& vertex : object.GetVertices()) WriteVertex(out, vertex);
}

void WriteName(DataBaseOut& out, const VertexObject& object) {
  if (!object.GetName().empty()) out.WriteString(PF_KEY_NAME, object.GetName().c_str());
}

// The images that are written, in list order.
std::vector<const FeatureImage*> WrittenImages(const std::vector<SharedPtr<FeatureImage>>* list) {
  std::vector<const FeatureImage*> images;
  if (list == nullptr) return images;
  images.reserve(list->size());
  for (const SharedPtr<FeatureImage>& image : *list) {
    if (image) images.push_back(image.Get());
  }
  return images;
}

}  // namespace

void WriteVertex(DataBaseOut& out, const Vertex& vertex) {
  out.BeginObject(PF_KEY_VERT);
  const int keys = vertex.GetNumKeys();
  if (keys > 0) {
    out.PutKey(PF_KEY_DATA);
    out.BeginArray();
    for (int i = 0; i < keys; ++i) {
      int frame = 0;
      vm::Vector3 value;
      if (!vertex.GetKey(i, &frame, &value)) continue;
      const double xy[2] = {value.x, value.y};
      out.PutArrayElement(xy, frame, i + 1 < keys);
    }
    out.EndArray();
  }
  out.EndObject();
}

void WritePolygonMask(DataBaseOut& out, const PolygonMask& mask) {
  out.BeginObject(PF_KEY_PMASK);
  if (mask.GetNumVertices() >= 3) {
    WriteName(out, mask);
    out.WriteInt(PF_KEY_MPROP, mask.GetMProp());
    out.WriteInt(PF_KEY_MHTPROP, mask.GetMHTProp());
    WriteColor(out, mask.GetColor());
    WriteFrameRange(out, mask);
    WriteVertices(out, mask);
  }
  out.EndObject();
}

void WriteLineStrip(DataBaseOut& out, const LineStrip& line) {
  out.BeginObject(PF_KEY_LINE_STRIP);
  if (line.GetNumVertices() >= 2) {
    WriteName(out, line);
    WriteColor(out, line.GetColor());
    WriteFrameRange(out, line);
    WriteVertices(out, line);
  }
  out.EndObject();
}

void WriteFocalGizmo(DataBaseOut& out, const FocalGizmo& gizmo) {
  out.BeginObject(PF_KEY_FOCAL_GIZMO);
  if (gizmo.GetNumVertices() >= 12) {
    WriteName(out, gizmo);
    WriteFrameRange(out, gizmo);
    WriteVertices(out, gizmo);
  }
  out.EndObject();
}

bool WriteCTrackMgr(DataBaseOut& out, const CTrackMgrContents& job) {
  out.BeginObject(PF_KEY_CTRACKMGR);

  const std::vector<const FeatureImage*> images = WrittenImages(job.images);
  const bool has_map = job.map_kind != ProjectMapKind::kNone;
  const PositionTable points3d =
      has_map && job.points != nullptr ? PositionTable(*job.points) : PositionTable();
  std::vector<PositionTable> features, anchors;
  features.reserve(images.size());
  anchors.reserve(images.size());
  for (const FeatureImage* image : images) {
    features.emplace_back(image->GetFPoints2D());
    anchors.emplace_back(image->GetAnchors());
  }

  // The folder of the first image that names a file: an image without a file name (one
  // saved with a name ending in a separator) stores no name, and its folder alone would
  // cost every other image its folder on the next load.
  for (const FeatureImage* image : images) {
    std::string directory, name;
    SplitPath(image->GetFileName(), &directory, &name);
    if (name.empty()) continue;
    if (!directory.empty()) out.WriteString(PF_KEY_PATH, directory.c_str());
    break;
  }
  out.WriteInt(PF_KEY_TOP_FIELD_FIRST, job.top_field_first ? 1 : 0);
  out.WriteInt(PF_KEY_DEINT_METHOD, job.deint_method);
  out.PutKey(PF_KEY_FRMS);
  out.PutInt(job.frame_start);
  out.PutInt(job.frame_end);
  out.PutInt(job.frame_step);
  out.EndField();

  for (size_t k = 0; k < images.size(); ++k) {
    const bool last = k + 1 == images.size();
    WriteFeatureImage(out, *images[k], points3d, last ? nullptr : &features[k + 1],
                      last ? nullptr : &anchors[k + 1]);
  }

  if (has_map) {
    out.BeginObject(job.map_kind == ProjectMapKind::kFreeMotion ? PF_KEY_FMAP_FREE_MOVE
                                                                : PF_KEY_FMAP_SPHERE);
    if (job.points != nullptr) {
      for (const SharedPtr<FeaturePoint3D>& point : *job.points) {
        if (point) WriteFeaturePoint3D(out, *point);
      }
    }
    out.EndObject();
  }

  if (job.vertex_objects != nullptr) {
    for (const PolygonMask& mask : job.vertex_objects->GetPolygonMasks()) {
      WritePolygonMask(out, mask);
    }
    for (const LineStrip& line : job.vertex_objects->GetLineStrips()) WriteLineStrip(out, line);
    for (const FocalGizmo& gizmo : job.vertex_objects->GetFocalGizmos()) {
      WriteFocalGizmo(out, gizmo);
    }
  }

  out.EndObject();
  return out.Good();
}

bool WriteCTrackMgr(DataBaseOut& out, const CTrackMgrRoot& job) {
  return WriteCTrackMgr(out, job.Contents());
}
