#include "export/undistorted_image_export.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "foundation/camera/radial_distortion.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "image/image_cache.h"
#include "image/image_file_io.h"
#include "image/image_transform.h"
#include "scene/painter/overlay_painter.h"

void RadialDistortionMapper::Map(double& x_out, double& y_out, double x, double y) const {
  const RadialDistortionParameters& p = parameters_;
  const double m = (x - p.principal_x) * p.scale, l = (y - p.principal_y) * p.scale;
  const double u = p.pixel_size_x * m, v = p.pixel_size_y * l;
  const double f = p.model != nullptr ? p.model(u * u + v * v, p.k, inverse_) : 1.0;
  x_out = f * m + p.principal_x + 0.5;
  y_out = f * l + p.principal_y + 0.5;
}

namespace {

// The even lines of a picture: (height + 1) / 2 of them, so none is left out.
ArrayMap<uint32_t> EvenLines(const ArrayMap<uint32_t>& a) {
  return ArrayMap<uint32_t>(a.data, a.stride * 2, a.width, (a.height + 1) / 2);
}

ArrayMap<uint32_t> OddLines(const ArrayMap<uint32_t>& a) {
  return ArrayMap<uint32_t>(a.height > 1 ? a.data + a.stride : a.data, a.stride * 2, a.width,
                            a.height / 2);
}

// A frame or field of the cache, or null after logging why there is none.
ImageCacheEntryPtr GetPicture(ImageCache* cache, int index) {
  ImageCacheEntryPtr entry;
  try {
    entry = cache->GetImage(index);
  } catch (const std::bad_alloc&) {
  } catch (const char*) {
  }
  if (!entry || entry->error.load() != 0 || entry->bgra.data == nullptr || entry->bgra.width == 0) {
    Notify(2, "ExportUndistortedImages: image %d could not be read", index);
    return ImageCacheEntryPtr();
  }
  return entry;
}

bool WriteImage(const char* name, int format, const ArrayMap<uint32_t>& picture) {
  // The context holds a large buffer: off the export thread's stack.
  const auto context = std::make_unique<ImageFileIO::ImageFileContext>();
  ImageFileIO::ImageFileContext& ctx = *context;
  const int32_t opened =
      ImageFileIO::OpenWrite(&ctx, name, format, static_cast<int32_t>(picture.width),
                             static_cast<int32_t>(picture.height), 24);
  int32_t result = opened;
  for (uint32_t y = 0; result == 0 && y < picture.height; ++y)
    result = ImageFileIO::WriteRow(picture.data + static_cast<size_t>(y) * picture.stride, &ctx);
  const int32_t closed = ImageFileIO::Close(&ctx);
  if (result == 0) result = closed;
  if (result != 0) {
    Notify(2, "ExportUndistortedImages: writing \"%s\" failed (%d)", name,
           static_cast<int>(result));
    return false;
  }
  return true;
}

}  // namespace

