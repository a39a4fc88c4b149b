#include "tracking/objects/vertex_object.h"

#include <cmath>

#include "foundation/project/data_base_in.h"
#include "foundation/runtime/notify.h"
#include "tracking/objects/point_in_polygon.h"

namespace {

constexpr double kNoDistance = 1e16;

}  // namespace

bool Vertex::CheckForField(DataBaseIn& in, const char* key) {
  if (!in.IsField(key, PF_KEY_DATA)) return false;
  if (in.GetIdentifier() != (in.IsBinary() ? uint8_t{PF_ARRAY_BEGIN} : uint8_t{'['})) {
    throw "Vertex::CheckForField: can't find vector begin";
  }
  if (in.IsBinary()) {
    for (;;) {
      const uint8_t mark = in.GetByte();
      if (mark == PF_ARRAY_END) return true;
      if (mark != BIN_VECTOR2) throw "Vertex::CheckForField: BIN_VECTOR2 expected";
      double xy[2];
      in.GetVec2(xy);
      const int frame = in.GetInt();
      SetKey(frame, vm::Vector3{xy[0], xy[1], 0.0});
    }
  }
  for (;;) {
    double xy[2];
    in.GetVec2(xy);
    const int frame = in.GetInt();
    SetKey(frame, vm::Vector3{xy[0], xy[1], 0.0});
    const uint8_t separator = in.GetIdentifier();
    if (separator == ']') return true;
    if (separator != ',') throw "Vertex::CheckForField:  \",\" expected";
  }
}

bool VertexObject::CheckForField(DataBaseIn&, const char*) {
  return false;
}

bool VertexObject::CheckCommonField(DataBaseIn& in, const char* key) {
  if (in.IsField(key, PF_KEY_VERT)) {
    Vertex vertex;
    vertex.RestoreObject(in);
    vertices_.push_back(vertex);
  } else if (in.IsField(key, PF_KEY_NAME)) {
    char name[PF_MAX_TEXT + 1];
    in.GetString(name, sizeof name);
    SetName(name);
  } else if (in.IsField(key, PF_KEY_FRMS)) {
    const int start = in.GetInt();
    const int end = in.GetInt();
    SetEndIndex(end);
    SetStartIndex(start);
  } else {
    return false;
  }
  return true;
}

bool VertexObject::CheckColorField(DataBaseIn& in, const char* key, ColorRGBA& color) {
  if (!in.IsField(key, PF_KEY_COL)) return false;
  double rgba[4];
  in.GetVec4(rgba);
  color = {rgba[0], rgba[1], rgba[2], rgba[3]};
  SetFlags(VERTEX_OBJECT_HAS_COLOR);
  return true;
}

bool PolygonMask::CheckForField(DataBaseIn& in, const char* key) {
  if (CheckCommonField(in, key) || CheckColorField(in, key, color_)) return true;
  if (in.IsField(key, PF_KEY_MPROP)) {
    const int value = in.GetInt();
    if (value >= 0 && value <= 2) m_prop_ = value;
    return true;
  }
  if (in.IsField(key, PF_KEY_MHTPROP)) {
    const int value = in.GetInt();
    if (value == 0 || value == 1) SetMHTProp(value);
    return true;
  }
  return false;
}

bool LineStrip::CheckForField(DataBaseIn& in, const char* key) {
  return CheckCommonField(in, key) || CheckColorField(in, key, color_);
}

bool FocalGizmo::CheckForField(DataBaseIn& in, const char* key) {
  return CheckCommonField(in, key);
}

void VertexObject::Clear() {
  vertices_.clear();
  name_.clear();
}

void VertexObject::SetStartIndex(int start) {
  if (start > end_index_) {
    Notify(2, "VertexObject::SetStartIndex: start > end (%ld < %ld)", long(start),
           long(end_index_));
    return;
  }
  start_index_ = start;
}

void VertexObject::SetEndIndex(int end) {
  if (end < start_index_) {
    Notify(2, "VertexObject::SetEndIndex: end < start (%ld < %ld)", long(end), long(start_index_));
    return;
  }
  end_index_ = end;
}

