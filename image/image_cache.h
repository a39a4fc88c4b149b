// ImageCache: decoded frames of one image sequence, loaded on demand and kept in a
// most-recently-used list, with a background prefetch thread.
//
// A sequence is a file list (PackedStringList): still images, a list file ("txt"), the frames
// of one multi-frame file, movie names (accepted, but no frame source exists: every frame is
// null) or the synthetic source (any name with the extension "dummy": 640 x 480, 2000 empty
// frames). A frame index means a whole picture or one field, by the deinterlace method:
//   0 entry i, whole picture              3 entry i/2, field i&1 (two frames per entry)
//   1 entry i, one field (half height)    4 entry i, one field line-doubled
//   2 entry i, one field at half size     5 entry i/2, field i&1, line-doubled
// The field-order flag picks the top field (even lines) for methods 1, 2, 4 and for the
// even index of a pair in 3 and 5; the two frames of one picture are sister fields whose
// keys differ in the lowest bit.
//
// Every cached frame is an ImageCacheEntry: BGRA, half BGRA, luminance, half and quarter
// luminance planes and the mean luminance. A frame that fails to decode stays cached with
// its error flag set; its planes (like those of synthetic frames) hold what was written
// into the cleared planes.
//
// Threads: GetImage may be called from any thread; two threads asking for the same frame
// decode it once. Decodes are serialised per cache. Changing the sequence, the method, the
// field order or the capacity, and clearing, wait for a running decode and may be called
// while other threads read frames. Entries are shared: a holder keeps its entry valid after
// the cache dropped it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/numeric/array.h"
#include "foundation/runtime/shared_ptr.h"
#include "image/image_scaler.h"
#include "image/light_semaphore.h"
#include "image/lock_array.h"
#include "image/packed_string_list.h"

struct ThreadStartRecord;
class SequenceLoader;

struct IntRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;

  // The overlap of a and b, or all zeros when they do not overlap.
  static IntRect Intersect(const IntRect& a, const IntRect& b);
};

struct ImageCacheEntry {
  uint32_t key = 0;
  double mean_luminance = 0.0;
  SharedPtr<ImageCacheEntry> next;  // MRU link, used by the cache under its list lock
  ArrayMap<uint32_t> bgra;          // 32-bit pixels 0x00RRGGBB; stride a multiple of 4
  ArrayMap<uint32_t> half_bgra;     // (w/2) x (h/2)
  ArrayMap<uint8_t> luminance;      // stride a multiple of 16
  ArrayMap<uint8_t> half_luminance;
  ArrayMap<uint8_t> quarter_luminance;
  std::atomic<uint8_t> error{0};    // set when decoding failed
  std::atomic<uint8_t> loading{0};  // set until decoding has ended

  // The planes live in the same block as the entry; made only by the cache.
  LockArray::Node* lock_node = nullptr;
  uint32_t generation = 0;
};

using ImageCacheEntryPtr = SharedPtr<ImageCacheEntry>;

class ImageCache {
 public:
  static constexpr int kDefaultCapacity = 8;
  static constexpr uint32_t kDummyFrameCount = 2000;

  ImageCache();
  virtual ~ImageCache();
  ImageCache(const ImageCache&) = delete;
  ImageCache& operator=(const ImageCache&) = delete;

  // Installs a new sequence. first / last select list-file lines or frames of a multi-frame
  // file (-1 = no bound). 0 done; 1 list missing or empty; 2 the source reported a negative
  // frame count; 3 unknown extension; 4 no frames (or a list file without entries). On
  // failure the previous sequence stays.
  int SetImageList(PackedStringListPtr list, int32_t first, int32_t last);

  // The decoded frame (waits for it); null without a frame source, for a negative frame, and
  // (except for the synthetic source) without a list or for a frame at or beyond
  // GetNumFrames. May throw "memory allocation failed" / std::bad_alloc when the entry
  // cannot be allocated.
  ImageCacheEntryPtr GetImage(int32_t frame);

