// The tracking job's part of a project file: the "CTrackMgr" object with its frames, its
// feature map and its vertex objects, and the vertex objects' own writers.
//
// The tracking manager hands WriteCTrackMgr what it stores; the images, points and vertex
// objects are only read. Cross references are written as positions in the written lists:
// a 2D feature's 3D point as its position among the non-null points, its successor as its
// position among the non-null entries of the next written frame's list of the same kind
// (features or anchors). Null entries are skipped and shift nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/runtime/shared_ptr.h"

class CTrackMgrRoot;
class DataBaseOut;
class FeatureImage;
class FeaturePoint3D;
class FocalGizmo;
class LineStrip;
class PolygonMask;
class Vertex;
class VertexObjectPool;

// The kind of the job's current feature map, which names its object in the file.
enum class ProjectMapKind {
  kNone,          // no map: no map object is written
  kFreeMotion,    // "FMapFreeMove"
  kPureRotation,  // "FMapSphere"
};

// What a tracking manager stores. Pointers may be null for "nothing of that kind".
struct CTrackMgrContents {
  const std::vector<SharedPtr<FeatureImage>>* images = nullptr;
  ProjectMapKind map_kind = ProjectMapKind::kNone;
  const std::vector<SharedPtr<FeaturePoint3D>>* points = nullptr;  // the map's point list
  int32_t frame_start = 0;
  int32_t frame_end = 0;
  int32_t frame_step = 1;
  bool top_field_first = false;  // the image cache's field-order flag
  int32_t deint_method = 0;      // the image cache's deinterlace method
  const VertexObjectPool* vertex_objects = nullptr;
};

// Writes the "CTrackMgr" object: "Path" (the directory of the first written frame's file,
// when it has one), "TopFieldFirst", "DeintMethod", "Frms" (start, end, step), one
// "FImage" per non-null image, the map as "FMapFreeMove" or "FMapSphere" with one "FP3D"
// per non-null point, then every polygon mask, line strip and focal gizmo. Returns
// out.Good(): false once any write failed.
bool WriteCTrackMgr(DataBaseOut& out, const CTrackMgrContents& job);
// The save of a tracking job (the manager, or any root): its Contents() written as above.
bool WriteCTrackMgr(DataBaseOut& out, const CTrackMgrRoot& job);

// "Vert": the vertex's keys as the "Data" array (x, y, frame per key; only when it has
// keys).
void WriteVertex(DataBaseOut& out, const Vertex& vertex);
// "PMask": with at least 3 vertices "Name" (when not empty), "MProp", "MHTProp", "Col",
// "Frms" (start, end) and the vertices; with fewer an empty object.
void WritePolygonMask(DataBaseOut& out, const PolygonMask& mask);
// "LineStrip": with at least 2 vertices "Name", "Col", "Frms" and the vertices.
void WriteLineStrip(DataBaseOut& out, const LineStrip& line);
// "FocalGizmo": with at least 12 vertices "Name", "Frms" and the vertices.
void WriteFocalGizmo(DataBaseOut& out, const FocalGizmo& gizmo);
