#include "foundation/runtime/connection_pool.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/runtime/notify.h"

ConnectionPool::ConnectionPool() : capacity_(kInitialCapacity) {
  array_ = static_cast<unsigned char*>(std::malloc(capacity_));
  if (array_ == nullptr) throw std::bad_alloc();
  std::memset(array_, 0, kNodeSize);  // node 0
}

ConnectionPool::~ConnectionPool() {
  std::free(array_);
}

ConnectionPool& ConnectionPool::Instance() {
  static ConnectionPool* pool = new ConnectionPool;
  return *pool;
}

void ConnectionPool::Grow(size_t need) {
  if (free_count_ * sizeof(uint32_t) + node_count_ * kNodeSize + need <= capacity_) return;
  size_t old_capacity = capacity_;
  size_t new_capacity = old_capacity * 2;
  while (free_count_ * sizeof(uint32_t) + node_count_ * kNodeSize + need > new_capacity) {
    new_capacity *= 2;
  }
  auto* grown = static_cast<unsigned char*>(std::realloc(array_, new_capacity));
  if (grown == nullptr) throw std::bad_alloc();
  if (free_count_ != 0) {
    size_t stack_bytes = free_count_ * sizeof(uint32_t);
    std::memmove(grown + new_capacity - stack_bytes, grown + old_capacity - stack_bytes,
                 stack_bytes);
  }
  array_ = grown;
  capacity_ = new_capacity;
}

void* ConnectionPool::AllocNode(uint32_t* head, size_t payload_size) {
  if (payload_size > kPayloadSize) {
    Notify(1,
           "CameraTrackingManager::MapWildcard: Data storage size (%d) too small (required "
           "%lu) - please set LL_DATA_SIZE appropriately\n",
           static_cast<int>(kPayloadSize / 4), static_cast<unsigned long>((payload_size + 3) / 4));
    std::abort();
  }
  uint32_t index;
  if (free_count_ != 0) {
    index = *StackEntry(free_count_);
    --free_count_;
  } else {
    Grow(kNodeSize);
    index = node_count_++;
  }
  Node& node = NodeAt(index);
  node.prev = 0;
  node.next = *head;
  node.dead = 0;
  if (*head != 0) NodeAt(*head).prev = index;
  *head = index;
  return node.payload;
}

void ConnectionPool::FreeNode(uint32_t* head, uint32_t index) {
  if (index == 0 || index >= node_count_) return;
  Node& node = NodeAt(index);
  if (node.prev != 0) {
    NodeAt(node.prev).next = node.next;
  } else if (head != nullptr && *head == index) {
    *head = node.next;
  }
  if (node.next != 0) NodeAt(node.next).prev = node.prev;
  Grow(sizeof(uint32_t));
  ++free_count_;
  *StackEntry(free_count_) = index;
}

void ConnectionPool::Retire(uint32_t* head, uint32_t index, PayloadDestroy destroy) {
  if (index == 0 || index >= node_count_ || NodeAt(index).dead) return;
  if (emit_depth_ == 0) {
    destroy(NodeAt(index).payload);
    FreeNode(head, index);
    return;
  }
  NodeAt(index).dead = 1;
  retired_.push_back({head, index, destroy});
}

void ConnectionPool::ForgetHead(const uint32_t* head) {
  for (Retired& r : retired_) {
    if (r.head == head) r.head = nullptr;
  }
}

void ConnectionPool::EndEmit() {
  if (--emit_depth_ > 0) return;
  // Destroying payloads and freeing nodes runs no user code, so nothing can be retired
  // while this loop runs.
  std::vector<Retired> retired;
  retired.swap(retired_);
  for (const Retired& r : retired) {
    r.destroy(NodeAt(r.index).payload);
    NodeAt(r.index).dead = 0;
    FreeNode(r.head, r.index);
  }
}
