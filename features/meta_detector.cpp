#include "features/meta_detector.h"

#include <cstdio>

#include "platform/console.h"

MetaDetector::MetaDetector() = default;

MetaDetector::MetaDetector(const CPicture<unsigned char>& picture) {
  SetImage(picture);
}

MetaDetector::~MetaDetector() = default;

void MetaDetector::SetImage(const CPicture<unsigned char>& picture) {
  const uint32_t w = picture.Width(), h = picture.Height(), bands = picture.Bands();
  luminance_ = std::make_unique<CPicture<unsigned char>>();
  luminance_->Resize(w, h, 1);
  switch (bands) {
    case 1:
      luminance_->CopyFrom(picture);
      break;
    case 2:
      luminance_->GetBand(0).CopyFrom(picture.GetBand(0));
      break;
    case 3:
      MakeLuminancePicture(*luminance_, picture);
      break;
    case 4: {
      const ArrayMap<unsigned char> b0 = picture.GetBand(0), b1 = picture.GetBand(1),
                                    b2 = picture.GetBand(2), out = luminance_->GetBand(0);
      for (uint32_t y = 0; y < h; ++y) {
        const size_t in_row = static_cast<size_t>(y) * b0.stride;
        unsigned char* o = out.data + static_cast<size_t>(y) * out.stride;
        for (uint32_t x = 0; x < w; ++x) {
          const double v = 0.3 * b0.data[in_row + x] + 0.59 * b1.data[in_row + x] +
                           0.11 * b2.data[in_row + x] + 0.5;
          o[x] = static_cast<unsigned char>(static_cast<int>(v));
        }
      }
      break;
    }
    default:
      platform::ConsolePrintf(stderr, " MetaDetector::MetaDetector: bad no. of bands: %u\n", bands);
      luminance_->FillBand(0, 0);
      break;
  }
  features_.clear();
  recompute_ = true;
}

const MetaDetector::FeatureList& MetaDetector::GetFeatures() {
  if (recompute_) {
    features_.clear();
    Compute();
  }
  return features_;
}

const MetaDetector::FeatureList& MetaDetector::Detect(const CPicture<unsigned char>& picture) {
  SetImage(picture);
  OnNewImage();
  return GetFeatures();
}

void MakeLuminancePicture(CPicture<unsigned char>& destination,
                          const CPicture<unsigned char>& source) {
  const uint32_t w = source.Width(), h = source.Height();
  destination.Resize(w, h, 1);
  if (source.Bands() == 0) {
    destination.FillBand(0, 0);
    return;
  }
  const ArrayMap<unsigned char> out = destination.GetBand(0);
  if (source.Bands() < 3) {
    out.CopyFrom(source.GetBand(0));
    return;
  }
  const ArrayMap<unsigned char> b0 = source.GetBand(0), b1 = source.GetBand(1),
                                b2 = source.GetBand(2);
  for (uint32_t y = 0; y < h; ++y) {
    const size_t in_row = static_cast<size_t>(y) * b0.stride;
    unsigned char* o = out.data + static_cast<size_t>(y) * out.stride;
    for (uint32_t x = 0; x < w; ++x) {
      const int v =
          38 * b0.data[in_row + x] + 75 * b1.data[in_row + x] + 15 * b2.data[in_row + x] + 64;
      o[x] = static_cast<unsigned char>(v >> 7);
    }
  }
}
