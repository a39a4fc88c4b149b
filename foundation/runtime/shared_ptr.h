// SharedPtr<T>: the intrusive reference-counted handle. Every shared object lives in
// one heap block with a 16-byte header in front of the payload:
//
//   payload - 16: pointer to the start of the heap allocation (freed with std::free)
//   payload -  8: int32 payload size = sizeof(T) at allocation (extra bytes not counted)
//   payload -  4: int32 reference count, changed only atomically
//   payload     : the T object, followed by the optional extra bytes
//
// A handle is one pointer to the payload (null = empty). Handles to one payload may be
// copied and released on different threads; a single handle variable is not atomic
// (two threads must not assign or release the same variable at once), and the payload
// protects its own state. The last release runs the destructor (the virtual one when T
// has one) and frees the block. Cycles of handles keep each other alive until their
// owners unlink them.
//
// Objects are made only by Make / MakeExtra / Allocate / AllocateExtra; never wrap an
// object made otherwise. A handle converts to a handle of a base class only when that
// base has a virtual destructor (multiple inheritance is supported).
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

struct SharedBlockHeader {
  void* allocation;
  std::int32_t size;
  std::atomic<std::int32_t> count;
};
static_assert(sizeof(SharedBlockHeader) == 16, "payloads sit 16 bytes after the header");

// Base for types whose objects must be turned back into handles from a plain pointer
// (SharedPtr<T>::FromPlainPointer), for example objects found by id. The marker is set
// only on objects allocated by SharedPtr, so a member, a local or a copy of a shared
// object is recognised as not shared without reading memory outside the object.
class SharedBlockMarker {
 protected:
  SharedBlockMarker() noexcept {}
  SharedBlockMarker(const SharedBlockMarker&) noexcept {}
  SharedBlockMarker& operator=(const SharedBlockMarker&) noexcept { return *this; }
  ~SharedBlockMarker() = default;

 private:
  template <class>
  friend class SharedPtr;
  const void* shared_block_payload_ = nullptr;
};

template <class T>
class SharedPtr {
 public:
  using element_type = T;

  SharedPtr() noexcept = default;
  SharedPtr(std::nullptr_t) noexcept {}
  SharedPtr(const SharedPtr& other) noexcept : p_(other.p_) { AddRef(p_); }
  SharedPtr(SharedPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}

  // Conversion to a base-class handle (the base must have a virtual destructor).
  template <class U>
  requires(!std::is_same_v<U, T>) &&
      std::is_convertible_v<U*, T*>&& std::has_virtual_destructor_v<T> SharedPtr(
          const SharedPtr<U>& other) noexcept
      : p_(other.Get()) {
    AddRef(p_);
  }
  template <class U>
  requires(!std::is_same_v<U, T>) &&
      std::is_convertible_v<U*, T*>&& std::has_virtual_destructor_v<T> SharedPtr(
          SharedPtr<U>&& other) noexcept
      : p_(other.p_) {
    other.p_ = nullptr;
  }

  ~SharedPtr() { Release(); }

  // Adds a reference to the source first, then releases the old payload: assigning a
  // handle to itself is safe and keeps the count.
  SharedPtr& operator=(const SharedPtr& other) noexcept {
    T* source = other.p_;
    AddRef(source);
    T* old = p_;
    p_ = source;
    Drop(old);
    return *this;
  }
  SharedPtr& operator=(SharedPtr&& other) noexcept {
    if (this != &other) {
      T* old = p_;
      p_ = std::exchange(other.p_, nullptr);
      Drop(old);
    }
    return *this;
  }
  SharedPtr& operator=(std::nullptr_t) noexcept {
    Release();
    return *this;
  }

  // A new T(args...) in a new block with count 1.
  template <class... Args>
  static SharedPtr Make(Args&&... args) {
    return SharedPtr(NewBlock(0, std::forward<Args>(args)...), Adopt{});
  }
  // The same with extra_bytes uninitialised bytes after the payload (see ExtraBytes).
  template <class... Args>
  static SharedPtr MakeExtra(std::size_t extra_bytes, Args&&... args) {
    return SharedPtr(NewBlock(extra_bytes, std::forward<Args>(args)...), Adopt{});
  }

  // Replaces the payload by a new T(args...); the old one is released only after the
  // new one is in place. Returns the new payload. Throws std::bad_alloc (or what the
  // constructor throws) and then leaves the handle unchanged.
  template <class... Args>
  T* Allocate(Args&&... args) {
    return AllocateExtra(0, std::forward<Args>(args)...);
  }
  template <class... Args>
  T* AllocateExtra(std::size_t extra_bytes, Args&&... args) {
    T* fresh = NewBlock(extra_bytes, std::forward<Args>(args)...);
    T* old = p_;
    p_ = fresh;
    Drop(old);
    return fresh;
  }

