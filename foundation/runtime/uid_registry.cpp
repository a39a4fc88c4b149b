#include "foundation/runtime/uid_registry.h"

#include <cstdio>
#include <cstring>

UIDBase::UIDBase(uint16_t type, uint16_t flags) : type_(type), flags_(flags) {
  id_ = UIDRegistry::Instance().Register(this, 0);
}

UIDBase::UIDBase(const UIDBase& other) : type_(other.type_), flags_(other.flags_) {
  id_ = UIDRegistry::Instance().Register(this, other.id_);
}

UIDBase::~UIDBase() {
  UIDRegistry::Instance().Unregister(id_);
}

void UIDBase::SetUIDFlags(uint16_t flags) {
  UIDRegistry& registry = UIDRegistry::Instance();
  UIDRegistry::Guard guard(registry.lock_);
  flags_ = static_cast<uint16_t>((flags & ~UID_FLAG_SELECTED) | (flags_ & UID_FLAG_SELECTED));
}

UIDRegistry::UIDRegistry() {
  objects_.reserve(4096);
  free_ids_.reserve(4096);
  objects_.push_back(nullptr);
}

UIDRegistry& UIDRegistry::Instance() {
  // Never destroyed: objects that die during static destruction still unregister.
  static UIDRegistry* registry = new UIDRegistry;
  return *registry;
}

int32_t UIDRegistry::Register(UIDBase* object, int32_t source_id) {
  Guard guard(lock_);
  int32_t id;
  if (!free_ids_.empty()) {
    id = free_ids_.back();
    free_ids_.pop_back();
    objects_[id] = object;
  } else {
    id = static_cast<int32_t>(objects_.size());
    objects_.push_back(object);
  }
  if (source_id != 0) {
    auto it = names_.find(source_id);
    if (it != names_.end()) {
      std::string copy = it->second;
      names_[id] = std::move(copy);
    }
  }
  return id;
}

void UIDRegistry::Unregister(int32_t id) {
  Guard guard(lock_);
  if (ObjectLocked(id) == nullptr) return;
  objects_[id] = nullptr;
  free_ids_.push_back(id);
  names_.erase(id);
  selection_.erase(id);
}

UIDBase* UIDRegistry::GetObject(int32_t id) {
  Guard guard(lock_);
  return ObjectLocked(id);
}

bool UIDRegistry::IsSelected(int32_t id) {
  Guard guard(lock_);
  UIDBase* object = ObjectLocked(id);
  return object != nullptr && (object->flags_ & UID_FLAG_SELECTED) != 0;
}

bool UIDRegistry::AnySelected() {
  Guard guard(lock_);
  for (UIDBase* object : objects_) {
    if (object != nullptr && object->type_ != 0 && (object->flags_ & UID_FLAG_SELECTED)) {
      return true;
    }
  }
  return false;
}

void UIDRegistry::SetSelected(int32_t id, bool select) {
  Guard guard(lock_);
  UIDBase* object = ObjectLocked(id);
  if (object == nullptr) return;
  if (select) {
    object->flags_ |= UID_FLAG_SELECTED;
    selection_.insert(id);
  } else {
    object->flags_ &= ~UID_FLAG_SELECTED;
    selection_.erase(id);
  }
}

int UIDRegistry::SelectTypeRange(bool select, uint16_t low, uint16_t high) {
  Guard guard(lock_);
  int count = 0;
  for (size_t id = 1; id < objects_.size(); ++id) {
    UIDBase* object = objects_[id];
    if (object == nullptr || object->type_ < low || object->type_ > high ||
        (object->flags_ & UID_FLAG_LOCKED)) {
      continue;
    }
    if (select) {
      object->flags_ |= UID_FLAG_SELECTED;
      selection_.insert(static_cast<int32_t>(id));
    } else {
      object->flags_ &= ~UID_FLAG_SELECTED;
      selection_.erase(static_cast<int32_t>(id));
    }
    ++count;
  }
  return count;
}

int UIDRegistry::CollectSelected(std::vector<UIDBase*>& objects, uint16_t low, uint16_t high) {
  Guard guard(lock_);
  int count = 0;
  for (int32_t id : selection_) {
    UIDBase* object = ObjectLocked(id);
    if (object == nullptr || object->type_ < low || object->type_ > high ||
        (object->flags_ & UID_FLAG_MARK)) {
      continue;
    }
    object->flags_ |= UID_FLAG_MARK;
    objects.push_back(object);
    ++count;
  }
  for (UIDBase* object : objects) {
    if (object != nullptr) object->flags_ &= ~UID_FLAG_MARK;
  }
  return count;
}

const char* UIDRegistry::GetName(int32_t id) {
  Guard guard(lock_);
  auto it = names_.find(id);
  return it == names_.end() ? nullptr : it->second.c_str();
}

void UIDRegistry::SetName(int32_t id, const char* text) {
  Guard guard(lock_);
  if (ObjectLocked(id) == nullptr) return;
  if (text == nullptr) {
    names_.erase(id);
  } else {
    names_[id] = text;
  }
}

namespace {

// The number that follows the prefix in a stored name, -1 when there is none.
long NameSuffixNumber(const char* rest) {
  if (*rest == '\0') return -1;
  long value = 0;
  for (; *rest != '\0'; ++rest) {
    if (*rest < '0' || *rest > '9') return -1;
    if (value > 214748363) return -1;
    long digit = *rest - '0';
    value = value < 1 ? digit : value * 10 + digit;
  }
  return value;
}

}  // namespace

void UIDRegistry::SetUniqueName(int32_t id, const char* prefix) {
  if (prefix == nullptr) prefix = "";
  size_t n = std::strlen(prefix);
  Guard guard(lock_);
  if (ObjectLocked(id) == nullptr) return;
  long largest = -1;
  for (const auto& entry : names_) {
    const std::string& name = entry.second;
    if (name.compare(0, n, prefix) != 0 || name.size() < n) continue;
    long value = NameSuffixNumber(name.c_str() + n);
    if (value > largest) largest = value;
  }
  char number[32];
  std::snprintf(number, sizeof number, "%ld", largest + 1);
  names_[id] = std::string(prefix) + number;
}
