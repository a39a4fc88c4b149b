#include "foundation/runtime/uid_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Item : UIDBase {
  explicit Item(uint16_t type = 1, uint16_t flags = 0) : UIDBase(type, flags) {}
  using UIDBase::SetUIDFlags;
};

UIDRegistry& Registry() {
  return UIDRegistry::Instance();
}

// The process-wide registry is shared by all tests of this program, so the tests work
// with ids relative to what they create and clean up after themselves.

TEST(UIDRegistryTest, FreedIdsAreReusedLastFirst) {
  // Ids freed by earlier tests of this program are handed out first: take them up,
  // so that a, b and c get new ids.
  std::vector<std::unique_ptr<Item>> earlier(1000);
  for (auto& item : earlier) item = std::make_unique<Item>();
  auto a = std::make_unique<Item>();
  auto b = std::make_unique<Item>();
  auto c = std::make_unique<Item>();
  const int32_t id_b = b->GetUID(), id_c = c->GetUID();
  EXPECT_NE(a->GetUID(), 0);
  EXPECT_EQ(id_b, a->GetUID() + 1);
  EXPECT_EQ(id_c, a->GetUID() + 2);
  EXPECT_EQ(Registry().GetObject(id_b), b.get());
  b.reset();
  EXPECT_EQ(Registry().GetObject(id_b), nullptr);
  c.reset();
  Item d, e;
  EXPECT_EQ(d.GetUID(), id_c);
  EXPECT_EQ(e.GetUID(), id_b);
  EXPECT_EQ(Registry().GetObject(0), nullptr);
  EXPECT_EQ(Registry().GetObject(-3), nullptr);
  EXPECT_EQ(Registry().GetObject(1 << 30), nullptr);
}

TEST(UIDRegistryTest, SecondUnregisterIsIgnored) {
  int32_t freed;
  {
    Item gone;
    freed = gone.GetUID();
  }
  Registry().Unregister(freed);  // again: must not stack the id twice
  Item first, second;
  EXPECT_EQ(first.GetUID(), freed);
  EXPECT_NE(second.GetUID(), freed);
}

TEST(UIDRegistryTest, CopyGetsNewIdWithNameAndFlags) {
  Item source(2);
  Registry().SetName(source.GetUID(), "Anchor");
  Registry().SetSelected(source.GetUID(), true);
  Item copy(source);
  EXPECT_NE(copy.GetUID(), source.GetUID());
  EXPECT_EQ(copy.GetUIDType(), 2);
  ASSERT_NE(Registry().GetName(copy.GetUID()), nullptr);
  EXPECT_STREQ(Registry().GetName(copy.GetUID()), "Anchor");
  EXPECT_TRUE(copy.GetUIDFlags() & UID_FLAG_SELECTED);
  // The selection itself does not receive the copy.
  std::vector<UIDBase*> selected;
  Registry().CollectSelected(selected, 2, 2);
  EXPECT_EQ(selected, (std::vector<UIDBase*>{&source}));
  // Assignment keeps identity.
  Item target(2);
  const int32_t target_id = target.GetUID();
  target = source;
  EXPECT_EQ(target.GetUID(), target_id);
  EXPECT_FALSE(target.GetUIDFlags() & UID_FLAG_SELECTED);
  Registry().SetSelected(source.GetUID(), false);
  EXPECT_TRUE(source.IsSceneObject() == false && Item(12).IsSceneObject() &&
              Item(23).IsSceneObject() && !Item(24).IsSceneObject());
}

TEST(UIDRegistryTest, Selection) {
  Item point2d(1), builtin(5), locked(7, UID_FLAG_LOCKED), user(12), vertex(24);
  EXPECT_FALSE(Registry().AnySelected());
  EXPECT_EQ(Registry().SelectTypeRange(true, 5, 23), 2);
  EXPECT_TRUE(Registry().IsSelected(builtin.GetUID()));
  EXPECT_TRUE(Registry().IsSelected(user.GetUID()));
  EXPECT_FALSE(Registry().IsSelected(locked.GetUID()));
  EXPECT_FALSE(Registry().IsSelected(point2d.GetUID()));
  EXPECT_TRUE(Registry().AnySelected());

  // SetSelected ignores the locked flag; ids without an object are ignored.
  Registry().SetSelected(locked.GetUID(), true);
  Registry().SetSelected(1 << 30, true);
  Registry().SetSelected(vertex.GetUID(), true);

  // Ascending ids, filtered by type; entries already in the vector lose the mark too.
  std::vector<UIDBase*> out{&point2d};
  EXPECT_EQ(Registry().CollectSelected(out, 5, 23), 3);
  std::vector<UIDBase*> expected{&builtin, &locked, &user};
  std::sort(expected.begin(), expected.end(),
            [](UIDBase* a, UIDBase* b) { return a->GetUID() < b->GetUID(); });
  expected.insert(expected.begin(), &point2d);
  EXPECT_EQ(out, expected);
  for (UIDBase* object : out) EXPECT_FALSE(object->GetUIDFlags() & UID_FLAG_MARK);

  // Derived classes change their other flags; the selected bit stays the registry's.
  user.SetUIDFlags(UID_FLAG_HIDDEN);
  EXPECT_EQ(user.GetUIDFlags(), UID_FLAG_HIDDEN | UID_FLAG_SELECTED);

  EXPECT_EQ(Registry().SelectTypeRange(false, 0, 0xffff), 4);  // all but the locked one
  EXPECT_TRUE(Registry().IsSelected(locked.GetUID()));
  Registry().SetSelected(locked.GetUID(), false);
  EXPECT_FALSE(Registry().AnySelected());
  out.clear();
  EXPECT_EQ(Registry().CollectSelected(out, 0, 0xffff), 0);
  EXPECT_TRUE(out.empty());

  // An unregistered object leaves the selection.
  int32_t gone_id;
  {
    Item gone(12);
    gone_id = gone.GetUID();
    Registry().SetSelected(gone_id, true);
  }
  EXPECT_FALSE(Registry().IsSelected(gone_id));
  EXPECT_EQ(Registry().CollectSelected(out, 0, 0xffff), 0);
}

