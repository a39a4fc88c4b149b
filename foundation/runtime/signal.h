#pragma once

// The system's own signal/slot classes for model-to-view notifications.
//
// A signal (Signal0 ... Signal4) is a member of the sender; a receiver derives from
// HasSlots. Connect(receiver, &Receiver::Method) makes a connection record that calls the
// member function on every Emit; destroying either side disconnects. Connection records
// and the receivers' back-references live in the ConnectionPool.
//
// Emit calls the connections newest first. A connection made during an emit is not
// called by that emit. Slots may disconnect themselves or any other connection, connect
// new ones, and destroy receivers or the emitting signal itself while an emit runs:
// released connections are skipped at once and their nodes are freed when the outermost
// emit ends.
//
// GUI thread only: nothing here is synchronised. Copying a signal or a receiver gives an
// unconnected one; assignment keeps the target's own connections.

#include <cstdint>
#include <new>

#include "foundation/runtime/connection_pool.h"

class HasSlots;

// Common base of all connection records.
class _connection_base {
 public:
  virtual ~_connection_base() = default;
  virtual HasSlots* GetDest() const = 0;
};

// Connection records by argument list (_connection_base0 ... _connection_base4).
template <class... Args>
class _connection_baseN : public _connection_base {
 public:
  virtual void Emit(Args... args) = 0;
};

// A receiver object and one of its member functions.
template <class T, class... Args>
class _connection final : public _connection_baseN<Args...> {
 public:
  using Method = void (T::*)(Args...);
  _connection(T* object, Method method) : object_(object), method_(method) {}
  HasSlots* GetDest() const override { return object_; }
  void Emit(Args... args) override { (object_->*method_)(args...); }

 private:
  T* object_;
  Method method_;
};

using _connection_base0 = _connection_baseN<>;
template <class A1>
using _connection_base1 = _connection_baseN<A1>;
template <class A1, class A2>
using _connection_base2 = _connection_baseN<A1, A2>;
template <class A1, class A2, class A3>
using _connection_base3 = _connection_baseN<A1, A2, A3>;
template <class A1, class A2, class A3, class A4>
using _connection_base4 = _connection_baseN<A1, A2, A3, A4>;

// Connection records by argument count (_connection0 ... _connection4).
template <class T>
using _connection0 = _connection<T>;
template <class T, class A1>
using _connection1 = _connection<T, A1>;
template <class T, class A1, class A2>
using _connection2 = _connection<T, A1, A2>;
template <class T, class A1, class A2, class A3>
using _connection3 = _connection<T, A1, A2, A3>;
template <class T, class A1, class A2, class A3, class A4>
using _connection4 = _connection<T, A1, A2, A3, A4>;

class _signal_base {
 public:
  _signal_base() = default;
  _signal_base(const _signal_base&) {}
  _signal_base& operator=(const _signal_base&) { return *this; }
  virtual ~_signal_base();

  // Removes every connection of this signal to `receiver` (each one, when the pair was
  // connected more than once) and the receiver's back-references to this signal.
  virtual void Disconnect(HasSlots* receiver);

  // Removes every connection of this signal.
  void DisconnectAll();

  bool IsConnected() const { return head_ != 0; }

 protected:
  // Records the back-reference of a new connection in the receiver.
  void AddBackReference(HasSlots* receiver);

  uint32_t head_ = 0;  // first node of the connection list; 0 = none

 private:
  static void DestroyRecord(void* payload);
};

class HasSlots {
 public:
  HasSlots() = default;
  HasSlots(const HasSlots&) {}
  HasSlots& operator=(const HasSlots&) { return *this; }
  virtual ~HasSlots();

  // Disconnects this receiver from every signal.
  void DisconnectAll();

 private:
  friend class _signal_base;
  // Drops every back-reference to `sender`.
  void SignalDisconnect(_signal_base* sender);

  uint32_t head_ = 0;  // first node of the back-reference list; 0 = none
};

template <class... Args>
class Signal : public _signal_base {
 public:
  // Connects `method` of `receiver` (a HasSlots). The same pair may be connected more
  // than once; each connection is called.
  template <class T>
  void Connect(T* receiver, void (T::*method)(Args...)) {
    static_assert(sizeof(_connection<T, Args...>) <= ConnectionPool::kPayloadSize,
                  "connection record does not fit LL_DATA_SIZE");
    ConnectionPool& pool = ConnectionPool::Instance();
    void* payload = pool.AllocNode(&head_, sizeof(_connection<T, Args...>));
    new (payload) _connection<T, Args...>(receiver, method);
    AddBackReference(receiver);
  }

  void Emit(Args... args) {
    ConnectionPool& pool = ConnectionPool::Instance();
    EmitScope scope(pool);
    // Only pool nodes are touched after a slot returned: a slot may destroy this signal.
    for (uint32_t index = head_; index != 0; index = pool.Next(index)) {
      if (pool.IsDead(index)) continue;
      auto* record = static_cast<_connection_baseN<Args...>*>(
          static_cast<_connection_base*>(pool.Payload(index)));
      record->Emit(args...);
    }
  }

  void operator()(Args... args) { Emit(args...); }

 private:
  struct EmitScope {
    explicit EmitScope(ConnectionPool& p) : pool(p) { pool.BeginEmit(); }
    ~EmitScope() { pool.EndEmit(); }
    ConnectionPool& pool;
  };
};

using Signal0 = Signal<>;
template <class A1>
using Signal1 = Signal<A1>;
template <class A1, class A2>
using Signal2 = Signal<A1, A2>;
template <class A1, class A2, class A3>
using Signal3 = Signal<A1, A2, A3>;
template <class A1, class A2, class A3, class A4>
using Signal4 = Signal<A1, A2, A3, A4>;
