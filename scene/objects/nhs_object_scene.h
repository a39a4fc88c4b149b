// NHSObject_Scene: the root of a scene tree, its selection and the transform gizmo that
// follows the selected node.
//
// The gizmo is created below the root on the first selection and deleted when the
// selection is cleared; it carries the selected node's transform below the root. A node's
// destructor clears the selection when that node goes.
//
// Interface thread only, like the tree.
#pragma once

#include <cstdint>

#include "scene/objects/nhs_object.h"

class NHSObject_Handle;

class NHSObject_Scene : public NHSObject {
 public:
  NHSObject_Scene() : NHSObject(NHS_TYPE_SCENE) {}
  // Clears the selection (and the gizmo) before the node destructor destroys the children.
  ~NHSObject_Scene() override;

  // The id of the selected node, 0 when none.
  int32_t GetSelectedId() const { return selected_id_; }
  // The gizmo, null while nothing is selected.
  NHSObject_Handle* GetGizmo() const { return gizmo_; }

  // Selects the node with that id (0, an unknown id or one that names no node deselects):
  // the old node and its subtree lose the selected flag, the new one gets it, and the gizmo
  // (created on first use) takes the node's transform below the root; deselecting deletes
  // the gizmo. True when the selected id changed; the gizmo's own ids change nothing.
  // Selecting the selected node again only refreshes the gizmo's transform.
  bool SelectObject(int32_t id);

 private:
  NHSObject_Handle* gizmo_ = nullptr;
  int32_t selected_id_ = 0;
};
