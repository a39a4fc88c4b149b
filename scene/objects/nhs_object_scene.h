// NHSObject_Scene: the root of a scene tree and its selection.
//
// So far it holds what the nodes below it need of it: the id of the selected node, which a
// node's destructor clears when that node goes. The gizmo that follows the selected node
// joins it later.
//
// Interface thread only, like the tree.
#pragma once

#include <cstdint>

#include "scene/objects/nhs_object.h"

class NHSObject_Scene : public NHSObject {
 public:
  NHSObject_Scene() : NHSObject(NHS_TYPE_SCENE) {}
  // Clears the selection before the node destructor destroys the children.
  ~NHSObject_Scene() override;

  // The id of the selected node, 0 when none.
  int32_t GetSelectedId() const { return selected_id_; }
  // Makes `id` the selected node's id (0: none); true when it changed.
  bool SelectObject(int32_t id);

 private:
  int32_t selected_id_ = 0;
};