bool VertexObject::SetIndexRange(int start, int end) {
  if (end < start) {
    Notify(2, "VertexObject::SetIndexRange: start > end (%ld < %ld)", long(start), long(end));
    return false;
  }
  start_index_ = start;
  end_index_ = end;
  return true;
}

void VertexObject::SetName(const char* name) {
  if (name) name_ = name;
}

int VertexObject::IsActiveAt(unsigned frame) const {
  if (unsigned(start_index_) <= frame && frame <= unsigned(end_index_)) {
    return GetNumVertices();
  }
  return 0;
}

int VertexObject::AddVertex(const vm::Vector3& position, int frame) {
  vertices_.emplace_back().SetKey(frame, position);
  return GetNumVertices();
}

bool VertexObject::HasVertex(const Vertex* vertex) const {
  for (const Vertex& v : vertices_) {
    if (&v == vertex) return true;
  }
  return false;
}

bool VertexObject::RemoveVertex(const Vertex* vertex) {
  for (auto it = vertices_.begin(); it != vertices_.end(); ++it) {
    if (&*it == vertex) {
      vertices_.erase(it);
      return true;
    }
  }
  return false;
}

void VertexObject::SetVertexPosition(Vertex* vertex, const vm::Vector3& position, int frame) {
  if (!vertex || !HasVertex(vertex)) {
    Notify(2, "VertexObject::SetVertexPosition: bad vertex, null or not part of object.");
    return;
  }
  vertex->SetKey(frame, position);
}

bool VertexObject::GetVertexPosition(vm::Vector3* out, const Vertex* vertex, unsigned frame) const {
  if (!out || !HasVertex(vertex) || !IsActiveAt(frame)) return false;
  return vertex->GetValue(out, int(frame)) != Vertex::kNoKeys;
}

int VertexObject::GetVertexPositions(std::vector<vm::Vector3>& out, unsigned frame) const {
  out.clear();
  if (!IsActiveAt(frame)) return 0;
  vm::Vector3 p;
  for (const Vertex& v : vertices_) {
    if (v.GetValue(&p, int(frame)) != Vertex::kNoKeys) out.push_back(p);
  }
  return static_cast<int>(out.size());
}

int VertexObject::MoveKeyframe(int from, int to) {
  if (from == to) return 0;
  int changed = 0;
  for (Vertex& v : vertices_) {
    const int i = v.FindKeyIndex(from);
    if (i < 0) continue;
    vm::Vector3 value;
    v.GetKey(i, nullptr, &value);
    v.RemoveKey(i);
    v.SetKey(to, value);
    ++changed;
  }
  return changed;
}

int VertexObject::RemoveKeyframe(int frame) {
  int removed = 0;
  for (Vertex& v : vertices_) {
    if (v.RemoveKey(v.FindKeyIndex(frame))) ++removed;
  }
  return removed;
}

bool VertexObject::IsInside(double x, double y, int frame) const {
  std::vector<vm::Vector3> points;
  vm::Vector3 p;
  for (const Vertex& v : vertices_) {
    if (v.GetValue(&p, frame) != Vertex::kNoKeys) points.push_back(p);
  }
  return IsPointInPolygon(points.data(), points.size(), x, y);
}

double VertexObject::GetDistanceToPolyline(double x, double y, int frame) const {
  std::vector<vm::Vector3> points;
  if (GetVertexPositions(points, unsigned(frame)) < 2) return kNoDistance;
  const vm::Vector3 q{x, y, 0.0};
  double best = kNoDistance;
  for (size_t i = 0; i + 1 < points.size(); ++i) {
    const vm::Vector3& a = points[i];
    const vm::Vector3& b = points[i + 1];
    vm::Vector3 u = b - a;
    if (!u.Normalize()) {
      // Two vertices on one spot: a unit direction does not exist, and the line
      // distance would be 0 for every point.
      best = std::fmin(best, (q - a).Length());
      continue;
    }
    if ((q - a).Dot(b - a) < 0.0 || (q - b).Dot(a - b) < 0.0) continue;
    best = std::fmin(best, (a - q).Cross(u).Length());
  }
  return best;
}
