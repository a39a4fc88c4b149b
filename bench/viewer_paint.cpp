// The viewer widget on a 1280 x 720 sequence rendered by kx_render_sequence, with the
// image view's overlays (400 feature tracks over every frame, a polygon mask, a reference
// line) and the widget's own (the zoom box, a lasso loop, the frame label as a text).
//
// - One viewer paint (QWidget::render into an RGB32 image: the logic renders the view into
//   its buffer, the widget blits it and paints its overlays) against the least a widget
//   over the logic must do: the logic's rendering and a bare QPainter::drawImage of the
//   buffer. After the tables, the widget's own share (paint less the logic's rendering,
//   timed just before) against the bare blit, and against a bare widget that only blits
//   the buffer and is painted the same way.
// - Playback from the frame cache on 2 worker threads as the playback bar drives it: the
//   next frame is made current at every tick of a 25 or 30 fps clock, the one after it is
//   prefetched and the widget paints; a frame whose paint ends after the next tick is
//   dropped. Once every frame is cached, and on the first loop from the files. Also how
//   many cached frames a second can be shown at all.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/qt/q_viewer.h"
#include "bench/ratio_reporter.h"
#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFrames = 30;
constexpr int kTracks = 400;

// The rendered frames in a private folder, removed at exit.
struct Frames {
  Frames() {
    std::string templ = (std::filesystem::temp_directory_path() / "kx_viewer_XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    dir = templ;
    const std::string command = std::string(KX_RENDER_SEQUENCE) + " --out=" + dir +
                                " --frames=" + std::to_string(kFrames) +
                                " --width=" + std::to_string(kWidth) +
                                " --height=" + std::to_string(kHeight) + " >/dev/null";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "viewer_paint: %s failed\n", command.c_str());
      std::abort();
    }
  }
  ~Frames() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  SharedPtr<PackedStringList> List() const {
    auto list = SharedPtr<PackedStringList>::Make();
    char name[32];
    for (int k = 0; k < kFrames; ++k) {
      std::snprintf(name, sizeof name, "/img%04d.png", k);
      list->Append((dir + name).c_str(), k);
    }
    return list;
  }
  std::string dir;
};

// Feature tracks drifting across every frame, linked frame to frame, a mask and a line.
void AddOverlays(uic::MetaCTracker& tracker) {
  std::vector<SharedPtr<FeaturePoint2D>> previous(kTracks);
  for (int k = 0; k < kFrames; ++k) {
    FeatureImage& image = *tracker.GetImageList()[size_t(k)];
    image.ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
    for (int t = 0; t < kTracks; ++t) {
      const double x = 40.0 + (t % 25) * 48.0 + 2.0 * k, y = 40.0 + (t / 25) * 40.0 + 1.0 * k;
      auto f = SharedPtr<FeaturePoint2D>::Make(&image, x, y);
      image.AddFPoint2D(f);
      if (previous[size_t(t)]) {
        auto link = SharedPtr<FeatureCorrespondence>::Make();
        link->SetFirst(previous[size_t(t)]);
        link->SetSecond(f);
        link->SetScore(1.0f);
        previous[size_t(t)]->SetSuccessor(link);
        f->SetPredecessor(link);
      }
      previous[size_t(t)] = f;
    }
  }
  VertexObjectPool& pool = tracker.GetVertexObjectPool();
  std::vector<Vertex> mask(6);
  for (int i = 0; i < 6; ++i) {
    const double a = i * 3.14159265 / 3.0;
    mask[size_t(i)].SetKey(0, {640.0 + 200.0 * std::cos(a), 360.0 + 150.0 * std::sin(a), 0.0});
  }
  pool.AddPolygonMask(kFrames, mask, 0)->SetName("Mask_1");
  std::vector<Vertex> line(2);
  line[0].SetKey(0, {100.0, 600.0, 0.0});
  line[1].SetKey(0, {1100.0, 560.0, 0.0});
  pool.AddLineStrip(line, 0, 0, kFrames - 1);
}

