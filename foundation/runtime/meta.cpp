#include "foundation/runtime/meta.h"

#include <cstring>

Meta::Meta(const Meta& other) {
  SetName(other.GetName());
}

Meta& Meta::operator=(const Meta& other) {
  if (this != &other) SetName(other.GetName());
  return *this;
}

Meta::~Meta() = default;

const char* Meta::GetMyClassName() const {
  return "Meta";
}

void Meta::SetName(const char* text) {
  if (text == nullptr) {
    name_.reset();
    return;
  }
  // Copy before releasing: text may be our own name.
  const size_t n = std::strlen(text) + 1;
  std::unique_ptr<char[]> copy(new char[n]);
  std::memcpy(copy.get(), text, n);
  name_ = std::move(copy);
}
