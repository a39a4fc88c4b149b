#include "image/lock_array.h"

#include <mutex>

#include "foundation/runtime/notify.h"

LockArray::~LockArray() {
  for (Node* node : all_) delete node;
}

LockArray::Node* LockArray::FindActive(uint32_t key) const {
  for (Node* n = active_; n; n = n->next) {
    if (n->key == key) return n;
  }
  return nullptr;
}

void LockArray::Detach(Node* node) {
  if (node->prev) {
    node->prev->next = node->next;
  } else {
    active_ = node->next;
  }
  if (node->next) node->next->prev = node->prev;
  node->prev = node->next = nullptr;
  node->active = false;
}

void LockArray::PushFree(Node* node) {
  node->key = kFreeKey;
  node->prev = nullptr;
  node->next = free_;
  free_ = node;
}

LockArray::Node* LockArray::Lock(uint32_t key) {
  Node* node = nullptr;
  {
    std::lock_guard<js::SpinLock> guard(lock_);
    if (free_) {
      node = free_;
      free_ = node->next;
    }
  }
  if (!node) {
    // Made outside the spin lock: allocation may take long.
    node = new Node;
    std::lock_guard<js::SpinLock> guard(lock_);
    try {
      all_.push_back(node);
    } catch (...) {
      delete node;
      throw;
    }
  }
  std::lock_guard<js::SpinLock> guard(lock_);
  node->key = key;
  node->waiters = 0;
  node->active = true;
  node->prev = nullptr;
  node->next = active_;
  if (active_) active_->prev = node;
  active_ = node;
  return node;
}

void LockArray::Wait(uint32_t key) {
  Node* node;
  {
    std::lock_guard<js::SpinLock> guard(lock_);
    node = FindActive(key);
    if (!node) return;
    ++node->waiters;
  }
  node->semaphore.Wait();
  std::lock_guard<js::SpinLock> guard(lock_);
  if (--node->waiters == 0 && !node->active) PushFree(node);
}

void LockArray::Unlock(uint32_t key, Node* node) {
  int32_t waiters;
  {
    std::lock_guard<js::SpinLock> guard(lock_);
    if (node) {
      if (!node->active || node->key != key) node = nullptr;
    } else {
      node = FindActive(key);
    }
    if (node) {
      Detach(node);
      waiters = node->waiters;
      if (waiters == 0) PushFree(node);
    }
  }
  if (!node) {
    Notify(2, "LockArray::Unlock try to unlock non-existent lock %lu",
           static_cast<unsigned long>(key));
    return;
  }
  // Every registered waiter wakes; the last one to leave recycles the node.
  if (waiters > 0) node->semaphore.Release(waiters);
}

int LockArray::ActiveCount() {
  std::lock_guard<js::SpinLock> guard(lock_);
  int n = 0;
  for (Node* p = active_; p; p = p->next) ++n;
  return n;
}

int LockArray::NodeCount() {
  std::lock_guard<js::SpinLock> guard(lock_);
  return static_cast<int>(all_.size());
}
