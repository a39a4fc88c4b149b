// A full redraw of the image view and of the scene view of one solve, against Qt's raster
// QPainter (antialiasing on) drawing the same content into a QImage over the same buffer.
//
// The solve: 21 frames of 1920 x 1080 from a camera moving sideways (focal 1500 pixels),
// 2,000 tracks over all of them, each with its 3D point. The image view shows frame 10
// with the frame, its border, the 3D overlay (the point cloud through the frame's camera),
// every feature with its 10-frame history before and after, its error ellipse and the
// line to its projected point, 8 named polygon masks and the frame label. The scene view
// shows the same solve from the observer: point cloud, camera, camera path, ground grid and
// axes, with the label and the axis legend.
//
// The peer draws the same primitives: the scene's markers, lines and polygons recorded
// from the scene itself and projected with the view's own matrix (textures drawn as flat
// fills), and the overlays' crosses, history segments, ellipses, lines, masks, discs and
// text from the same data. Both run on 1 and 2 threads (QPainter uses one either way).
//
// bench-peer: qt6-base-dev
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/ratio_reporter.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"
#include "image/packed_string_list.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer.h"
#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "scene/objects/recording_render_for_test.h"
#include "scene/scene.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"

#ifdef KALVEX_HAVE_QT
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include "bench/qt_offscreen_app.h"
#endif

namespace {

using uic::ViewerBase;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kFrames = 21, kShown = 10, kHistory = 10;
constexpr int kTracks = 2000, kMasks = 8;
constexpr double kFocal = 1500.0;

void Link(const SharedPtr<FeaturePoint2D>& earlier, const SharedPtr<FeaturePoint2D>& later) {
  auto link = SharedPtr<FeatureCorrespondence>::Make();
  link->SetFirst(earlier);
  link->SetSecond(later);
  link->SetScore(1.0f);
  link->SetFlags(0x61);
  earlier->SetSuccessor(link);
  later->SetPredecessor(link);
}

// The solve and the two views, built once and kept for the process.
struct Job {
  std::string folder;
  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current{&tracker};
  uic::Viewer image_view, scene_view;
  // tracks[t][k]: track t's position in frame k; projected[t]: its point in frame kShown.
  std::vector<std::vector<PainterPoint>> tracks;
  std::vector<PainterPoint> projected;
  std::vector<std::vector<PainterPoint>> masks;
  std::vector<uint8_t> grey;  // the frame's pixels

  Job() {
    char name[] = "/tmp/kx_view_redraw_XXXXXX";
    folder = mkdtemp(name);
    // A frame with structure: a gradient under noise.
    std::mt19937 rng(5);
    grey.resize(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x)
        grey[size_t(y) * kWidth + x] = uint8_t((x + y) / 12 + rng() % 40);
    }
    const std::string path = folder + "/frame.pgm";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "P5\n%d %d\n255\n", kWidth, kHeight);
    std::fwrite(grey.data(), 1, grey.size(), f);
    std::fclose(f);
    auto list = SharedPtr<PackedStringList>::Make();
    for (int k = 0; k < kFrames; ++k) list->Append(path.c_str(), k);
    if (tracker.SetSequence(list) != 0) std::fprintf(stderr, "view_redraw: no sequence\n");

