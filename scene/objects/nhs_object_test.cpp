#include "scene/objects/nhs_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scene/objects/nhs_object_scene.h"

namespace {

std::vector<NHSObject*> Children(const NHSObject& node) {
  std::vector<NHSObject*> out;
  for (NHSObject* c = node.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    EXPECT_EQ(c->GetParent(), &node);
    if (!out.empty()) {
      EXPECT_EQ(c->GetPrevSibling(), out.back());
    }
    out.push_back(c);
  }
  return out;
}

Matrix3x4 Make(std::initializer_list<double> values) {
  Matrix3x4 m;
  std::copy(values.begin(), values.end(), m.m);
  return m;
}

void ExpectNear(const double* a, const double* b, int n) {
  for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], b[i], 1e-12) << "element " << i;
}

TEST(NHSObjectTest, ChildrenAreNewestFirstAndUnlinkPromotesTheNext) {
  NHSObject root(NHS_TYPE_SCENE);
  NHSObject* first = root.AddChild(new NHSObject(NHS_TYPE_CUBOID));
  NHSObject* second = root.AddChild(new NHSObject(NHS_TYPE_CONE));
  NHSObject* third = root.AddChild(new NHSObject(NHS_TYPE_SPHERE));
  EXPECT_EQ(Children(root), (std::vector<NHSObject*>{third, second, first}));
  EXPECT_EQ(third->GetPrevSibling(), nullptr);
  EXPECT_EQ(root.CountChildren(), 3);

  struct Case {
    NHSObject* unlinked;
    std::vector<NHSObject*> left;
  };
  // First, middle of what is left, then the only child.
  const Case cases[] = {{third, {second, first}}, {first, {second}}, {second, {}}};
  for (const Case& t : cases) {
    t.unlinked->Unlink();
    EXPECT_EQ(Children(root), t.left);
    EXPECT_EQ(t.unlinked->GetParent(), nullptr);
    EXPECT_EQ(t.unlinked->GetPrevSibling(), nullptr);
    EXPECT_EQ(t.unlinked->GetNextSibling(), nullptr);
    // Unlinked, it can be added again.
    NHSObject other(NHS_TYPE_RECT);
    other.AddChild(t.unlinked);
    t.unlinked->Unlink();
    EXPECT_EQ(other.GetFirstChild(), nullptr);
    delete t.unlinked;
  }
}

TEST(NHSObjectTest, AnUnlinkedNodeOutlivesItsOldNeighbours) {
  // An undo command keeps a deleted object; its old parent and siblings may go first.
  auto* parent = new NHSObject(NHS_TYPE_CUBOID);
  NHSObject* kept = parent->AddChild(new NHSObject(NHS_TYPE_CONE));
  NHSObject* older = parent->AddChild(new NHSObject(NHS_TYPE_RECT));
  kept->AddChild(new NHSObject(NHS_TYPE_SPHERE));
  kept->Unlink();
  EXPECT_EQ(Children(*parent), std::vector<NHSObject*>{older});
  delete parent;
  delete kept;  // must touch neither the freed parent nor the freed sibling
}

TEST(NHSObjectTest, DestroyingAParentFreesEveryDescendantAndItsProperties) {
  auto* parent = new NHSObject(NHS_TYPE_CUBOID);
  NHSObject* child = parent->AddChild(new NHSObject(NHS_TYPE_CONE));
  NHSObject* grandchild = child->AddChild(new NHSObject(NHS_TYPE_SPHERE));
  child->AddChild(new NHSObject(NHS_TYPE_TORUS));
  grandchild->AddProperty(new NHSProperty_Name("leaf"));
  const int32_t ids[] = {parent->GetUID(), child->GetUID(), grandchild->GetUID()};
  UIDRegistry::Instance().SetName(grandchild->GetUID(), "Sphere_0");
  delete parent;
  for (int32_t id : ids) {
    EXPECT_EQ(UIDRegistry::Instance().GetObject(id), nullptr);
    EXPECT_EQ(UIDRegistry::Instance().GetName(id), nullptr);
  }
}

TEST(NHSObjectTest, DestroyingTheSelectedNodeClearsTheScenesSelection) {
  NHSObject_Scene scene;
  NHSObject* group = scene.AddChild(new NHSObject(NHS_TYPE_MESH_ROOT));
  NHSObject* selected = group->AddChild(new NHSObject(NHS_TYPE_TRI_MESH));
  NHSObject* other = scene.AddChild(new NHSObject(NHS_TYPE_CUBOID));

  scene.SelectObject(selected->GetUID());
  delete other;  // not the selected one
  EXPECT_EQ(scene.GetSelectedId(), selected->GetUID());
  delete group;  // reaches the selected node through its parent
  EXPECT_EQ(scene.GetSelectedId(), 0);

  // The scene itself going with a selected child: its own destructor deselects first.
  auto* root = new NHSObject_Scene;
  NHSObject* child = root->AddChild(new NHSObject(NHS_TYPE_CONE));
  root->SelectObject(child->GetUID());
  delete root;
}

TEST(NHSObjectTest, SetSelectedRecursiveReachesEveryDescendant) {
  NHSObject root(NHS_TYPE_MESH_ROOT);
  NHSObject* a = root.AddChild(new NHSObject(NHS_TYPE_TRI_MESH));
  NHSObject* b = a->AddChild(new NHSObject(NHS_TYPE_POLY_MESH));
  for (bool selected : {true, false}) {
    a->SetSelectedRecursive(selected);
    EXPECT_FALSE(UIDRegistry::Instance().IsSelected(root.GetUID()));
    EXPECT_EQ(UIDRegistry::Instance().IsSelected(a->GetUID()), selected);
    EXPECT_EQ(UIDRegistry::Instance().IsSelected(b->GetUID()), selected);
  }
}

