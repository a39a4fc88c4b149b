#include "features/feature_correlator.h"

#include <utility>

#include "foundation/runtime/notify.h"

SharedWorkBuffer::SharedWorkBuffer(int32_t capacity) {
  if (capacity <= 0) return;
  jobs = new js::Job*[static_cast<size_t>(capacity)]();
  this->capacity = capacity;
}

SharedWorkBuffer::~SharedWorkBuffer() {
  delete[] jobs;
}

FeatureCorrelator::FeatureCorrelator() = default;

FeatureCorrelator::~FeatureCorrelator() {
  correspondences_.clear();
  shared_buffer_.Release();
}

void FeatureCorrelator::Reset() {
  correspondences_.clear();
  AssignFlags(0);
}

void FeatureCorrelator::SetSharedBuffer(SharedPtr<SharedWorkBuffer> buffer) {
  // Assignment references the new buffer before it drops the old one, so handing in the
  // held buffer leaves its count as it was.
  shared_buffer_ = std::move(buffer);
}

uint32_t FeatureCorrelator::GetLostCount() const {
  return 0;
}

int32_t FeatureCorrelator::GetCorrespondenceCount() const {
  return 0;
}

double FeatureCorrelator::GetLostRatio() const {
  return 0.0;
}

void FeatureCorrelator::OnNewFeatureImages() {}

void FeatureCorrelator::OnNewCamera() {}

bool FeatureCorrelator::SetFeatureImages(FeatureImage* first, FeatureImage* second) {
  first_image_ = first;
  second_image_ = second;
  // A missing image comes from the engine's data, not from a programming error here: log
  // it and let Compute fail instead of ending the program.
  if (first == nullptr)
    Notify(2, "FeatureCorrelator::SetFeatureImages: first feature image == NULL");
  if (second == nullptr) {
    Notify(2, "FeatureCorrelator::SetFeatureImages: second feature image == NULL");
  }
  OnNewFeatureImages();
  return first != nullptr && second != nullptr;
}

void FeatureCorrelator::SetCamera(const PerspectiveCamera& camera) {
  camera_ = camera;
  OnNewCamera();
}
