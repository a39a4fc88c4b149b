// LockArray: the table of cache keys being decoded, so that a thread asking for a frame
// another thread is decoding waits for that decode instead of repeating it.
//
//   decoder:  node = Lock(key) ... decode ... Unlock(key, node)
//   reader:   while (entry is loading) Wait(key)
//
// Unlocking a key takes its node out of the active list at once (under the table's spin
// lock), so a waiter either registered before the unlock and is woken by it, or finds no
// node and returns at once: no wake-up is lost. Nodes are recycled (each keeps its
// semaphore) and freed only with the table. Safe from any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/runtime/spin_lock.h"
#include "platform/semaphore.h"

class LockArray {
 public:
  struct Node {
    Node* prev = nullptr;
    Node* next = nullptr;
    platform::Semaphore semaphore{0, 0x40000000};
    uint32_t key = kFreeKey;
    int32_t waiters = 0;
    bool active = false;
  };
  static constexpr uint32_t kFreeKey = 0xFFFFFFFFu;

  LockArray() = default;
  ~LockArray();
  LockArray(const LockArray&) = delete;
  LockArray& operator=(const LockArray&) = delete;

  // Registers key as being decoded; returns its node for Unlock. May throw std::bad_alloc.
  Node* Lock(uint32_t key);
  // Waits until the newest active registration of key is unlocked; returns at once when
  // key is not registered.
  void Wait(uint32_t key);
  // Ends the registration `node` (or, when node is null, the newest active one of key) and
  // wakes its waiters. An unknown key (or a node that is not an active registration of key)
  // logs "LockArray::Unlock try to unlock non-existent lock %lu" at level 2.
  void Unlock(uint32_t key, Node* node = nullptr);

  // Snapshots for tests: active registrations and nodes ever made.
  int ActiveCount();
  int NodeCount();

 private:
  Node* FindActive(uint32_t key) const;
  void Detach(Node* node);  // from the active list
  void PushFree(Node* node);

  js::SpinLock lock_;
  Node* active_ = nullptr;
  Node* free_ = nullptr;
  std::vector<Node*> all_;  // every node made, for the destructor
};
