#include "image/image_cache.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/thread_entry.h"
#include "image/image_list.h"
#include "image/sequence_loader.h"

namespace {

constexpr const char* kListExtensions = "txt";
constexpr const char* kStillExtensions =
    "gif/tif/tiff/png/pbm/pgm/ppm/pnm/tga/bmp/jpg/jpeg/dpx/cin/cyuv";
constexpr const char* kMovieExtensions = "avi/mov/mkv/mpg/mpeg/wmv/m1v/m2v/mp4/ts/mts/m2ts";
constexpr const char* kDummyExtensions = "dummy";

constexpr uint64_t RoundUp(uint64_t v, uint64_t step) {
  return (v + step - 1) / step * step;
}

bool TwoFields(int method) {
  return method == 3 || method == 5;
}

}  // namespace

IntRect IntRect::Intersect(const IntRect& a, const IntRect& b) {
  const int64_t x0 = std::max(a.x, b.x);
  const int64_t y0 = std::max(a.y, b.y);
  const int64_t x1 = std::min(int64_t(a.x) + a.width, int64_t(b.x) + b.width);
  const int64_t y1 = std::min(int64_t(a.y) + a.height, int64_t(b.y) + b.height);
  if (x1 <= x0 || y1 <= y0) return IntRect();
  return IntRect{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
}

// What a decode reads of the cache, taken under the list lock.
struct ImageCache::Settings {
  SequenceLoader* source = nullptr;
  PackedStringListPtr list;
  int method = 0;
  bool top_field_first = false;
  uint32_t generation = 0;
};

ImageCache::ImageCache()
    : half_bgra_scaler_(CreateImageScaler(3, 32, 32, false)),
      half_luminance_scaler_(CreateImageScaler(3, 8, 8, false)),
      quarter_luminance_scaler_(CreateImageScaler(3, 8, 8, false)) {}

ImageCache::~ImageCache() {
  if (prefetch_) {
    requested_frame_.store(-1);
    request_signal_.Release();
    prefetch_->thread.Join();
    delete prefetch_;
    prefetch_ = nullptr;
  }
  ClearCache();
  delete source_;
  source_ = nullptr;
}

SequenceLoader* ImageCache::CreateLoader(bool dummy) {
  if (dummy) return new DummySequenceLoader;
  return new SequenceLoader;
}

// --- sequence -------------------------------------------------------------------------------

int ImageCache::SetImageList(PackedStringListPtr list, int32_t first, int32_t last) {
  if (!list || list->Count() == 0) return 1;
  std::string name = list->GetEntryName(list->CurrentIndex());
  PackedStringListPtr use = list;
  std::unique_ptr<SequenceLoader> loader;
  bool movie = false;
  bool dummy = false;
  if (HasExtension(name.c_str(), kListExtensions)) {
    use = ReadImageListFile(name.c_str(), first, last);
    if (!use || use->Count() == 0) return 4;
    name = use->GetEntryName(0);
    loader.reset(CreateLoader(false));
  } else if (HasExtension(name.c_str(), kStillExtensions)) {
    loader.reset(CreateLoader(false));
  } else if (HasExtension(name.c_str(), kMovieExtensions)) {
    movie = true;  // accepted, but there is no movie decoder: every frame is null
  } else if (HasExtension(name.c_str(), kDummyExtensions)) {
    loader.reset(CreateLoader(true));
    dummy = true;
  } else {
    return 3;
  }

  int32_t width = 0;
  int32_t height = 0;
  const long count = movie ? use->Count() : loader->Open(&width, &height, name.c_str());
  if (count < 1) {
    Notify(2, "ImageCache::SetImageList: can't read image(s) (ret: %li)", count);
    return count < 0 ? 2 : 4;
  }
  const int kind = dummy ? 3 : (count > 1 && !HasFrameSuffix(name.c_str()) && !movie ? 1 : 0);
  if (kind == 1) {
    use = MakeFrameList(name.c_str(), int32_t(count), first, last);
    if (!use || use->Count() == 0) {
      Notify(2, "ImageCache::SetImageList: can't read image(s) (ret: %li)", 0L);
      return 4;
    }
  }

  // The decode lock keeps the old source alive until a running decode has ended.
  LightSemaphore::Guard decode(decode_lock_);
  LightSemaphore::Guard guard(list_lock_);
  if (list_) key_offset_ += (uint32_t(list_->Count()) + 1) & ~1u;
  delete source_;
  source_ = loader.release();
  source_kind_ = kind;
  list_ = use;
  source_width_ = width;
  frame_height_ = height;
  half_bgra_scaler_->SetInputSize(width, height);
  half_luminance_scaler_->SetInputSize(width, height);
  quarter_luminance_scaler_->SetInputSize(width / 2, height / 2);
  ++generation_;
  ClearLocked();
  return 0;
}

// --- frames ---------------------------------------------------------------------------------

uint32_t ImageCache::NumFramesLocked() const {
  if (!list_) return 0;
  const uint32_t n = source_kind_ == 3 ? kDummyFrameCount : uint32_t(list_->Count());
  return TwoFields(method_) ? 2 * n : n;
}

ImageCacheEntryPtr ImageCache::CreateEntry(uint32_t key, int32_t width, int32_t height) {
  const uint64_t w = uint64_t(std::max(width, 0));
  const uint64_t h = uint64_t(std::max(height, 0));
  if (w != 0 && h > (uint64_t(1) << 38) / RoundUp(w, 16)) throw kAllocationFailedMessage;
  const uint64_t w2 = w / 2, h2 = h / 2, w4 = w / 4, h4 = h / 4;
  const uint64_t bgra_stride = RoundUp(w, 4), half_stride = RoundUp(w2, 4);
  const uint64_t lum_stride = RoundUp(w, 16), half_lum_stride = RoundUp(w2, 16);
  const uint64_t quarter_stride = RoundUp(w4, 16);
  const uint64_t sizes[5] = {bgra_stride * 4 * h, half_stride * 4 * h2, lum_stride * h,
                             half_lum_stride * h2, quarter_stride * h4};
  uint64_t total = 0;
  for (uint64_t s : sizes) total += s;
  if (total >= (uint64_t(1) << 40)) throw kAllocationFailedMessage;
  ImageCacheEntryPtr entry = ImageCacheEntryPtr::MakeExtra(size_t(total) + 16);
  uint8_t* at = static_cast<uint8_t*>(entry.ExtraBytes());
  at += (16 - reinterpret_cast<uintptr_t>(at) % 16) % 16;
  std::memset(at, 0, size_t(total));  // new planes are black, never stale memory
  ImageCacheEntry& e = *entry;
  e.key = key;
  e.bgra = ArrayMap<uint32_t>(reinterpret_cast<uint32_t*>(at), uint32_t(bgra_stride), uint32_t(w),
                              uint32_t(h));
  at += sizes[0];
  e.half_bgra = ArrayMap<uint32_t>(reinterpret_cast<uint32_t*>(at), uint32_t(half_stride),
                                   uint32_t(w2), uint32_t(h2));
  at += sizes[1];
  e.luminance = ArrayMap<uint8_t>(at, uint32_t(lum_stride), uint32_t(w), uint32_t(h));
  at += sizes[2];
  e.half_luminance = ArrayMap<uint8_t>(at, uint32_t(half_lum_stride), uint32_t(w2), uint32_t(h2));
  at += sizes[3];
  e.quarter_luminance = ArrayMap<uint8_t>(at, uint32_t(quarter_stride), uint32_t(w4), uint32_t(h4));
  e.loading.store(1, std::memory_order_relaxed);
  return entry;
}

ImageCacheEntryPtr ImageCache::GetImage(int32_t frame) {
  if (frame < 0) return ImageCacheEntryPtr();
  list_lock_.Acquire();
  if (!source_ || (source_kind_ != 3 && (!list_ || uint32_t(frame) >= NumFramesLocked()))) {
    list_lock_.Release();
    return ImageCacheEntryPtr();
  }
  const uint32_t key = key_offset_ + uint32_t(frame);
  const bool two = TwoFields(method_);
  const int32_t width = method_ == 2 ? source_width_ / 2 : source_width_;
  const int32_t height = (method_ >= 1 && method_ <= 3) ? frame_height_ / 2 : frame_height_;

  // Walk the MRU list: trim it to the capacity and move the hit and its sister to the front.
  ImageCacheEntryPtr hit, sister;
  ImageCacheEntryPtr* link = &head_;
  int visited = 0;
  while (*link) {
    ++visited;
    if (visited > capacity_ && link != &head_) {
      ReleaseChain(std::move(*link));
      break;
    }
    ImageCacheEntry* e = link->Get();
    const bool is_hit = !hit && e->key == key;
    const bool is_sister = two && !sister && e->key == (key ^ 1u);
    if (!is_hit && !is_sister) {
      link = &e->next;
      continue;
    }
    if (link == &head_) {
      link = &e->next;
    } else {
      ImageCacheEntryPtr node = std::move(*link);
      *link = std::move(node->next);
      node->next = std::move(head_);
      head_ = std::move(node);
    }
    (is_hit ? hit : sister) = head_;
  }

  if (hit) {
    list_lock_.Release();
    while (hit->loading.load(std::memory_order_acquire)) lock_array_.Wait(key);
    return hit;
  }

  ImageCacheEntryPtr entry, new_sister;
  try {
    if (two && !sister) new_sister = CreateEntry(key ^ 1u, width, height);
    entry = CreateEntry(key, width, height);
    if (new_sister) new_sister->lock_node = lock_array_.Lock(key ^ 1u);
    try {
      entry->lock_node = lock_array_.Lock(key);
    } catch (...) {
      if (new_sister) lock_array_.Unlock(key ^ 1u, new_sister->lock_node);
      throw;
    }
  } catch (...) {
    list_lock_.Release();
    throw;
  }
  for (ImageCacheEntry* e : {new_sister.Get(), entry.Get()}) {
    if (!e) continue;
    e->generation = generation_;
  }
  if (new_sister) {
    new_sister->next = std::move(head_);
    head_ = new_sister;
  }
  entry->next = std::move(head_);
  head_ = entry;
  list_lock_.Release();

  // A cached sister is never given as a target: other threads may be reading it.
  LoadBGRAImage(frame, entry.Get(), new_sister.Get());
  return entry;
}

void ImageCache::LoadBGRAImage(int32_t frame, ImageCacheEntry* entry, ImageCacheEntry* sister) {
  LightSemaphore::Guard decode(decode_lock_);
  Settings s;
  {
    LightSemaphore::Guard guard(list_lock_);
    s.source = source_;
    s.list = list_;
    s.method = method_;
    s.top_field_first = top_field_first_;
    s.generation = generation_;
  }
  int result = -1;
  // An entry made before the sequence, the method or the field order changed is not decoded
  // with the new settings: it is handed back as failed.
  if (entry->generation == s.generation) {
    try {
      result = Decode(s, frame, entry, sister);
    } catch (const char* message) {
      Notify(2, "ImageCache::LoadBGRAImage: %s", message);
      result = -1;
    } catch (const std::exception& e) {
      Notify(2, "ImageCache::LoadBGRAImage: %s", e.what());
      result = -1;
    } catch (...) {
      result = -1;
    }
    if (result != 0) {
      Notify(2, "ImageCache::LoadBGRAImage: error reading/decoding image %lu",
             static_cast<unsigned long>(frame));
    }
  }
  Finish(entry, result);
  if (sister && sister->loading.load(std::memory_order_relaxed)) Finish(sister, result);
}

int ImageCache::Decode(const Settings& s, int32_t frame, ImageCacheEntry* entry,
                       ImageCacheEntry* sister) {
  if (!s.source) return -1;
  const bool two = TwoFields(s.method);
  bool f = s.top_field_first;
  if (two) f ^= (frame & 1) != 0;
  const int32_t index = two ? frame / 2 : frame;
  const std::string name = s.list ? s.list->GetEntryName(index) : "";
  SequenceLoader& src = *s.source;
  const PixelView* e = &entry->bgra;
  const PixelView* sis = sister ? &sister->bgra : nullptr;
  int result;
  switch (s.method) {
    case 0:
      result = src.LoadFrame(*e, name.c_str());
      break;
    case 1:
      result = f ? src.LoadSplitFields(e, nullptr, name.c_str())
                 : src.LoadSplitFields(nullptr, e, name.c_str());
      break;
    case 2:
      result = f ? src.LoadHalfSize(e, nullptr, name.c_str())
                 : src.LoadHalfSize(nullptr, e, name.c_str());
      break;
    case 4:
      result = f ? src.LoadLineDoubled(e, nullptr, name.c_str())
                 : src.LoadLineDoubled(nullptr, e, name.c_str());
      break;
    case 3:
      result =
          f ? src.LoadSplitFields(e, sis, name.c_str()) : src.LoadSplitFields(sis, e, name.c_str());
      break;
    case 5:
      result =
          f ? src.LoadLineDoubled(e, sis, name.c_str()) : src.LoadLineDoubled(sis, e, name.c_str());
      break;
    default:
      result = -1;
      break;
  }
  for (ImageCacheEntry* t : {entry, sister}) {
    if (!t) continue;
    ScaleImage(half_bgra_scaler_.Get(), t->half_bgra, t->bgra);
    t->mean_luminance = MakeLuminanceImage(t->luminance, t->bgra);
    ScaleImage(half_luminance_scaler_.Get(), t->half_luminance, t->luminance);
    ScaleImage(quarter_luminance_scaler_.Get(), t->quarter_luminance, t->half_luminance);
  }
  return result;
}

void ImageCache::Finish(ImageCacheEntry* entry, int result) {
  entry->error.store(result != 0 ? 1 : 0, std::memory_order_relaxed);
  entry->loading.store(0, std::memory_order_release);
  lock_array_.Unlock(entry->key, entry->lock_node);
}

// --- prefetch -------------------------------------------------------------------------------

int ImageCache::Prefetch(int32_t frame) {
  bool signal = false;
  {
    LightSemaphore::Guard guard(list_lock_);
    if (!list_) return 0;
    const uint32_t count = NumFramesLocked();
    // A negative request would end the thread: refuse it like any frame out of range.
    if (frame < 0 || uint32_t(frame) >= count) return int(count);
    if (!prefetch_) {
      auto* record = new ThreadStartRecord;
      record->function = &ImageCache::PrefetchThread;
      record->argument = this;
      if (record->thread.Start(&ThreadEntry, record, platform::ThreadPriority::kBelowNormal)) {
        prefetch_ = record;
      } else {
        delete record;  // the next request tries again
      }
    }
    if (prefetch_) {
      requested_frame_.store(frame);
      signal = true;
    }
  }
  if (signal) request_signal_.Release();
  return 0;
}

void ImageCache::PrefetchThread(void* argument) {
  ImageCache* cache = static_cast<ImageCache*>(argument);
  for (;;) {
    cache->request_signal_.Acquire();
    const int32_t frame = cache->requested_frame_.load();
    if (frame < 0) return;
    try {
      cache->GetImage(frame).Release();
    } catch (const char* message) {
      Notify(2, "ImageCache::PrefetchThread: frame %ld: %s", long(frame), message);
    } catch (const std::exception& e) {
      Notify(2, "ImageCache::PrefetchThread: frame %ld: %s", long(frame), e.what());
    } catch (...) {
      Notify(2, "ImageCache::PrefetchThread: frame %ld: unknown exception", long(frame));
    }
  }
}

// --- settings -------------------------------------------------------------------------------

void ImageCache::ReleaseChain(ImageCacheEntryPtr chain) {
  // One entry at a time, so a long chain never recurses through the links.
  while (chain) {
    ImageCacheEntryPtr next = std::move(chain->next);
    chain = std::move(next);
  }
}

void ImageCache::ClearLocked() {
  ReleaseChain(std::move(head_));
}

void ImageCache::ClearCache() {
  LightSemaphore::Guard decode(decode_lock_);
  LightSemaphore::Guard guard(list_lock_);
  ClearLocked();
}

void ImageCache::SetFieldMode(int method) {
  LightSemaphore::Guard decode(decode_lock_);
  LightSemaphore::Guard guard(list_lock_);
  if (method == method_) return;
  method_ = method;
  ++generation_;
  ClearLocked();
}

void ImageCache::SetTopFieldFirst(bool top_first) {
  LightSemaphore::Guard decode(decode_lock_);
  LightSemaphore::Guard guard(list_lock_);
  if (top_first == top_field_first_) return;
  top_field_first_ = top_first;
  ++generation_;
  ClearLocked();
}

void ImageCache::SetCapacity(int capacity) {
  LightSemaphore::Guard decode(decode_lock_);
  LightSemaphore::Guard guard(list_lock_);
  const bool larger = capacity > capacity_;
  capacity_ = capacity;
  if (larger) ClearLocked();
}

// --- reading --------------------------------------------------------------------------------

uint32_t ImageCache::GetNumFrames() {
  LightSemaphore::Guard guard(list_lock_);
  return NumFramesLocked();
}

bool ImageCache::HasTwoFieldsPerFrame() {
  LightSemaphore::Guard guard(list_lock_);
  return TwoFields(method_);
}

const char* ImageCache::GetImageFileName(int32_t frame) {
  LightSemaphore::Guard guard(list_lock_);
  if (!list_) return nullptr;
  int32_t index = TwoFields(method_) ? frame / 2 : frame;
  if (index < 0 || uint32_t(index) >= NumFramesLocked()) index = 0;
  return list_->GetEntryName(index);
}

std::vector<int> ImageCache::GetCachedFrames() {
  LightSemaphore::Guard guard(list_lock_);
  std::vector<int> frames;
  for (ImageCacheEntry* e = head_.Get(); e; e = e->next.Get()) {
    frames.push_back(int(e->key - key_offset_));
  }
  return frames;
}

PackedStringListPtr ImageCache::GetFileList() {
  LightSemaphore::Guard guard(list_lock_);
  return list_;
}

int32_t ImageCache::GetFrameWidth() {
  LightSemaphore::Guard guard(list_lock_);
  return method_ == 2 ? source_width_ / 2 : source_width_;
}

int32_t ImageCache::GetFrameHeight() {
  LightSemaphore::Guard guard(list_lock_);
  return frame_height_;
}

int ImageCache::GetSourceKind() {
  LightSemaphore::Guard guard(list_lock_);
  return source_kind_;
}

int ImageCache::GetFieldMode() {
  LightSemaphore::Guard guard(list_lock_);
  return method_;
}

int ImageCache::GetCapacity() {
  LightSemaphore::Guard guard(list_lock_);
  return capacity_;
}

bool ImageCache::TopFieldFirst() {
  LightSemaphore::Guard guard(list_lock_);
  return top_field_first_;
}

// --- luminance ------------------------------------------------------------------------------

void ImageCache::ConvertRowToLuminance(uint8_t* dst, const uint32_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t p = src[i];
    const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    dst[i] = uint8_t((613 * r + 1201 * g + 234 * b + 1024) >> 11);
  }
}

double ImageCache::MakeLuminanceImage(const ArrayMap<uint8_t>& luminance,
                                      const ArrayMap<uint32_t>& bgra) {
  const IntRect r =
      IntRect::Intersect(IntRect{0, 0, int32_t(std::min<uint32_t>(luminance.width, INT32_MAX)),
                                 int32_t(std::min<uint32_t>(luminance.height, INT32_MAX))},
                         IntRect{0, 0, int32_t(std::min<uint32_t>(bgra.width, INT32_MAX)),
                                 int32_t(std::min<uint32_t>(bgra.height, INT32_MAX))});
  if (r.width == 0 || r.height == 0) return 0.0;
  uint64_t total = 0;
  for (int32_t y = 0; y < r.height; ++y) {
    uint8_t* row = luminance.data + size_t(y) * luminance.stride;
    ConvertRowToLuminance(row, bgra.data + size_t(y) * bgra.stride, r.width);
    for (int32_t x = 0; x < r.width; ++x) total += row[x];
  }
  return double(total) / (double(r.width) * double(r.height));
}
