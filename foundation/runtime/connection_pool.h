#pragma once

// The pooled store of the signal/slot library: every connection record and every
// receiver back-reference of the process is a node of one growing array, linked into
// doubly linked lists by 32-bit node indices. A signal or a receiver owns only the head
// index of its list.
//
// Node indices stay valid for the life of the node; node addresses do not (the array
// is reallocated when it grows), so callers keep indices and ask for the address again
// after anything that may allocate a node.
//
// Not thread-safe: the signal/slot library is used on the GUI thread only.

#include <cstddef>
#include <cstdint>
#include <vector>

// Room for one connection record: its vtable pointer, the receiver pointer and a
// pointer to a member function (two words on the usual 64-bit ABIs).
#define LL_DATA_SIZE (4 * sizeof(void*))

class ConnectionPool {
 public:
  static constexpr size_t kPayloadSize = LL_DATA_SIZE;
  static constexpr size_t kInitialCapacity = 1024;

  struct Node {
    alignas(alignof(std::max_align_t)) unsigned char payload[kPayloadSize];
    uint32_t prev;  // 0 = none
    uint32_t next;  // 0 = none
    uint32_t dead;  // released while an emit was running; freed when the emit ends
  };
  static constexpr size_t kNodeSize = sizeof(Node);

  // Destroys a retired payload before its node is freed.
  using PayloadDestroy = void (*)(void* payload);

  ConnectionPool();
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // The process-wide pool. It is created on first use and never destroyed, so signals
  // and receivers that die during static destruction still find it.
  static ConnectionPool& Instance();

  // Takes a node (the most recently freed index, else a new one, growing the array when
  // needed), links it in as the new head of the list *head and returns its payload
  // address. A payload larger than kPayloadSize is a programming error: fatal message,
  // then abort.
  void* AllocNode(uint32_t* head, size_t payload_size);

  // Unlinks node `index` from the list *head (head may be null for a list nobody owns
  // any more) and pushes the index on the free stack. Index 0 and indices not handed out
  // are ignored. The freed node keeps its own prev and next indices.
  void FreeNode(uint32_t* head, uint32_t index);

  void* Payload(uint32_t index) { return NodeAt(index).payload; }
  uint32_t Next(uint32_t index) const { return NodeAt(index).next; }
  bool IsDead(uint32_t index) const { return NodeAt(index).dead != 0; }

  // Emit bracketing. While any emit runs, connection nodes are not freed but retired:
  // marked dead (walks skip them) and freed, with their payload destroyed, when the
  // outermost emit ends. This keeps every walk in progress on valid nodes whatever its
  // slots disconnect, connect or destroy.
  void BeginEmit() { ++emit_depth_; }
  void EndEmit();
  bool Emitting() const { return emit_depth_ > 0; }

  // Retires node `index` of list *head (see above). Outside an emit it destroys the
  // payload and frees the node at once.
  void Retire(uint32_t* head, uint32_t index, PayloadDestroy destroy);

  // The owner of list *head is going away while nodes of that list are retired: those
  // nodes are freed later without touching *head.
  void ForgetHead(const uint32_t* head);

  size_t capacity() const { return capacity_; }
  uint32_t node_count() const { return node_count_; }
  uint32_t free_count() const { return free_count_; }

 private:
  struct Retired {
    uint32_t* head;
    uint32_t index;
    PayloadDestroy destroy;
  };

  Node& NodeAt(uint32_t index) { return reinterpret_cast<Node*>(array_)[index]; }
  const Node& NodeAt(uint32_t index) const { return reinterpret_cast<const Node*>(array_)[index]; }
  uint32_t* StackEntry(uint32_t k) {  // k = 1 is the newest entry
    return reinterpret_cast<uint32_t*>(array_ + capacity_) - k;
  }
  void Grow(size_t need);

  unsigned char* array_ = nullptr;
  size_t capacity_ = 0;
  uint32_t node_count_ = 1;  // node 0 is reserved: index 0 means "no node"
  uint32_t free_count_ = 0;
  int emit_depth_ = 0;
  std::vector<Retired> retired_;
};