TEST(NHSObjectTest, PropertiesAreNewestFirstAndOneNamePerNode) {
  NHSObject node(NHS_TYPE_CUBOID);
  node.AddProperty(new NHSProperty_Name("first"));
  node.AddProperty(new NHSProperty(7));
  node.AddProperty(new NHSProperty_Name("second"));
  EXPECT_EQ(node.CountProperties(), 2);
  EXPECT_EQ(node.GetFirstProperty()->GetKind(), NHSProperty_Name::kKind);
  EXPECT_EQ(node.GetFirstProperty()->GetNext()->GetKind(), 7);
  auto* name = static_cast<NHSProperty_Name*>(node.FindProperty(NHSProperty_Name::kKind));
  EXPECT_STREQ(name->GetName(), "second");
  EXPECT_EQ(node.FindProperty(2), nullptr);

  const std::string long_name(70, 'x');
  const std::pair<const char*, std::string> cases[] = {
      {long_name.c_str(), std::string(63, 'x')}, {nullptr, ""}, {"Cube_0", "Cube_0"}};
  for (const auto& [text, kept] : cases) {
    name->SetName(text);
    EXPECT_EQ(name->GetName(), kept);
  }
}

TEST(NHSObjectTest, Colour) {
  NHSObject node(NHS_TYPE_CUBOID);
  EXPECT_EQ(node.GetColor(), 0xffc0c0c0u);
  EXPECT_EQ(NHSObject(NHS_TYPE_CONE, 0x80102030u).GetColor(), 0x80102030u);
  node.SetColor(ColorRGBA(1.0, 0.5, 0.0, 1.0));
  EXPECT_EQ(node.GetColor(), 0xffff8000u);
}

TEST(NHSObjectTest, GlobalTransform) {
  NHSObject root(NHS_TYPE_SCENE);
  NHSObject* child = root.AddChild(new NHSObject(NHS_TYPE_MESH_ROOT));
  NHSObject* leaf = child->AddChild(new NHSObject(NHS_TYPE_TRI_MESH));
  root.SetTransform(Make({0, -1, 0, 10, 1, 0, 0, 20, 0, 0, 1, 30}));  // 90 degrees about z
  child->SetTransform(Make({2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3}));
  leaf->SetTransform(Make({1, 0, 0, 5, 0, 1, 0, 0, 0, 0, 1, 0}));

  Matrix3x4 out;
  root.GetGlobalTransform(out, true);
  ExpectNear(out.m, root.GetTransform().m, 12);
  child->GetGlobalTransform(out, true);
  ExpectNear(out.m, child->GetTransform().m, 12);

  const Matrix3x4 child_in_root = Make({2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3});
  const Matrix3x4 leaf_in_root = Make({2, 0, 0, 11, 0, 2, 0, 2, 0, 0, 2, 3});
  const Matrix3x4 leaf_in_world = Make({0, -2, 0, 8, 2, 0, 0, 31, 0, 0, 2, 33});
  leaf->GetGlobalTransform(out, true);
  ExpectNear(out.m, leaf_in_root.m, 12);
  leaf->GetGlobalTransform(out, false);
  ExpectNear(out.m, leaf_in_world.m, 12);
  child->GetGlobalTransform(out, false);
  Matrix3x4 expected;
  expected.Multiply(root.GetTransform(), child_in_root);
  ExpectNear(out.m, expected.m, 12);
}

TEST(NHSObjectTest, PreMultiplyReadsTheTopRowsOfA4x4) {
  NHSObject node(NHS_TYPE_CUBOID);
  node.SetTransform(Make({1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3}));
  Matrix4x4 M = {{0, 0, 1, 5, 0, 1, 0, 0, -1, 0, 0, 0, 9, 9, 9, 9}};
  node.PreMultiplyTransform(M);
  const Matrix3x4 expected = Make({0, 0, 1, 8, 0, 1, 0, 2, -1, 0, 0, -1});
  ExpectNear(node.GetTransform().m, expected.m, 12);
}

TEST(NHSObjectTest, NormalizedRotation) {
  const double c = std::cos(0.3), s = std::sin(0.3);
  struct Case {
    const char* what;
    Matrix3x4 transform;
    Matrix3x3 rotation;
  };
  const Case cases[] = {
      {"rotation scaled by 2 along x and 3 along y",
       Make({2 * c, -3 * s, 0, 7, 2 * s, 3 * c, 0, 8, 0, 0, 1, 9}),
       {{c, -s, 0, s, c, 0, 0, 0, 1}}},
      {"zero linear part",
       Make({0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}),
       {{1, 0, 0, 0, 1, 0, 0, 0, 1}}},
      {"one zero column stays zero",
       Make({0, 0, 4, 0, 0, 5, 0, 0, 0, 0, 0, 0}),
       {{0, 0, 1, 0, 1, 0, 0, 0, 0}}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    NHSObject node(NHS_TYPE_CUBOID);
    node.SetTransform(t.transform);
    Matrix3x3 out;
    node.GetNormalizedRotation(out);
    ExpectNear(out.m, t.rotation.m, 9);
    node.GetRotation(out);
    EXPECT_EQ(out.m[2], t.transform.m[2]);
  }
}

}  // namespace
