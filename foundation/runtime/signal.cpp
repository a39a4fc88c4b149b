#include "foundation/runtime/signal.h"

namespace {

// Payload of a back-reference node: the signal the receiver is connected to.
_signal_base* BackReferenceAt(ConnectionPool& pool, uint32_t index) {
  return *static_cast<_signal_base**>(pool.Payload(index));
}

_connection_base* RecordAt(ConnectionPool& pool, uint32_t index) {
  return static_cast<_connection_base*>(pool.Payload(index));
}

}  // namespace

_signal_base::~_signal_base() {
  DisconnectAll();
  // Nodes still retired by a running emit must not write to this head later.
  ConnectionPool::Instance().ForgetHead(&head_);
}

void _signal_base::DestroyRecord(void* payload) {
  static_cast<_connection_base*>(payload)->~_connection_base();
}

void _signal_base::AddBackReference(HasSlots* receiver) {
  ConnectionPool& pool = ConnectionPool::Instance();
  void* payload = pool.AllocNode(&receiver->head_, sizeof(_signal_base*));
  *static_cast<_signal_base**>(payload) = this;
}

void _signal_base::Disconnect(HasSlots* receiver) {
  if (receiver == nullptr) return;
  ConnectionPool& pool = ConnectionPool::Instance();
  // A freed node keeps its own links, so the walk may read `next` after freeing.
  for (uint32_t index = head_; index != 0; index = pool.Next(index)) {
    if (pool.IsDead(index) || RecordAt(pool, index)->GetDest() != receiver) continue;
    pool.Retire(&head_, index, &DestroyRecord);
  }
  receiver->SignalDisconnect(this);
}

void _signal_base::DisconnectAll() {
  ConnectionPool& pool = ConnectionPool::Instance();
  for (uint32_t index = head_; index != 0; index = pool.Next(index)) {
    if (pool.IsDead(index)) continue;
    RecordAt(pool, index)->GetDest()->SignalDisconnect(this);
    pool.Retire(&head_, index, &DestroyRecord);
  }
  if (pool.Emitting() && head_ != 0) {
    // Every node left in the list is retired: hand the list over to the pool and start
    // a fresh one, so a connection made after this call is not chained to them.
    pool.ForgetHead(&head_);
    head_ = 0;
  }
}

HasSlots::~HasSlots() {
  DisconnectAll();
}

void HasSlots::DisconnectAll() {
  ConnectionPool& pool = ConnectionPool::Instance();
  while (head_ != 0) {
    uint32_t index = head_;
    // Removes the connections and every back-reference to that signal, this one too.
    BackReferenceAt(pool, index)->Disconnect(this);
    if (head_ == index) pool.FreeNode(&head_, index);
  }
}

void HasSlots::SignalDisconnect(_signal_base* sender) {
  ConnectionPool& pool = ConnectionPool::Instance();
  for (uint32_t index = head_; index != 0; index = pool.Next(index)) {
    if (BackReferenceAt(pool, index) == sender) pool.FreeNode(&head_, index);
  }
}
