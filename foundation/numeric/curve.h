// o_Curve<T>: a value key-framed over frame numbers.
//
// The keys {frame, value} are kept sorted by frame, at most one per frame. Between two
// keys the value is interpolated linearly; before the first and after the last key the
// nearest key's value holds. T needs T + T, T - T and T * double (vm::Vector3, double).
#ifndef KALVEX_FOUNDATION_NUMERIC_CURVE_H_
#define KALVEX_FOUNDATION_NUMERIC_CURVE_H_

#include <vector>

template <typename T>
class o_Curve {
 public:
  struct Key {
    int frame;
    T value;
  };

  // What GetValue found.
  enum { kNoKeys = 0, kExactKey = 1, kInterpolated = 2, kOutsideKeys = 3 };

  int GetNumKeys() const { return static_cast<int>(keys_.size()); }
  bool HasKeys() const { return !keys_.empty(); }

  // The index of the first key in [first, last) whose frame is at or after `frame` (binary
  // search); `last` when there is none. The range is clamped to the keys.
  int FindKey(int first, int last, int frame) const {
    if (first < 0) first = 0;
    if (last > GetNumKeys()) last = GetNumKeys();
    while (first < last) {
      const int mid = first + (last - first) / 2;
      if (keys_[mid].frame < frame) {
        first = mid + 1;
      } else {
        last = mid;
      }
    }
    return first;
  }

  // The index of the key exactly at `frame`, -1 when there is none.
  int FindKeyIndex(int frame) const {
    const int i = FindKey(0, GetNumKeys(), frame);
    return i < GetNumKeys() && keys_[i].frame == frame ? i : -1;
  }

  // The value at `frame`: returns kNoKeys (out untouched), kExactKey, kInterpolated
  // (between the two enclosing keys) or kOutsideKeys (the first or last key's value).
  // A null `out` only asks for the kind.
  int GetValue(T* out, int frame) const {
    const int n = GetNumKeys();
    if (n == 0) return kNoKeys;
    const int i = FindKey(0, n, frame);
    if (i < n && keys_[i].frame == frame) {
      if (out) *out = keys_[i].value;
      return kExactKey;
    }
    if (i == 0 || i == n) {
      if (out) *out = keys_[i == 0 ? 0 : n - 1].value;
      return kOutsideKeys;
    }
    if (out) {
      const Key& a = keys_[i - 1];
      const Key& b = keys_[i];
      const double t = (double(frame) - a.frame) / (double(b.frame) - a.frame);
      *out = a.value + (b.value - a.value) * t;
    }
    return kInterpolated;
  }

  // Gives the key at `frame` the value, or inserts {frame, value} in frame order.
  void SetKey(int frame, const T& value) {
    const int i = FindKey(0, GetNumKeys(), frame);
    if (i < GetNumKeys() && keys_[i].frame == frame) {
      keys_[i].value = value;
    } else {
      keys_.insert(keys_.begin() + i, Key{frame, value});
    }
  }

  // The key at `index` (either output may be null); false for an index out of range.
  bool GetKey(int index, int* frame, T* value) const {
    if (index < 0 || index >= GetNumKeys()) return false;
    if (frame) *frame = keys_[index].frame;
    if (value) *value = keys_[index].value;
    return true;
  }

  // Erases the key at `index`; false for an index out of range.
  bool RemoveKey(int index) {
    if (index < 0 || index >= GetNumKeys()) return false;
    keys_.erase(keys_.begin() + index);
    return true;
  }

  void ClearKeys() { keys_.clear(); }

 private:
  std::vector<Key> keys_;
};

#endif  // KALVEX_FOUNDATION_NUMERIC_CURVE_H_