    // Cameras 5 cm apart along x, looking down +z.
    const double none[4] = {0, 0, 0, 0};
    std::vector<PerspectiveCamera> cameras(kFrames);
    for (int k = 0; k < kFrames; ++k) {
      FeatureImage& image = *tracker.GetImageList()[size_t(k)];
      image.SetPixelSize(0.01, 0.01);
      cameras[size_t(k)].SetAll({0.05 * (k - kShown), 0, 0}, {0, 0, 1}, {kFocal, 0, 0},
                                {0, kFocal, 0}, kWidth, kHeight, 0.01, 0.01, none, none, nullptr);
      image.CopyFrom(cameras[size_t(k)], false);
    }
    FeatureMap& map = *tracker.GetFeatureMap();
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.3);
    const double cx = (kWidth - 1) / 2.0, cy = (kHeight - 1) / 2.0;
    for (int t = 0; t < kTracks; ++t) {
      const double x = 40 + u(rng) * (kWidth - 80), y = 40 + u(rng) * (kHeight - 80);
      const double z = 5.0 + 25.0 * u(rng);
      auto p = SharedPtr<FeaturePoint3D>::Make((x - cx) / kFocal * z, (y - cy) / kFocal * z, z,
                                               FeaturePoint3D::eCartesian);
      map.AddFPoint3D(p);
      projected.push_back({x, y});
      std::vector<PainterPoint> track;
      SharedPtr<FeaturePoint2D> last;
      for (int k = 0; k < kFrames; ++k) {
        FeatureImage& image = *tracker.GetImageList()[size_t(k)];
        const double px = x + kFocal * (-0.05 * (k - kShown)) / z + noise(rng);
        const double py = y + noise(rng);
        auto feature = SharedPtr<FeaturePoint2D>::Make(&image, px, py);
        feature->SetFPoint3D(p);
        image.AddFPoint2D(feature);
        if (last) Link(last, feature);
        last = feature;
        track.push_back({px, py});
      }
      tracks.push_back(track);
    }
    for (int m = 0; m < kMasks; ++m) {
      const double mx = 150 + 220 * m, my = 200 + 80 * (m % 4), r = 60 + 10 * m;
      std::vector<Vertex> v(8);
      std::vector<PainterPoint> outline;
      for (int i = 0; i < 8; ++i) {
        const double a = i * std::numbers::pi / 4, rr = r * (i % 2 ? 0.7 : 1.0);
        v[size_t(i)].SetKey(0, {mx + rr * std::cos(a), my + rr * std::sin(a), 0.0});
        outline.push_back({mx + rr * std::cos(a), my + rr * std::sin(a)});
      }
      tracker.GetVertexObjectPool().AddPolygonMask(kFrames, v, 0)->SetName("mask");
      masks.push_back(outline);
    }
    uic::Controller::Instance()->GetScene()->SetData(&tracker);

    const int flags = ViewerBase::eShowFrame | ViewerBase::eShowSceneOverFrame | 0x4 |
                      ViewerBase::eShowAutoFeatures | ViewerBase::eShowHistory |
                      ViewerBase::eShowEllipses | ViewerBase::eShow3DLines | ViewerBase::eShowMasks;
    for (uic::Viewer* v : {&image_view, &scene_view}) {
      v->Resize(kWidth, kHeight);
      v->SetFImage(tracker.GetFImage(kShown));
      v->m_zoom = 1.0;
      v->m_offset_x = v->m_offset_y = 0;
      uic::ViewerState& s = v->m_states.back();
      s.m_history_before = s.m_history_after = kHistory;
      s.m_flags = flags;
    }
    uic::ViewerState& s = scene_view.m_states.back();
    s.m_mode = 1;
    s.m_flags = 0x4 | 0x400000 | 0x1000000 | 0x200000 | 0x100000;
    scene_view.ActiveObserver().SetDistance(40.0);
    image_view.Redraw();  // the frame into the cache, the point cloud into the scene
    scene_view.Redraw();
  }
};

Job& TheJob() {
  static Job* job = new Job;  // kept to the end: the controller refers to its tracker
  return *job;
}

// With KX_VIEW_REDRAW_DUMP set to a folder, each benchmark leaves its last picture there as
// binary PPM (<name>.ppm), to compare the two pictures.
void Dump(const char* name, const ArrayMap<uint32_t>& b) {
  const char* folder = std::getenv("KX_VIEW_REDRAW_DUMP");
  if (folder == nullptr) return;
  FILE* f = std::fopen((std::string(folder) + "/" + name + ".ppm").c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f, "P6\n%u %u\n255\n", b.width, b.height);
  for (uint32_t y = 0; y < b.height; ++y) {
    for (uint32_t x = 0; x < b.width; ++x) {
      const uint32_t c = b.data[size_t(y) * b.stride + x];
      const unsigned char rgb[3] = {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
      std::fwrite(rgb, 1, 3, f);
    }
  }
  std::fclose(f);
}

void Redraw(benchmark::State& state, uic::Viewer& view, const char* name) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    view.Redraw();
    benchmark::DoNotOptimize(view.GetBuffer().data);
  }
  Dump(name, view.GetBuffer());
}

void BM_OursImageView(benchmark::State& state) {
  Redraw(state, TheJob().image_view, "ours_image");
}
void BM_OursSceneView(benchmark::State& state) {
  Redraw(state, TheJob().scene_view, "ours_scene");
}
BENCHMARK(BM_OursImageView)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursSceneView)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

#ifdef KALVEX_HAVE_QT

// The scene as the view's renderer sees it, projected to view pixels like the renderer does
// (rows 0, 1 and 3 of its matrix, depth normalised as in its set-up).
struct Shapes {
  struct Marker {
    QPointF at;
    double half;
    QColor colour;
  };
  struct Line {
    QPointF a, b;
    double width;
    QColor colour;
  };
  struct Fill {
    QPolygonF outline;
    QColor colour;
  };
  std::vector<Marker> markers;
  std::vector<Line> lines;
  std::vector<Fill> fills;
};