// The one job and viewer of the run.
struct Setup {
  Setup() {
    WorkerPool::SetNumberOfThreads(2);
    tracker = new uic::MetaCTracker();
    if (tracker->SetSequence(frames.List()) != 0) std::abort();
    tracker->GetImageCache()->SetCapacity(kFrames + 2);
    AddOverlays(*tracker);
    uic::Controller& c = *uic::Controller::Instance();
    c.SetCTracker(tracker);
    viewer = new qViewer();
    viewer->resize(kWidth, kHeight);
    viewer->show();
    QApplication::processEvents();
    c.SetCurrentFrame(0, true);
    viewer->ResetZoom();
    // A lasso loop as a hand draws it: 240 points round an uneven ellipse.
    for (int i = 0; i <= 240; ++i) {
      const double a = i * 2.0 * 3.14159265 / 240.0, r = 1.0 + 0.08 * std::sin(7.0 * a);
      const QPointF p(640.0 + 300.0 * r * std::cos(a), 360.0 + 180.0 * r * std::sin(a));
      if (i == 0) {
        viewer->m_lasso_path = QPainterPath(p);
      } else {
        viewer->m_lasso_path.lineTo(p);
      }
    }
    SetWidgetOverlays(true);
  }
  // The widget's own overlays: the zoom box, a lasso outline, the frame label as text
  // (without, the logic draws the label into its buffer).
  void SetWidgetOverlays(bool on) {
    viewer->m_overlay_options.m_widget_text = on;
    viewer->m_show_zoom = on;
    viewer->m_lasso_active = on;
  }
  // Shows frame k as playback does and paints the widget into target.
  void Show(int k, QImage& target) {
    uic::Controller& c = *uic::Controller::Instance();
    c.SetCurrentFrame(k, false);
    c.PrefetchFrame((k + 1) % kFrames);
    viewer->render(&target);
  }

  Frames frames;
  uic::MetaCTracker* tracker = nullptr;  // the controller's
  qViewer* viewer = nullptr;
};

Setup& TheSetup() {
  static Setup* setup = new Setup();  // lives to the end: the controller keeps the tracker
  return *setup;
}

QImage Target() {
  QImage target(kWidth, kHeight, QImage::Format_RGB32);
  target.fill(0);
  return target;
}

void BM_BareBlit(benchmark::State& state) {
  Setup& s = TheSetup();
  QImage target = Target();
  s.Show(0, target);  // the buffer holds a rendered frame
  for (auto _ : state) {
    QPainter painter(&target);
    painter.drawImage(QPoint(0, 0), *s.viewer->m_buffer_image);
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
}

// A bare widget that only blits the buffer, painted the same way as the viewer (QWidget::
// render): the blit with the toolkit's own cost of a widget paint.
class BlitWidget : public QWidget {
 public:
  explicit BlitWidget(const QImage* image) : image_(image) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(image->size());
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), *image_, event->rect());
  }

 private:
  const QImage* image_;
};

void BM_BareWidgetBlit(benchmark::State& state) {
  Setup& s = TheSetup();
  QImage target = Target();
  s.Show(0, target);
  BlitWidget widget(s.viewer->m_buffer_image);
  for (auto _ : state) {
    widget.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
}

// The least a widget over the logic must do: the logic renders, the buffer is blitted.
void BM_RenderAndBareBlit(benchmark::State& state) {
  Setup& s = TheSetup();
  QImage target = Target();
  s.Show(0, target);
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    s.viewer->Update(0, 0, kWidth, kHeight);
    QPainter painter(&target);
    painter.drawImage(QPoint(0, 0), *s.viewer->m_buffer_image);
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}

// Argument 1: with the widget's own overlays (zoom box, lasso outline, text), 0 without.
// The time is the paint's alone; the counters split it into the logic's rendering (timed
// on its own just before) and the rest, the widget's own share.
void BM_ViewerPaint(benchmark::State& state) {
  Setup& s = TheSetup();
  QImage target = Target();
  s.Show(0, target);
  s.SetWidgetOverlays(state.range(0) != 0);
  double logic = 0.0, paint = 0.0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    s.viewer->Update(0, 0, kWidth, kHeight);
    const auto t1 = std::chrono::steady_clock::now();
    s.viewer->render(&target);
    const auto t2 = std::chrono::steady_clock::now();
    logic += std::chrono::duration<double, std::milli>(t1 - t0).count();
    paint += std::chrono::duration<double, std::milli>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    benchmark::DoNotOptimize(target.constBits());
  }
  const double n = double(state.iterations());
  state.counters["paint_ms"] = paint / n;
  state.counters["logic_ms"] = logic / n;
  state.counters["widget_ms"] = (paint - logic) / n;
  s.SetWidgetOverlays(true);
}