int ExportUndistortedImages(UndistortJob& job) {
  // Taken over here so it is freed on every way out.
  const std::unique_ptr<std::vector<RadialDistortionParameters>> parameters =
      std::move(job.parameters);
  auto report = [&](int value) {
    if (job.progress != nullptr) job.progress(job.context, value);
  };
  auto stopped = [&] { return job.stop != nullptr && job.stop->load() != 0; };
  auto fail = [&] {
    report(kUndistortFailed);
    return -1;
  };

  // Read through the tracking job's cache when it holds the same list, else through a small
  // private one set up like it.
  std::unique_ptr<ImageCache> private_cache;
  ImageCache* cache = job.source_cache;
  if (cache == nullptr || !job.image_list || cache->GetFileList().Get() != job.image_list.Get()) {
    private_cache = std::make_unique<ImageCache>();
    if (private_cache->SetImageList(job.image_list, -1, -1) != 0) {
      Notify(2, "ExportUndistortedImages: the image list could not be opened");
      return fail();
    }
    if (job.source_cache != nullptr) {
      private_cache->SetFieldMode(job.source_cache->GetFieldMode());
      if (private_cache->TopFieldFirst() != job.source_cache->TopFieldFirst()) {
        private_cache->SetTopFieldFirst(job.source_cache->TopFieldFirst());
        private_cache->ClearCache();
      }
    }
    private_cache->SetCapacity(3);
    cache = private_cache.get();
  }

  const int frames = job.last - job.first + 1;
  if (frames < 1) {
    report(kUndistortEnded);
    return 0;
  }
  const int field_mode = cache->GetFieldMode();
  const int width = cache->GetFrameWidth();
  int height = cache->GetFrameHeight();
  if (field_mode >= 1 && field_mode <= 3) height /= 2;
  if (width <= 0 || height <= 0) {
    Notify(2, "ExportUndistortedImages: no frame size");
    return fail();
  }
  Array<uint32_t, 1> output;
  try {
    output.Resize(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  } catch (const char*) {
    Notify(2, "ExportUndistortedImages: no memory for %d x %d pixels", width, height);
    return fail();
  }
  const ArrayMap<uint32_t>& picture = output.Plane(0);

  // Captions in percent of the picture.
  OverlayPainter painter;
  painter.SetTarget(picture);
  painter.Target().scale_x = width * 0.01;
  painter.Target().scale_y = height * 0.01;
  painter.Target().offset_x = painter.Target().offset_y = 0;
  const std::string product = ProductInfo::GetProductName();
  const std::string version = "ver. " + ProductInfo::GetVersionString();

  const RadialDistortionParameters fallback = {
      0.5 * width - 0.5, 0.5 * height - 0.5, 1.0, 1.0, {0, 0, 0, 0}, 1.0, Poly3};
  auto record = [&](int index) {
    if (parameters && index >= 0 && static_cast<size_t>(index) < parameters->size())
      return (*parameters)[static_cast<size_t>(index)];
    return fallback;
  };
  RadialDistortionMapper mapper(fallback, job.direct == 0);

  const int names = job.output_names ? job.output_names->Count() : 0;
  if (names < frames)
    Notify(2,
           "ExportUndistortedImages: %d output names for %d frames; the last name is written "
           "again",
           names, frames);

  for (int i = 0; i < frames; ++i) {
    if (stopped()) break;
    const int frame = job.first + i;
    const bool more = i + 1 < frames;
    if (cache->HasTwoFieldsPerFrame()) {
      for (int j = 0; j < 2; ++j) {
        const int field = 2 * frame + j;
        const ImageCacheEntryPtr entry = GetPicture(cache, field);
        if (!entry) return fail();
        if (j == 0 || more) cache->Prefetch(field + 1);
        RadialDistortionParameters& p = mapper.Parameters();
        p = record(field);
        p.principal_y *= 0.5;
        p.pixel_size_y *= 2.0;
        if (cache->TopFieldFirst() == (j == 0)) {
          TransformImage(EvenLines(picture), 0, 0, EvenLines(entry->bgra), mapper, 2, 0);
        } else {
          p.principal_y -= 0.5;
          TransformImage(OddLines(picture), 0, 0, OddLines(entry->bgra), mapper, 2, 0);
        }
      }
    } else {
      const ImageCacheEntryPtr entry = GetPicture(cache, frame);
      if (!entry) return fail();
      if (more) cache->Prefetch(frame + 1);
      mapper.Parameters() = record(frame);
      TransformImage(picture, 0, 0, entry->bgra, mapper, 2, 0);
    }
    if (stopped()) break;  // this frame is not written

    const char* name =
        names > 0 ? job.output_names->GetEntryName(std::min(i, names - 1)) : "no image";
    Notify(5, "RadDist: write image <%s>", name);
    painter.DrawStrokeText(10, 70, 40, 12, 10, product.c_str(), 0xFFA0A0A0);
    painter.DrawStrokeText(15, 80, 30, 6, 3, version.c_str(), 0xFFA0A0A0);
    if (!WriteImage(name, job.format, picture)) return fail();
    report((i + 1) * 100 / frames);
  }
  report(kUndistortEnded);
  return 0;
}