  // A handle to an object allocated by SharedPtr, from a plain pointer to it: adds a
  // reference. Empty when object is null, was not allocated as a shared block (a
  // member, a local, a copy), or its block was allocated for a type of another size.
  static SharedPtr FromPlainPointer(T* object) noexcept {
    static_assert(std::is_base_of_v<SharedBlockMarker, T>,
                  "FromPlainPointer needs a type derived from SharedBlockMarker");
    if (object == nullptr) return SharedPtr();
    const SharedBlockMarker* marker = object;
    if (marker->shared_block_payload_ != static_cast<const void*>(object)) return SharedPtr();
    if (HeaderOf(object)->size != static_cast<std::int32_t>(sizeof(T))) return SharedPtr();
    AddRef(object);
    return SharedPtr(object, Adopt{});
  }

  // Empties the handle first, then drops its reference (destroying the payload when it
  // was the last one).
  void Release() noexcept { Drop(std::exchange(p_, nullptr)); }

  T* Get() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Number of handles to the payload (0 for an empty handle); a snapshot only.
  std::int32_t RefCount() const noexcept {
    return p_ ? HeaderOf(p_)->count.load(std::memory_order_relaxed) : 0;
  }
  // The size word of the block (sizeof the allocated type; 0 for an empty handle).
  std::int32_t PayloadSize() const noexcept { return p_ ? HeaderOf(p_)->size : 0; }
  // First extra byte after the payload (null for an empty handle).
  void* ExtraBytes() const noexcept {
    if (!p_) return nullptr;
    return const_cast<char*>(static_cast<const char*>(PayloadStart(p_))) + HeaderOf(p_)->size;
  }

  friend bool operator==(const SharedPtr& a, const SharedPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const SharedPtr& a, std::nullptr_t) noexcept { return !a.p_; }
  friend std::strong_ordering operator<=>(const SharedPtr& a, const SharedPtr& b) noexcept {
    return std::compare_three_way()(a.p_, b.p_);
  }

 private:
  template <class>
  friend class SharedPtr;
  template <class U, class V>
  friend SharedPtr<U> SharedPtrDynamicCast(const SharedPtr<V>& from) noexcept;

  struct Adopt {};
  SharedPtr(T* payload, Adopt) noexcept : p_(payload) {}

  // The start of the allocated object: for polymorphic types the most-derived object,
  // which differs from p when T is a non-first base.
  static const void* PayloadStart(const T* p) noexcept {
    if constexpr (std::is_polymorphic_v<T>) {
      return dynamic_cast<const void*>(p);
    } else {
      return p;
    }
  }
  static SharedBlockHeader* HeaderOf(const T* p) noexcept {
    return reinterpret_cast<SharedBlockHeader*>(
        const_cast<char*>(static_cast<const char*>(PayloadStart(p))) - sizeof(SharedBlockHeader));
  }
  static void AddRef(T* p) noexcept {
    if (p) HeaderOf(p)->count.fetch_add(1, std::memory_order_relaxed);
  }
  static void Drop(T* p) noexcept {
    if (!p) return;
    SharedBlockHeader* header = HeaderOf(p);
    if (header->count.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    void* allocation = header->allocation;
    p->~T();
    std::free(allocation);
  }

  template <class... Args>
  static T* NewBlock(std::size_t extra_bytes, Args&&... args) {
    static_assert(sizeof(T) <= INT32_MAX, "payload size must fit the 32-bit size word");
    constexpr std::size_t kAlign = alignof(T) > 16 ? alignof(T) : 16;
    if (extra_bytes > SIZE_MAX - kAlign - sizeof(T) - kAlign) throw std::bad_alloc();
    std::size_t total = kAlign + sizeof(T) + extra_bytes;
    void* raw;
    if constexpr (kAlign <= alignof(std::max_align_t)) {
      raw = std::malloc(total);
    } else {
      total = (total + kAlign - 1) / kAlign * kAlign;
      raw = std::aligned_alloc(kAlign, total);
    }
    if (raw == nullptr) throw std::bad_alloc();
    char* payload = static_cast<char*>(raw) + kAlign;
    auto* header = ::new (payload - sizeof(SharedBlockHeader)) SharedBlockHeader;
    header->allocation = raw;
    header->size = static_cast<std::int32_t>(sizeof(T));
    header->count.store(1, std::memory_order_relaxed);
    T* object;
    try {
      object = ::new (static_cast<void*>(payload)) T(std::forward<Args>(args)...);
    } catch (...) {
      std::free(raw);
      throw;
    }
    if constexpr (std::is_base_of_v<SharedBlockMarker, T>) {
      static_cast<SharedBlockMarker*>(object)->shared_block_payload_ = object;
    }
    return object;
  }

  T* p_ = nullptr;
};

// The handle as a handle of a related polymorphic type; empty when the payload is not
// a U (or the source is empty). Adds a reference when not empty.
template <class U, class V>
SharedPtr<U> SharedPtrDynamicCast(const SharedPtr<V>& from) noexcept {
  static_assert(std::has_virtual_destructor_v<U>, "the target type needs a virtual destructor");
  U* p = dynamic_cast<U*>(from.Get());
  if (p == nullptr) return SharedPtr<U>();
  SharedPtr<U>::AddRef(p);
  return SharedPtr<U>(p, typename SharedPtr<U>::Adopt{});
}
