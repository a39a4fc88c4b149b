#include "optimise/optimizer_sparse_lm.h"

std::atomic<Callback*> OptimizerSparseLM_RKFPoint3D::s_observer{nullptr};
std::atomic<Callback*> OptimizerSparseLM_RTKFPoint3D::s_observer{nullptr};

bool sparse_lm::ReportIteration(const std::atomic<Callback*>& observer, unsigned iteration) {
  Callback* callback = observer.load();
  if (!callback) return true;
  callback->UpdateVisualisation(5, -1);
  if (callback->IsStopRequested()) throw iteration;
  return true;
}