  // Asks the prefetch thread to load frame (only the newest request counts). Without a list
  // 0; for a frame outside 0 .. GetNumFrames-1 that count, nothing requested; else 0.
  int Prefetch(int32_t frame);

  // Entries of the list (2000 for the synthetic source), doubled for methods 3 and 5; 0
  // without a list.
  uint32_t GetNumFrames();
  bool HasTwoFieldsPerFrame();
  // The file name of a frame: null without a list; the index is halved for methods 3 and 5;
  // an index at or beyond GetNumFrames becomes 0; clamped to the list ("no image" for an
  // empty list). Valid while the list is installed.
  const char* GetImageFileName(int32_t frame);

  // Deinterlace method 0..5 (others are stored but decode as errors). A change clears the
  // cache; the frame width is halved while the method is 2 (the source width is kept).
  void SetFieldMode(int method);
  // The field-order flag; the owner calls ClearCache after changing it.
  void SetTopFieldFirst(bool top_first);
  bool TopFieldFirst();
  // Entries kept by the MRU trim; a larger value than before clears the cache.
  void SetCapacity(int capacity);
  // Drops every cached frame (holders keep theirs).
  void ClearCache();
  // Frame indices of the cached entries, most recently used first.
  std::vector<int> GetCachedFrames();

  PackedStringListPtr GetFileList();
  int32_t GetFrameWidth();
  int32_t GetFrameHeight();
  // 0 image files, 1 frames of one multi-frame file, 3 the synthetic source.
  int GetSourceKind();
  int GetFieldMode();
  int GetCapacity();

  // Luminance Y = (613 R + 1201 G + 234 B + 1024) >> 11 of count pixels.
  static void ConvertRowToLuminance(uint8_t* dst, const uint32_t* src, int32_t count);
  // Converts the overlap of the two views; returns the mean of the converted luminance (0
  // when the overlap is empty).
  static double MakeLuminanceImage(const ArrayMap<uint8_t>& luminance,
                                   const ArrayMap<uint32_t>& bgra);

 protected:
  // Makes the frame source for a name (dummy: the synthetic one). Tests override it.
  virtual SequenceLoader* CreateLoader(bool dummy);

 private:
  struct Settings;
  static void PrefetchThread(void* cache);
  ImageCacheEntryPtr CreateEntry(uint32_t key, int32_t width, int32_t height);
  void LoadBGRAImage(int32_t frame, ImageCacheEntry* entry, ImageCacheEntry* sister);
  int Decode(const Settings& s, int32_t frame, ImageCacheEntry* entry, ImageCacheEntry* sister);
  void Finish(ImageCacheEntry* entry, int result);
  // Unlocked helpers; the caller holds the list lock.
  uint32_t NumFramesLocked() const;
  void ClearLocked();
  static void ReleaseChain(ImageCacheEntryPtr chain);

  ImageCacheEntryPtr head_;
  SequenceLoader* source_ = nullptr;
  ThreadStartRecord* prefetch_ = nullptr;
  LockArray lock_array_;
  LightSemaphore list_lock_{1};
  LightSemaphore decode_lock_{1};
  LightSemaphore request_signal_{0};
  std::atomic<int32_t> requested_frame_{0};
  uint32_t key_offset_ = 0;
  PackedStringListPtr list_;
  int capacity_ = kDefaultCapacity;
  int32_t source_width_ = 0;  // the picture size of one list entry
  int32_t frame_height_ = 0;
  int method_ = 0;
  int source_kind_ = 0;
  bool top_field_first_ = false;
  uint32_t generation_ = 0;  // advanced by every change that makes pending decodes stale
  ImageScalerPtr half_bgra_scaler_;
  ImageScalerPtr half_luminance_scaler_;
  ImageScalerPtr quarter_luminance_scaler_;
};