// Playback as the playback bar drives it at `fps`: frame k is due at k ticks; a frame whose
// paint ends after the next tick is dropped. Frames are shown for two loops of the
// sequence, cached or (the first loop) from the files with the next one prefetched.
void Playback(benchmark::State& state, bool cached) {
  Setup& s = TheSetup();
  const double fps = double(state.range(0));
  QImage target = Target();
  for (auto _ : state) {
    state.PauseTiming();
    if (cached) {
      for (int k = 0; k < kFrames; ++k) s.Show(k, target);
    } else {
      s.tracker->GetImageCache()->SetCapacity(kFrames + 3);  // a larger capacity clears it
      s.tracker->GetImageCache()->SetCapacity(kFrames + 2);
    }
    state.ResumeTiming();
    const auto tick = std::chrono::duration<double>(1.0 / fps);
    const auto start = std::chrono::steady_clock::now();
    int dropped = 0;
    const int frames = cached ? 2 * kFrames : kFrames;
    for (int k = 0; k < frames; ++k) {
      const auto due =
          start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(tick * double(k));
      while (std::chrono::steady_clock::now() < due) {
      }
      s.Show((k + 1) % kFrames, target);  // frame 0 was shown before the run
      dropped += std::chrono::steady_clock::now() > due + tick;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["shown_fps"] = double(frames) / seconds;
    state.counters["dropped"] = dropped;
    state.counters["frames"] = frames;
  }
}

void BM_PlaybackCached(benchmark::State& state) {
  Playback(state, true);
}

void BM_PlaybackFirstLoop(benchmark::State& state) {
  Playback(state, false);
}

// Frames per second without a clock: how fast cached frames can be shown at all.
void BM_ShowCachedFrame(benchmark::State& state) {
  Setup& s = TheSetup();
  QImage target = Target();
  for (int k = 0; k < kFrames; ++k) s.Show(k, target);
  int k = 0;
  for (auto _ : state) {
    s.Show(k, target);
    k = (k + 1) % kFrames;
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_BareBlit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWidgetBlit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderAndBareBlit)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ViewerPaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ShowCachedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlaybackCached)
    ->Arg(25)
    ->Arg(30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_PlaybackFirstLoop)
    ->Arg(25)
    ->Arg(30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
// The ratio table, then the widget's own share of a paint against the bare blit.
class ViewerReporter : public RatioReporter {
 public:
  ViewerReporter()
      : RatioReporter("render+blit", {{"BM_ViewerPaint/0", "BM_RenderAndBareBlit"},
                                      {"BM_ViewerPaint/1", "BM_RenderAndBareBlit"}}) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.benchmark_name();
      if (name == "BM_BareBlit") Keep(blit_, run.GetAdjustedRealTime());
      if (name == "BM_BareWidgetBlit") Keep(widget_blit_, run.GetAdjustedRealTime());
      auto widget = run.counters.find("widget_ms");
      if (widget != run.counters.end()) Keep(widget_[name], widget->second.value);
    }
    RatioReporter::ReportRuns(runs);
  }
  void Finalize() override {
    RatioReporter::Finalize();
    if (blit_ <= 0.0) return;
    std::printf(
        "\nthe viewer widget's own share of a paint (the paint less the logic's rendering) "
        "against the bare blit (%.3f ms) and a bare widget's blit (%.3f ms):\n",
        blit_, widget_blit_);
    for (const auto& [name, ms] : widget_) {
      std::printf("%-48s %9.3f ms %7.2f x %7.2f x\n", name.c_str(), ms, ms / blit_,
                  widget_blit_ > 0.0 ? ms / widget_blit_ : 0.0);
    }
  }

 private:
  // With repetitions: the least disturbed run.
  static void Keep(double& slot, double value) {
    if (slot <= 0.0 || value < slot) slot = value;
  }
  double blit_ = 0.0;
  double widget_blit_ = 0.0;
  std::map<std::string, double> widget_;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  NotifyContext::SetNotifyLevel(2);
  benchmark::Initialize(&argc, argv);
  ViewerReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