Shapes Record(const uic::Viewer& view) {
  const RenderContext& context = view.m_render_context;
  Matrix3x4 m = context.GetRenderView();
  double q[3];
  for (int i = 0; i < 3; ++i) q[i] = m[i][0] * m[i][0] + m[i][1] * m[i][1] + m[i][2] * m[i][2];
  const double d = std::sqrt(std::sqrt(q[0] * q[1]) / q[2]);
  for (int c = 0; c < 4; ++c) m[2][c] *= d;
  // What the view's own redraw shows of the scene.
  Scene& scene = *uic::Controller::Instance()->GetScene();
  const uic::ViewerState& state = view.m_states.back();
  scene.UpdateObjectFlags(state.m_mode, static_cast<uint32_t>(state.m_flags));
  kxtest::RecordingRender recorder;
  recorder.focal = d;
  recorder.RenderSubtree(m, scene);
  const double* pp = context.GetPrincipalPoint();
  constexpr double kNear = 0.1;
  auto at = [&](const vm::Vector3& p) {
    return QPointF(pp[0] + d * p.x / p.z, pp[1] + d * p.y / p.z);
  };
  auto colour = [](uint32_t c) { return QColor::fromRgba(c | 0xFF000000u); };
  Shapes s;
  for (const auto& k : recorder.markers) {
    if (k.p.z > kNear) s.markers.push_back({at(k.p), k.size, colour(k.color)});
  }
  for (const auto& l : recorder.lines) {
    // Cut at the near plane as the renderer does.
    vm::Vector3 a = l.a, b = l.b;
    if (a.z <= kNear && b.z <= kNear) continue;
    if (a.z <= kNear) std::swap(a, b);
    if (b.z <= kNear) b = a + (b - a) * ((a.z - kNear) / (a.z - b.z));
    s.lines.push_back({at(a), at(b), l.width, colour(l.color)});
  }
  for (const auto& p : recorder.polygons) {
    QPolygonF outline;
    bool front = true;
    for (const vm::Vector3& v : p.points) {
      front = front && v.z > kNear;
      outline << at(v);
    }
    if (front) s.fills.push_back({outline, colour(p.color)});
  }
  return s;
}

void PaintShapes(QPainter& p, const Shapes& s) {
  p.setPen(Qt::NoPen);
  for (const auto& f : s.fills) {
    p.setBrush(f.colour);
    p.drawPolygon(f.outline);
  }
  p.setBrush(Qt::NoBrush);
  for (const auto& l : s.lines) {
    p.setPen(QPen(l.colour, l.width));
    p.drawLine(l.a, l.b);
  }
  p.setPen(Qt::NoPen);
  for (const auto& k : s.markers) {
    p.fillRect(QRectF(k.at.x() - k.half, k.at.y() - k.half, 2 * k.half, 2 * k.half), k.colour);
  }
}

QColor Slot(int slot) {
  return QColor::fromRgba(DisplaySettings::Get().SlotColor(slot));
}

// The view's buffer as a QImage, and the peer's label font.
QImage Over(const ArrayMap<uint32_t>& b) {
  return QImage(reinterpret_cast<uchar*>(b.data), int(b.width), int(b.height), int(b.stride) * 4,
                QImage::Format_RGB32);
}
QFont LabelFont() {
  QFont font("DejaVu Sans Mono");
  font.setPixelSize(13);
  return font;
}

