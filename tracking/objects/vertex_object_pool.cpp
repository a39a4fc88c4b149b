#include "tracking/objects/vertex_object_pool.h"

#include <cmath>
#include <iterator>
#include <limits>

#include "foundation/numeric/vector_angle.h"
#include "foundation/runtime/notify.h"

namespace {

// Gives `object` one vertex per given vertex that has a value at frame 0, keyed at keyFrame.
void AddKeyedVertices(VertexObject& object, const std::vector<Vertex>& vertices, int keyFrame) {
  vm::Vector3 value;
  for (const Vertex& v : vertices) {
    if (v.GetValue(&value, 0) != Vertex::kNoKeys) object.AddVertex(value, keyFrame);
  }
}

double AngleBetween(const vm::Vector3& a, const vm::Vector3& b) {
  const double u[3] = {a.x, a.y, a.z};
  const double w[3] = {b.x, b.y, b.z};
  return VectorAngle(u, w, 3);
}

template <typename T>
bool EraseByAddress(std::list<T>& list, const VertexObject* object) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (&*it == object) {
      list.erase(it);
      return true;
    }
  }
  return false;
}

template <typename T>
VertexObject* FindHolder(std::list<T>& list, const Vertex* vertex) {
  for (T& object : list) {
    if (object.HasVertex(vertex)) return &object;
  }
  return nullptr;
}

template <typename T>
bool InList(const std::list<T>& list, const VertexObject* object) {
  for (const T& o : list) {
    if (&o == object) return true;
  }
  return false;
}

}  // namespace

PolygonMask* VertexObjectPool::AddPolygonMask(int frameCount, const std::vector<Vertex>& vertices,
                                              int keyFrame) {
  if (vertices.size() < 3) {
    Notify(2, "VertexObjectPool::AddPolygonMask: less than 3 polygon vertices");
    return nullptr;
  }
  PolygonMask& mask = masks_.emplace_back();
  AddKeyedVertices(mask, vertices, keyFrame);
  mask.SetIndexRange(0, frameCount - 1);
  return &mask;
}

LineStrip* VertexObjectPool::AddLineStrip(const std::vector<Vertex>& vertices, int keyFrame,
                                          int start, int end) {
  if (vertices.size() < 2) {
    Notify(2, "VertexObjectPool::AddLineStrip: less than 2  vertices");
    return nullptr;
  }
  LineStrip& line = line_strips_.emplace_back();
  AddKeyedVertices(line, vertices, keyFrame);
  line.SetIndexRange(start < 0 ? keyFrame : start, end < 0 ? keyFrame : end);
  return &line;
}

int VertexObjectPool::InsertMaskVertex(const vm::Vector3& point, int frame) {
  const unsigned at = unsigned(frame);
  PolygonMask* mask = nullptr;
  std::list<Vertex>::iterator nearest;
  vm::Vector3 nearest_pos;
  double best = 1e16;
  for (PolygonMask& m : masks_) {
    for (auto it = m.GetVertices().begin(); it != m.GetVertices().end(); ++it) {
      vm::Vector3 p;
      if (!m.GetVertexPosition(&p, &*it, at)) continue;
      const double d2 = (point - p).SquaredLength();
      if (d2 < best) {
        best = d2;
        mask = &m;
        nearest = it;
        nearest_pos = p;
      }
    }
  }
  if (!mask) {
    Notify(2, "VertexObjectPool::InsertMaskVertex: no vertex list found");
    return -1;
  }

  std::list<Vertex>& list = mask->GetVertices();
  auto next = std::next(nearest);
  if (next == list.end()) next = list.begin();
  auto prev = nearest == list.begin() ? std::prev(list.end()) : std::prev(nearest);
  // A neighbour without a position cannot give a direction: it never wins.
  const auto angle_to = [&](std::list<Vertex>::iterator n) {
    vm::Vector3 p;
    if (!mask->GetVertexPosition(&p, &*n, at)) return std::numeric_limits<double>::infinity();
    return std::fabs(AngleBetween(point - nearest_pos, p - nearest_pos));
  };
  const auto w = angle_to(next) < angle_to(prev) ? next : nearest;

  vm::Vector3 w_pos;
  if (!mask->GetVertexPosition(&w_pos, &*w, at)) return 0;
  const vm::Vector3 offset = point - w_pos;
  Vertex& added = *list.insert(w, *w);
  int key_frame = 0;
  vm::Vector3 value;
  for (int i = 0; added.GetKey(i, &key_frame, &value); ++i) added.SetKey(key_frame, value + offset);
  return 0;
}

VertexObject* VertexObjectPool::FindObjectOfVertex(const Vertex* vertex) {
  if (VertexObject* o = FindHolder(masks_, vertex)) return o;
  if (VertexObject* o = FindHolder(line_strips_, vertex)) return o;
  return FindHolder(gizmos_, vertex);
}

bool VertexObjectPool::RemoveObject(VertexObject* object) {
  return EraseByAddress(masks_, object) || EraseByAddress(line_strips_, object) ||
         EraseByAddress(gizmos_, object);
}

bool VertexObjectPool::DeleteSelection(const std::vector<UIDBase*>& selection) {
  // Every entry is read before anything is deleted: removing a vertex can remove its
  // whole object, and with it vertices that later entries point to. Afterwards the
  // vertices are only compared by address with what is still in the pool.
  std::vector<const Vertex*> vertices;
  bool handled = true;
  for (UIDBase* entry : selection) {
    if (entry && entry->GetUIDType() > UID_TYPE_VERTEX) continue;  // vertex objects
    const Vertex* vertex =
        entry && entry->GetUIDType() == UID_TYPE_VERTEX ? dynamic_cast<Vertex*>(entry) : nullptr;
    if (!vertex) {
      handled = false;
      break;
    }
    vertices.push_back(vertex);
  }

  for (const Vertex* vertex : vertices) {
    VertexObject* object = FindObjectOfVertex(vertex);
    if (!object || InList(gizmos_, object)) continue;
    object->RemoveVertex(vertex);
    const int least = InList(masks_, object) ? 3 : 2;
    if (object->GetNumVertices() < least) RemoveObject(object);
  }
  return handled;
}

void VertexObjectPool::ClearSelection() {
  UIDRegistry& registry = UIDRegistry::Instance();
  const auto deselect = [&registry](VertexObject& object) {
    registry.SetSelected(object.GetUID(), false);
    for (const Vertex& v : object.GetVertices()) registry.SetSelected(v.GetUID(), false);
  };
  for (PolygonMask& m : masks_) deselect(m);
  for (LineStrip& l : line_strips_) deselect(l);
  for (FocalGizmo& g : gizmos_) deselect(g);
}

void VertexObjectPool::Clear() {
  masks_.clear();
  line_strips_.clear();
  gizmos_.clear();
}
