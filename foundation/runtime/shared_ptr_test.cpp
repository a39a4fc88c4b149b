#include "foundation/runtime/shared_ptr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_events;

struct Tracked : SharedBlockMarker {
  explicit Tracked(std::string n) : name(std::move(n)) { g_events.push_back("make " + name); }
  ~Tracked() { g_events.push_back("drop " + name); }
  std::string name;
};

class SharedPtrTest : public ::testing::Test {
 protected:
  void SetUp() override { g_events.clear(); }
};

TEST_F(SharedPtrTest, AllocatingOverTheSoleReferenceDropsTheOldPayloadAfterTheNew) {
  SharedPtr<Tracked> h = SharedPtr<Tracked>::Make("a");
  Tracked* fresh = h.Allocate("b");
  EXPECT_EQ(h.Get(), fresh);
  EXPECT_EQ(h.RefCount(), 1);
  EXPECT_EQ(g_events, (std::vector<std::string>{"make a", "make b", "drop a"}));
}

TEST_F(SharedPtrTest, CountsFollowCopiesAssignmentsAndReleases) {
  SharedPtr<Tracked> a = SharedPtr<Tracked>::Make("x");
  SharedPtr<Tracked>& alias = a;
  a = alias;  // self-assignment
  EXPECT_EQ(a.RefCount(), 1);

  SharedPtr<Tracked> b = a;
  EXPECT_EQ(a.RefCount(), 2);
  SharedPtr<Tracked> c;
  c = b;
  EXPECT_EQ(a.RefCount(), 3);
  SharedPtr<Tracked> moved = std::move(c);
  EXPECT_FALSE(c);
  EXPECT_EQ(a.RefCount(), 3);

  b.Release();
  EXPECT_FALSE(b);
  moved = nullptr;
  EXPECT_EQ(a.RefCount(), 1);
  EXPECT_EQ(g_events.size(), 1u);
  a.Release();
  EXPECT_EQ(g_events, (std::vector<std::string>{"make x", "drop x"}));
}

struct Small : SharedBlockMarker {
  int v = 0;
};
struct Bigger : Small {
  int more[8] = {};
};

TEST_F(SharedPtrTest, PlainPointerGivesAHandleOnlyForSharedBlocksOfItsOwnSize) {
  SharedPtr<Tracked> shared = SharedPtr<Tracked>::Make("s");
  SharedPtr<Tracked> again = SharedPtr<Tracked>::FromPlainPointer(shared.Get());
  EXPECT_EQ(again, shared);
  EXPECT_EQ(shared.RefCount(), 2);

  Tracked local("local");
  EXPECT_FALSE(SharedPtr<Tracked>::FromPlainPointer(&local));
  Tracked copy(*shared);  // a copy of a shared object is not shared
  EXPECT_FALSE(SharedPtr<Tracked>::FromPlainPointer(&copy));
  EXPECT_FALSE(SharedPtr<Tracked>::FromPlainPointer(nullptr));

  // A block allocated for a larger type, seen through its base class.
  SharedPtr<Bigger> bigger = SharedPtr<Bigger>::Make();
  EXPECT_FALSE(SharedPtr<Small>::FromPlainPointer(bigger.Get()));
  EXPECT_EQ(bigger.RefCount(), 1);
}

struct Pixels {
  std::int32_t width;
  std::int32_t height;
};

TEST_F(SharedPtrTest, ExtraBytesFollowThePayloadAndAreNotCounted) {
  SharedPtr<Pixels> p = SharedPtr<Pixels>::MakeExtra(1000, Pixels{10, 100});
  EXPECT_EQ(p.PayloadSize(), static_cast<std::int32_t>(sizeof(Pixels)));
  EXPECT_EQ(p.ExtraBytes(), reinterpret_cast<char*>(p.Get()) + sizeof(Pixels));
  std::memset(p.ExtraBytes(), 7, 1000);  // the sanitizer checks the block is large enough
  EXPECT_EQ(p->height, 100);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p.Get()) % 16, 0u);

  struct alignas(64) Wide {
    double lane[8];
  };
  SharedPtr<Wide> w = SharedPtr<Wide>::Make();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w.Get()) % 64, 0u);
}

struct Named {
  virtual ~Named() { g_events.push_back("~Named"); }
  std::string name = "n";
};
struct Base {
  virtual ~Base() { g_events.push_back("~Base"); }
  int id = 1;
};
struct Both : Named, Base {
  ~Both() override { g_events.push_back("~Both"); }
};

TEST_F(SharedPtrTest, BaseHandlesShareTheCountAndDestroyTheWholeObject) {
  SharedPtr<Both> both = SharedPtr<Both>::Make();
  SharedPtr<Base> base = both;  // Base is not the first base: its address differs
  EXPECT_NE(static_cast<void*>(base.Get()), static_cast<void*>(both.Get()));
  EXPECT_EQ(both.RefCount(), 2);
  SharedPtr<Both> back = SharedPtrDynamicCast<Both>(base);
  EXPECT_EQ(back, both);
  EXPECT_EQ(base.RefCount(), 3);
  EXPECT_FALSE(SharedPtrDynamicCast<Named>(SharedPtr<Base>::Make()));
  g_events.clear();

  both.Release();
  back.Release();
  EXPECT_TRUE(g_events.empty());
  base.Release();
  EXPECT_EQ(g_events, (std::vector<std::string>{"~Both", "~Base", "~Named"}));
}

struct Throws {
  Throws() { throw std::runtime_error("no"); }
};

TEST_F(SharedPtrTest, FailedConstructionLeavesTheHandleAndLeaksNothing) {
  SharedPtr<Tracked> h = SharedPtr<Tracked>::Make("kept");
  SharedPtr<Tracked> other = h;
  EXPECT_THROW(SharedPtr<Throws>::Make(), std::runtime_error);
  EXPECT_EQ(h.RefCount(), 2);
}

TEST_F(SharedPtrTest, HandlesCopiedAndReleasedOnManyThreadsDestroyThePayloadOnce) {
  {
    SharedPtr<Tracked> shared = SharedPtr<Tracked>::Make("t");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([shared] {  // each thread starts with its own copy
        std::vector<SharedPtr<Tracked>> copies;
        for (int i = 0; i < 20000; ++i) {
          copies.push_back(shared);
          if (copies.size() > 16) copies.clear();
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared.RefCount(), 1);
  }
  EXPECT_EQ(g_events, (std::vector<std::string>{"make t", "drop t"}));
}

}  // namespace
