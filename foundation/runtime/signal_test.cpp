#include "foundation/runtime/signal.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// Records every call in a shared log as "<name>:<argument>".
struct Recorder : HasSlots {
  Recorder(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  void On0() { log->push_back(name); }
  void OnInt(int v) { log->push_back(name + ":" + std::to_string(v)); }
  void On4(int a, double b, const char* c, bool d) {
    log->push_back(name + ":" + std::to_string(a) + "," + std::to_string(static_cast<int>(b)) +
                   "," + c + "," + (d ? "t" : "f"));
  }
  std::string name;
  std::vector<std::string>* log;
};

using Log = std::vector<std::string>;

// The records by argument count fit a pool node and derive from their emit interface.
static_assert(std::is_base_of_v<_connection_base0, _connection0<Recorder>>);
static_assert(std::is_base_of_v<_connection_base1<int>, _connection1<Recorder, int>>);
static_assert(sizeof(_connection4<Recorder, int, double, const char*, bool>) <=
              ConnectionPool::kPayloadSize);

TEST(SignalTest, CallsNewestConnectionFirstWithArguments) {
  Log log;
  Recorder p("P", &log), q("Q", &log), r("R", &log);
  Signal1<int> signal;
  signal.Connect(&p, &Recorder::OnInt);
  signal.Connect(&q, &Recorder::OnInt);
  signal.Connect(&r, &Recorder::OnInt);
  signal.Connect(&p, &Recorder::OnInt);  // duplicates are called twice
  signal.Emit(7);
  EXPECT_EQ(log, (Log{"P:7", "R:7", "Q:7", "P:7"}));

  log.clear();
  Signal4<int, double, const char*, bool> four;
  Signal0 zero;
  four.Connect(&q, &Recorder::On4);
  zero.Connect(&r, &Recorder::On0);
  four(1, 2.0, "x", true);
  zero();
  EXPECT_EQ(log, (Log{"Q:1,2,x,t", "R"}));
}

TEST(SignalTest, DestroyingEitherEndDisconnects) {
  Log log;
  Signal1<int> a, b;
  Recorder keep("K", &log);
  {
    Recorder gone("G", &log);
    a.Connect(&gone, &Recorder::OnInt);
    b.Connect(&gone, &Recorder::OnInt);
    a.Connect(&keep, &Recorder::OnInt);
  }
  a.Emit(1);
  b.Emit(2);
  EXPECT_EQ(log, (Log{"K:1"}));
  EXPECT_FALSE(b.IsConnected());

  // A destroyed signal leaves no back-reference in its receivers: destroying the
  // receiver afterwards must not touch the dead signal (ASan would report it).
  auto receiver = std::make_unique<Recorder>("R", &log);
  {
    Signal0 temporary;
    temporary.Connect(receiver.get(), &Recorder::On0);
    a.Connect(receiver.get(), &Recorder::OnInt);
  }
  receiver.reset();
  log.clear();
  a.Emit(3);
  EXPECT_EQ(log, (Log{"K:3"}));
}

TEST(SignalTest, ExplicitDisconnectRemovesBothSides) {
  Log log;
  Recorder r("R", &log), s("S", &log);
  auto signal = std::make_unique<Signal1<int>>();
  signal->Connect(&r, &Recorder::OnInt);
  signal->Connect(&s, &Recorder::OnInt);
  signal->Connect(&r, &Recorder::OnInt);
  signal->Disconnect(&r);
  signal->Emit(1);
  EXPECT_EQ(log, (Log{"S:1"}));
  signal.reset();
  // r must hold no stale reference to the destroyed signal.
  r.DisconnectAll();
  SUCCEED();
}

// A receiver whose slot runs an arbitrary action during emit.
struct Actor : HasSlots {
  Actor(std::string n, Log* l) : name(std::move(n)), log(l) {}
  void Slot() {
    log->push_back(name);
    if (action) action();
  }
  std::string name;
  Log* log;
  std::function<void()> action;
};

TEST(SignalTest, SlotsMayChangeConnectionsDuringEmit) {
  struct Case {
    const char* what;
    // Builds the scenario on signal with actors a (oldest), b, c (newest, called first).
    std::function<void(Signal0&, Actor&, Actor&, Actor&, Actor&)> setup;
    Log first_emit;
    Log second_emit;
  };
  const std::vector<Case> cases = {
      {"slot disconnects itself",
       [](Signal0& s, Actor&, Actor& b, Actor&, Actor&) { b.action = [&] { s.Disconnect(&b); }; },
       {"C", "B", "A"},
       {"C", "A"}},
      {"slot disconnects its successor",
       [](Signal0& s, Actor&, Actor& b, Actor& c, Actor&) { c.action = [&] { s.Disconnect(&b); }; },
       {"C", "A"},
       {"C", "A"}},
      {"slot disconnects itself and its successor, then connects",
       [](Signal0& s, Actor& a, Actor& b, Actor&, Actor& d) {
         b.action = [&] {
           s.Disconnect(&b);
           s.Disconnect(&a);
           s.Connect(&d, &Actor::Slot);
           b.action = nullptr;
         };
       },
       {"C", "B"},
       {"D", "C"}},
      {"connection made during emit is not called by it",
       [](Signal0& s, Actor&, Actor&, Actor& c, Actor& d) {
         c.action = [&] {
           s.Connect(&d, &Actor::Slot);
           c.action = nullptr;
         };
       },
       {"C", "B", "A"},
       {"D", "C", "B", "A"}},
      {"slot connects so many that the pool grows during emit",
       [](Signal0& s, Actor&, Actor&, Actor& c, Actor& d) {
         c.action = [&] {
           for (int i = 0; i < 64; ++i) s.Connect(&d, &Actor::Slot);
           c.action = nullptr;
         };
       },
       {"C", "B", "A"},
       [] {
         Log log(64, "D");
         log.insert(log.end(), {"C", "B", "A"});
         return log;
       }()},
      {"slot disconnects everything",
       [](Signal0& s, Actor&, Actor& b, Actor&, Actor&) { b.action = [&] { s.DisconnectAll(); }; },
       {"C", "B"},
       {}},
      {"slot destroys a later receiver's connections via DisconnectAll",
       [](Signal0&, Actor& a, Actor&, Actor& c, Actor&) { c.action = [&] { a.DisconnectAll(); }; },
       {"C", "B"},
       {"C", "B"}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    Log log;
    Actor a("A", &log), b("B", &log), c("C", &log), d("D", &log);
    Signal0 signal;
    signal.Connect(&a, &Actor::Slot);
    signal.Connect(&b, &Actor::Slot);
    signal.Connect(&c, &Actor::Slot);
    t.setup(signal, a, b, c, d);
    signal.Emit();
    EXPECT_EQ(log, t.first_emit);
    log.clear();
    signal.Emit();
    EXPECT_EQ(log, t.second_emit);
  }
}

TEST(SignalTest, SlotMayDestroyTheEmittingSignalAndReceivers) {
  Log log;
  Actor a("A", &log), b("B", &log);
  auto signal = std::make_unique<Signal0>();
  auto doomed = std::make_unique<Actor>("D", &log);
  signal->Connect(&a, &Actor::Slot);
  signal->Connect(doomed.get(), &Actor::Slot);
  signal->Connect(&b, &Actor::Slot);
  b.action = [&] {
    doomed.reset();
    signal.reset();
  };
  signal->Emit();
  EXPECT_EQ(log, (Log{"B"}));
  EXPECT_EQ(signal, nullptr);
  // The receivers hold no back-reference to the dead signal.
  a.DisconnectAll();
  b.DisconnectAll();
}

TEST(SignalTest, NestedEmitsFreeRetiredNodesAtTheOutermostEnd) {
  ConnectionPool& pool = ConnectionPool::Instance();
  Log log;
  Actor outer_actor("O", &log), inner_actor("I", &log);
  Signal0 outer, inner;
  outer.Connect(&outer_actor, &Actor::Slot);
  inner.Connect(&inner_actor, &Actor::Slot);
  uint32_t free_before = 0;
  inner_actor.action = [&] {
    inner.Disconnect(&inner_actor);
    free_before = pool.free_count();
  };
  outer_actor.action = [&] {
    inner.Emit();
    // The inner emit ended inside the outer one: its node is still held back.
    EXPECT_EQ(pool.free_count(), free_before);
  };
  uint32_t free_at_start = pool.free_count();
  outer.Emit();
  EXPECT_EQ(log, (Log{"O", "I"}));
  // Back-reference freed at once, the connection node after the outer emit.
  EXPECT_EQ(pool.free_count(), free_at_start + 2);
}

TEST(ConnectionPoolTest, GrowsByDoublingAndKeepsIndices) {
  ConnectionPool pool;
  uint32_t head = 0;
  // Nodes fit while node_count * node size + one more node stay within the capacity.
  const uint32_t fitting = ConnectionPool::kInitialCapacity / ConnectionPool::kNodeSize - 1;
  std::vector<uint32_t> indices;
  for (uint32_t i = 0; i < fitting; ++i) {
    *static_cast<uint32_t*>(pool.AllocNode(&head, 4)) = 1000 + i;
    indices.push_back(head);
  }
  EXPECT_EQ(pool.capacity(), 1024u);
  EXPECT_EQ(pool.node_count(), fitting + 1);
  *static_cast<uint32_t*>(pool.AllocNode(&head, 4)) = 1000 + fitting;
  indices.push_back(head);
  EXPECT_EQ(pool.capacity(), 2048u);
  for (uint32_t i = 0; i < indices.size(); ++i) {
    EXPECT_EQ(indices[i], i + 1);
    EXPECT_EQ(*static_cast<uint32_t*>(pool.Payload(indices[i])), 1000 + i);
  }
  // The list is newest first.
  uint32_t expected = static_cast<uint32_t>(indices.size());
  for (uint32_t index = head; index != 0; index = pool.Next(index)) EXPECT_EQ(index, expected--);
  EXPECT_EQ(expected, 0u);
}

TEST(ConnectionPoolTest, FreedIndicesAreReusedLastFirstAndSurviveGrowth) {
  ConnectionPool pool;
  uint32_t head = 0;
  const uint32_t fitting = ConnectionPool::kInitialCapacity / ConnectionPool::kNodeSize - 1;
  for (uint32_t i = 0; i < fitting; ++i) pool.AllocNode(&head, 8);
  pool.FreeNode(&head, 0);            // ignored
  pool.FreeNode(&head, fitting + 1);  // never handed out: ignored
  EXPECT_EQ(pool.free_count(), 0u);
  // Free nodes (the head among them) until the stack at the array's end forces growth.
  const size_t stack_room =
      (ConnectionPool::kInitialCapacity - (fitting + 1) * ConnectionPool::kNodeSize) / 4;
  std::vector<uint32_t> freed;
  for (uint32_t index = fitting; freed.size() <= stack_room; index -= 2) {
    pool.FreeNode(&head, index);
    freed.push_back(index);
  }
  EXPECT_EQ(head, fitting - 1);
  EXPECT_EQ(pool.capacity(), 2048u);
  EXPECT_EQ(pool.free_count(), freed.size());
  for (auto it = freed.rbegin(); it != freed.rend(); ++it) {
    pool.AllocNode(&head, 8);
    EXPECT_EQ(head, *it);
  }
  EXPECT_EQ(pool.free_count(), 0u);
  uint32_t count = 0;
  for (uint32_t index = head; index != 0; index = pool.Next(index)) ++count;
  EXPECT_EQ(count, fitting);
}

TEST(ConnectionPoolDeathTest, OversizedPayloadIsFatal) {
  ConnectionPool pool;
  uint32_t head = 0;
  const size_t size = ConnectionPool::kPayloadSize + 1;
  const std::string expected = "Data storage size \\(" +
                               std::to_string(ConnectionPool::kPayloadSize / 4) +
                               "\\) too small \\(required " + std::to_string((size + 3) / 4);
  EXPECT_DEATH(pool.AllocNode(&head, size), expected);
}

}  // namespace
