// Meta: the base of named objects (cameras, 3D feature points, ...).
#ifndef KALVEX_FOUNDATION_RUNTIME_META_H_
#define KALVEX_FOUNDATION_RUNTIME_META_H_

#include <memory>

class Meta {
 public:
  Meta() = default;
  // Copies get their own copy of the name.
  Meta(const Meta& other);
  Meta& operator=(const Meta& other);
  virtual ~Meta();

  virtual const char* GetMyClassName() const;

  // Stores a private copy of text (released with the object or the next
  // call); a null text clears the name.
  void SetName(const char* text);
  // The name, or null when none is set. Valid until the name changes.
  const char* GetName() const { return name_.get(); }

 private:
  std::unique_ptr<char[]> name_;
};

#endif  // KALVEX_FOUNDATION_RUNTIME_META_H_
