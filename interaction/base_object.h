// uic::BaseObject: the common base of the interaction layer's plain settings records.
#pragma once

namespace uic {

// Records derived from it hold no pointers and copy field by field; the base adds only a
// virtual destructor.
class BaseObject {
 public:
  virtual ~BaseObject() = default;
};

}  // namespace uic