TEST(UIDRegistryTest, NamesKeepTheirText) {
  Item item;
  const int32_t id = item.GetUID();
  EXPECT_EQ(Registry().GetName(id), nullptr);
  for (size_t length : {0u, 1u, 31u, 32u, 300u}) {
    const std::string name(length, 'n');
    Registry().SetName(id, name.c_str());
    ASSERT_NE(Registry().GetName(id), nullptr);
    EXPECT_EQ(Registry().GetName(id), name);
  }
  Registry().SetName(id, nullptr);
  EXPECT_EQ(Registry().GetName(id), nullptr);
  // Names of free ids are not kept for the next owner of the id.
  int32_t freed;
  {
    Item gone;
    freed = gone.GetUID();
    Registry().SetName(freed, "old");
  }
  Registry().SetName(freed, "stale");
  Item next;
  EXPECT_EQ(next.GetUID(), freed);
  EXPECT_EQ(Registry().GetName(freed), nullptr);
}

TEST(UIDRegistryTest, UniqueNamesCountPastTheLargestNumber) {
  struct Case {
    std::vector<const char*> existing;
    const char* prefix;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {{}, "Cube_", "Cube_0"},
      {{"Cube_0"}, "Cube_", "Cube_1"},
      {{"Plane_3", "Plane_10"}, "Plane_", "Plane_11"},
      {{"Cube_", "Cube_7a", "Cuboid_9"}, "Cube_", "Cube_0"},
      {{"Cube_007"}, "Cube_", "Cube_8"},
      {{"Cube_214748363"}, "Cube_", "Cube_214748364"},
      {{"Cube_2147483640"}, "Cube_", "Cube_0"},  // too large a number does not count
      {{"Sphere_5", "Cube_2"}, "Sphere_", "Sphere_6"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.expected);
    std::vector<std::unique_ptr<Item>> named;
    for (const char* name : t.existing) {
      named.push_back(std::make_unique<Item>(12));
      Registry().SetName(named.back()->GetUID(), name);
    }
    Item fresh(12);
    Registry().SetUniqueName(fresh.GetUID(), t.prefix);
    ASSERT_NE(Registry().GetName(fresh.GetUID()), nullptr);
    EXPECT_STREQ(Registry().GetName(fresh.GetUID()), t.expected);
  }
  // The id being named takes part: naming it again counts past its own number.
  Item self(12);
  Registry().SetName(self.GetUID(), "Cone_4");
  Registry().SetUniqueName(self.GetUID(), "Cone_");
  EXPECT_STREQ(Registry().GetName(self.GetUID()), "Cone_5");
}

TEST(UIDRegistryTest, ConcurrentRegisterAndLookup) {
  // One thread creates and destroys objects (growing the table far past its reserve)
  // while another looks ids up and reads names.
  std::atomic<bool> done{false};
  std::atomic<int32_t> highest{1};
  std::thread reader([&] {
    while (!done.load()) {
      int32_t top = highest.load();
      for (int32_t id = 1; id <= top; id += 7) {
        UIDBase* object = Registry().GetObject(id);
        (void)object;
        (void)Registry().IsSelected(id);
        (void)Registry().GetName(id);
      }
    }
  });
  for (int round = 0; round < 4; ++round) {
    std::vector<std::unique_ptr<Item>> items;
    for (int i = 0; i < 5000; ++i) {
      items.push_back(std::make_unique<Item>());
      highest.store(items.back()->GetUID());
    }
    items.resize(100);
  }
  done.store(true);
  reader.join();
}

}  // namespace