void BM_PeerImageView(benchmark::State& state) {
  Job& job = TheJob();
  const Shapes shapes = Record(job.image_view);
  const ArrayMap<uint32_t>& b = job.image_view.GetBuffer();
  QImage target = Over(b);
  QImage frame(kWidth, kHeight, QImage::Format_RGB32);  // as the image cache holds it
  for (int y = 0; y < kHeight; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(frame.scanLine(y));
    for (int x = 0; x < kWidth; ++x)
      row[x] = 0xFF000000u | 0x010101u * job.grey[size_t(y) * kWidth + x];
  }
  const QFont font = LabelFont();
  const DisplaySettings& ds = DisplaySettings::Get();
  const bool polyline = ds.SlotColor(DS_SLOT_TRACK) == ds.SlotColor(DS_SLOT_TRACK_UNSUPPORTED);
  const double r = ds.marker_circle_radius;
  std::vector<QPointF> ring(10);
  for (int k = 0; k < 10; ++k)
    ring[size_t(k)] = {r * std::cos(k * 0.2 * std::numbers::pi),
                       r * std::sin(k * 0.2 * std::numbers::pi)};
  for (auto _ : state) {
    QPainter p(&target);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.drawImage(QPointF(0, 0), frame);
    p.setPen(QPen(Slot(DS_SLOT_IMAGE_FRAME), 0.75));
    p.drawLine(QPointF(0, -1e5), QPointF(0, 1e5));
    p.drawLine(QPointF(kWidth, -1e5), QPointF(kWidth, 1e5));
    p.drawLine(QPointF(-1e5, 0), QPointF(1e5, 0));
    p.drawLine(QPointF(-1e5, kHeight), QPointF(1e5, kHeight));
    PaintShapes(p, shapes);
    const QPen track(Slot(DS_SLOT_TRACK), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    const QPen marker(Slot(DS_SLOT_FEATURE_TRACKED), 1.5, Qt::SolidLine, Qt::FlatCap);
    const QPen line(Slot(DS_SLOT_POINT_IN_IMAGE), 1.5, Qt::SolidLine, Qt::FlatCap);
    QPolygonF points, ellipse(10);
    for (size_t t = 0; t < job.tracks.size(); ++t) {
      const auto& path = job.tracks[t];
      const QPointF f(path[kShown].x + 0.5, path[kShown].y + 0.5);
      p.setPen(track);
      if (polyline) {
        points.clear();
        for (const auto& q : path) points << QPointF(q.x + 0.5, q.y + 0.5);
        p.drawPolyline(points);
      } else {
        for (size_t k = 1; k < path.size(); ++k) {
          p.drawLine(QPointF(path[k - 1].x + 0.5, path[k - 1].y + 0.5),
                     QPointF(path[k].x + 0.5, path[k].y + 0.5));
        }
      }
      p.setPen(marker);
      p.drawLine(f - QPointF(5, 0), f + QPointF(5, 0));
      p.drawLine(f - QPointF(0, 5), f + QPointF(0, 5));
      for (int k = 0; k < 10; ++k) ellipse[k] = f + ring[size_t(k)];
      p.drawPolygon(ellipse);
      p.setPen(line);
      p.drawLine(QPointF(job.projected[t].x + 0.5, job.projected[t].y + 0.5), f);
    }
    for (const auto& m : job.masks) {
      QPolygonF outline;
      for (const auto& q : m) outline << QPointF(q.x + 0.5, q.y + 0.5);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0, 0, 255, 0x80));
      p.drawPolygon(outline, Qt::OddEvenFill);
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(Slot(DS_SLOT_MASK), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
      p.drawPolygon(outline);
      p.setPen(Qt::NoPen);
      p.setBrush(Slot(DS_SLOT_VERTEX_MARKER));
      for (const QPointF& v : outline) p.drawEllipse(v, 4.0, 4.0);
      p.setBrush(Qt::NoBrush);
    }
    p.setFont(font);
    p.setPen(Slot(DS_SLOT_IMAGE_LABEL));
    p.drawText(QPointF(10, 21), QStringLiteral("Image: 0010"));
    p.end();
    benchmark::DoNotOptimize(b.data);
  }
  Dump("qpainter_image", b);
}

void BM_PeerSceneView(benchmark::State& state) {
  Job& job = TheJob();
  const Shapes shapes = Record(job.scene_view);
  const ArrayMap<uint32_t>& b = job.scene_view.GetBuffer();
  QImage target = Over(b);
  const QFont font = LabelFont();
  const QColor background = Slot(DS_SLOT_SCENE_BACKGROUND);
  for (auto _ : state) {
    target.fill(background);
    QPainter p(&target);
    p.setRenderHint(QPainter::Antialiasing, true);
    PaintShapes(p, shapes);
    p.setFont(font);
    p.setPen(Slot(DS_SLOT_SCENE_LABEL));
    p.drawText(QPointF(10, 21), QStringLiteral("Image: 0010"));
    const char* const legend[3] = {"x -", "y -", "z -"};
    const QColor colours[3] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
      p.setPen(colours[i]);
      p.drawText(QPointF(10, kHeight - 44 + 15 * i), QString::fromLatin1(legend[i]));
    }
    p.end();
    benchmark::DoNotOptimize(b.data);
  }
  Dump("qpainter_scene", b);
}
BENCHMARK(BM_PeerImageView)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerSceneView)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef KALVEX_HAVE_QT
  OffscreenGuiApp app("bench_view_redraw");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheJob();
#ifdef KALVEX_HAVE_QT
  {
    const Shapes image = Record(TheJob().image_view), scene = Record(TheJob().scene_view);
    std::printf(
        "image view: %zu tracks, 3D overlay %zu markers, %zu lines, %zu polygons; "
        "scene view: %zu markers, %zu lines, %zu polygons\n",
        TheJob().tracks.size(), image.markers.size(), image.lines.size(), image.fills.size(),
        scene.markers.size(), scene.lines.size(), scene.fills.size());
  }
#endif
  RatioReporter reporter("QPainter", {{"BM_OursImageView", "BM_PeerImageView"},
                                      {"BM_OursSceneView", "BM_PeerSceneView"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::remove((TheJob().folder + "/frame.pgm").c_str());
  rmdir(TheJob().folder.c_str());
  return 0;
}
