// One overlay over a 1920 x 1080 picture: 2,000 anti-aliased lines, 1,000 markers (crosses),
// 1,000 rings, 200 text labels and 50 filled polygons, drawn by our OverlayPainter and, side by
// side, by Qt's raster QPainter (antialiasing on) into a QImage over the same buffer.
// bench-peer: qt6-base-dev
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "scene/painter/overlay_painter.h"

#ifdef KALVEX_HAVE_QT
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include "bench/qt_offscreen_app.h"
#endif

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Scene {
  struct Line {
    double x1, y1, x2, y2, width;
    uint32_t colour;
  };
  struct Mark {
    double x, y, size;
    uint32_t colour;
  };
  struct Label {
    double x, y;
    std::string text;
  };
  std::vector<Line> lines;
  std::vector<Mark> crosses, rings;
  std::vector<Label> labels;
  std::vector<std::vector<PainterPoint>> polygons;
};

const Scene& TheScene() {
  static const Scene scene = [] {
    Scene s;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> x(0, kWidth), y(0, kHeight), u(0, 1);
    auto colour = [&] { return 0xFF000000u | static_cast<uint32_t>(rng() & 0xFFFFFF); };
    for (int i = 0; i < 2000; ++i) {
      const double cx = x(rng), cy = y(rng), a = u(rng) * 6.283, len = 5 + 60 * u(rng);
      s.lines.push_back(
          {cx, cy, cx + len * std::cos(a), cy + len * std::sin(a), 1 + 2 * u(rng), colour()});
    }
    for (int i = 0; i < 1000; ++i) s.crosses.push_back({x(rng), y(rng), 4 + 4 * u(rng), colour()});
    for (int i = 0; i < 1000; ++i) s.rings.push_back({x(rng), y(rng), 3 + 6 * u(rng), colour()});
    for (int i = 0; i < 200; ++i)
      s.labels.push_back({x(rng), y(rng), "Image: " + std::to_string(1000 + i)});
    for (int i = 0; i < 50; ++i) {
      const double cx = x(rng), cy = y(rng), r = 20 + 80 * u(rng);
      std::vector<PainterPoint> p;
      for (int k = 0; k < 12; ++k) {
        const double a = k * 6.283 / 12, rr = r * (0.6 + 0.4 * u(rng));
        p.push_back({cx + rr * std::cos(a), cy + rr * std::sin(a)});
      }
      s.polygons.push_back(p);
    }
    return s;
  }();
  return scene;
}

std::vector<uint32_t> buffer(size_t(kWidth) * kHeight);

void BM_OverlayPainter(benchmark::State& state) {
  const Scene& s = TheScene();
  OverlayPainter painter;
  painter.SetTarget(ArrayMap<uint32_t>(buffer.data(), kWidth, kWidth, kHeight));
  for (auto _ : state) {
    painter.Clear(0xFF202020);
    for (const auto& l : s.lines) painter.DrawLine(l.x1, l.y1, l.x2, l.y2, l.width, l.colour);
    for (const auto& m : s.crosses) painter.DrawCross(m.x, m.y, m.size, m.size, 1.5, m.colour);
    for (const auto& m : s.rings) painter.DrawCircle(m.x, m.y, m.size, 1.5, m.colour);
    for (const auto& t : s.labels)
      painter.DrawText(t.x, t.y, t.text.c_str(), int(t.text.size()), 0xFFC8C8C8);
    for (const auto& p : s.polygons) painter.FillPolygon(p.data(), int(p.size()), 0x80FF8040);
    benchmark::DoNotOptimize(buffer.data());
  }
}
BENCHMARK(BM_OverlayPainter)->UseRealTime()->Unit(benchmark::kMillisecond);

#ifdef KALVEX_HAVE_QT
void BM_PeerQPainter(benchmark::State& state) {
  const Scene& s = TheScene();
  QImage image(reinterpret_cast<uchar*>(buffer.data()), kWidth, kHeight, kWidth * 4,
               QImage::Format_RGB32);
  QFont font("DejaVu Sans Mono");
  font.setPixelSize(13);
  std::vector<QPolygonF> polygons;
  for (const auto& p : s.polygons) {
    QPolygonF q;
    for (const auto& v : p) q << QPointF(v.x, v.y);
    polygons.push_back(q);
  }
  std::vector<QString> labels;
  for (const auto& t : s.labels) labels.push_back(QString::fromStdString(t.text));
  auto qcolour = [](uint32_t c) { return QColor::fromRgba(c); };
  for (auto _ : state) {
    image.fill(QColor(0x20, 0x20, 0x20));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const auto& l : s.lines) {
      p.setPen(QPen(qcolour(l.colour), l.width, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(l.x1, l.y1), QPointF(l.x2, l.y2));
    }
    p.setPen(Qt::NoPen);
    for (const auto& m : s.crosses) {
      p.fillRect(QRectF(m.x - m.size, m.y - 0.75, 2 * m.size, 1.5), qcolour(m.colour));
      p.fillRect(QRectF(m.x - 0.75, m.y - m.size, 1.5, 2 * m.size), qcolour(m.colour));
    }
    p.setBrush(Qt::NoBrush);
    for (const auto& m : s.rings) {
      p.setPen(QPen(qcolour(m.colour), 1.5));
      p.drawEllipse(QPointF(m.x, m.y), m.size + 0.75, m.size + 0.75);
    }
    p.setFont(font);
    p.setPen(QColor(200, 200, 200));
    for (size_t i = 0; i < labels.size(); ++i)
      p.drawText(QPointF(s.labels[i].x, s.labels[i].y + 11), labels[i]);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0x80, 0x40, 0x80));
    for (const auto& q : polygons) p.drawPolygon(q, Qt::OddEvenFill);
    p.end();
    benchmark::DoNotOptimize(buffer.data());
  }
}
BENCHMARK(BM_PeerQPainter)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef KALVEX_HAVE_QT
  OffscreenGuiApp app("bench_overlay_paint");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter("QPainter", {{"BM_OverlayPainter", "BM_PeerQPainter"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
