#include "scene/objects/nhs_object.h"

#include <cassert>
#include <cmath>
#include <cstring>

#include "scene/objects/nhs_object_scene.h"

// ---- properties

NHSProperty::~NHSProperty() {
  if (prev_ != nullptr) prev_->next_ = next_;
  if (next_ != nullptr) next_->prev_ = prev_;
}

void NHSProperty::Write(Serializer::Writer&) const {}

void NHSProperty::Read(Serializer::Reader&) {}

NHSProperty_Name::NHSProperty_Name(const char* name) : NHSProperty(kKind) {
  SetName(name);
}

void NHSProperty_Name::SetName(const char* name) {
  size_t n = name == nullptr ? 0 : strnlen(name, kMaxLength);
  if (n > 0) std::memcpy(name_, name, n);
  name_[n] = '\0';
}

// ---- node

NHSObject::NHSObject(uint16_t type, uint32_t color) : UIDBase(type, 0), color_(color) {
  static constexpr double kIdentity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
  std::memcpy(transform_.m, kIdentity, sizeof kIdentity);
}

NHSObject::~NHSObject() {
  // A derived class has cleaned up its own storage by now. The scene root's selection must
  // not name a freed node (its gizmo would follow it).
  const NHSObject* top = this;
  while (top->parent_ != nullptr) top = top->parent_;
  // While the root itself is destroyed its dynamic type is already NHSObject here, so the
  // cast fails; its own destructor has cleared the selection.
  if (auto* scene = dynamic_cast<NHSObject_Scene*>(const_cast<NHSObject*>(top));
      scene != nullptr && scene->GetSelectedId() == GetUID()) {
    scene->SelectObject(0);
  }
  // Each child unlinks itself, so the next one becomes first.
  while (first_child_ != nullptr) delete first_child_;
  Unlink();
  while (property_head_.next_ != nullptr) delete property_head_.next_;
  // ~UIDBase frees the id last.
}

void NHSObject::Draw(NHSElementRender&, const Matrix3x4&) const {}

int NHSObject::DrawParts() const {
  return 1;
}

void NHSObject::DrawPart(NHSElementRender& renderer, const Matrix3x4& model, int) const {
  Draw(renderer, model);
}

void NHSObject::Serialize(Serializer::Writer&) const {}

void NHSObject::Deserialize(Serializer::Reader&) {}

int NHSObject::CountChildren() const {
  int n = 0;
  for (const NHSObject* c = first_child_; c != nullptr; c = c->next_) ++n;
  return n;
}

NHSObject* NHSObject::AddChild(NHSObject* child) {
  assert(child != nullptr && child != this);
  assert(child->parent_ == nullptr && child->prev_ == nullptr && child->next_ == nullptr);
  child->parent_ = this;
  child->prev_ = nullptr;
  child->next_ = first_child_;
  if (first_child_ != nullptr) first_child_->prev_ = child;
  first_child_ = child;
  return child;
}

void NHSObject::Unlink() {
  if (prev_ != nullptr) {
    prev_->next_ = next_;
  } else if (parent_ != nullptr && parent_->first_child_ == this) {
    parent_->first_child_ = next_;
  }
  if (next_ != nullptr) next_->prev_ = prev_;
  // Cleared, so that a node kept outside the tree (an undo command's) never reaches into
  // neighbours that may have changed or gone since.
  parent_ = prev_ = next_ = nullptr;
}

NHSProperty* NHSObject::FindProperty(int32_t kind) const {
  for (NHSProperty* p = property_head_.next_; p != nullptr; p = p->next_) {
    if (p->kind_ == kind) return p;
  }
  return nullptr;
}

int NHSObject::CountProperties() const {
  int n = 0;
  for (const NHSProperty* p = property_head_.next_; p != nullptr; p = p->next_) ++n;
  return n;
}

void NHSObject::AddProperty(NHSProperty* property) {
  if (NHSProperty* old = FindProperty(property->kind_); old != nullptr && old != property) {
    delete old;
  }
  property->prev_ = &property_head_;
  property->next_ = property_head_.next_;
  if (property_head_.next_ != nullptr) property_head_.next_->prev_ = property;
  property_head_.next_ = property;
}

void NHSObject::SetSelectedRecursive(bool selected) {
  UIDRegistry::Instance().SetSelected(GetUID(), selected);
  for (NHSObject* c = first_child_; c != nullptr; c = c->next_) c->SetSelectedRecursive(selected);
}

void NHSObject::GetGlobalTransform(Matrix3x4& out, bool stop_below_root) const {
  out = transform_;
  for (const NHSObject* a = parent_; a != nullptr; a = a->parent_) {
    if (stop_below_root && a->parent_ == nullptr) break;
    out.Multiply(a->transform_, out);
  }
}

void NHSObject::PreMultiplyTransform(const Matrix3x4& M) {
  transform_.Multiply(M, transform_);
}

void NHSObject::SetTransform(const Matrix4x4& transform) {
  std::memcpy(transform_.m, transform.m, sizeof transform_.m);
}

void NHSObject::PreMultiplyTransform(const Matrix4x4& M) {
  Matrix3x4 top;
  std::memcpy(top.m, M.m, sizeof top.m);
  PreMultiplyTransform(top);
}

void NHSObject::GetRotation(Matrix3x3& out) const {
  out.SetFromMatrix3x4(transform_);
}

void NHSObject::GetNormalizedRotation(Matrix3x3& out) const {
  GetRotation(out);
  bool any = false;
  for (int c = 0; c < 3; ++c) {
    const double s =
        out.m[c] * out.m[c] + out.m[3 + c] * out.m[3 + c] + out.m[6 + c] * out.m[6 + c];
    if (s > 0.0) {
      const double f = 1.0 / std::sqrt(s);
      for (int r = 0; r < 3; ++r) out.m[3 * r + c] *= f;
      any = true;
    }
  }
  if (!any) out.SetIdentity();
}
