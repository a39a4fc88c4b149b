// Frame time of the software renderer on a scene shaped like a solved long shot, against
// Mesa's llvmpipe drawing the same points, lines and triangles with a depth test through
// OSMesa.
//
// The scene, seen by a 1920 × 1080 camera of focal 1500 pixels with 2 × 2 supersampling:
// a cloud of 20,000 3D points (square markers), a 500-camera track (a polyline with a
// marker per camera), the ground grid and the axes, 20 cuboids (five of them translucent)
// and one textured ground mesh of 20,000 triangles. llvmpipe draws the same primitives at
// the same sample resolution (3840 × 2160) and the frame is read back into memory; its
// thread count is set through LP_NUM_THREADS, which llvmpipe reads once per process, so
// each of its runs happens in a child process.
//
// Each benchmark reports the median of 20 frames (after two warm-up frames) on 1 and 2
// threads and on all processors; the table at the end gives both and the ratio, and our
// speed-up from 1 to 2 threads. Our frame is RenderScene drawing over a background painted
// before it (as the viewer paints the image first; the painting is not timed); llvmpipe's
// frame includes its clear and the read-back.
//
// bench-peer: libosmesa6-dev
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/runtime/worker_pool.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/element_render.h"
#include "scene/render/render_context.h"
#include "scene/render/render_projection.h"
#include "scene/render/shape_node_for_test.h"

#ifdef KALVEX_HAVE_OSMESA
#include <GL/gl.h>
#include <GL/osmesa.h>
#endif

namespace {

using vm::Vector3;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr unsigned kSampleFactor = 2;
constexpr double kFocal = 1500.0;
constexpr int kFrames = 20;
// Large nodes (the mesh, the cloud) draw in parts of this many primitives, so that the
// threads share them while recording.
constexpr int kPartSize = 1000;

using kxtest::ShapeNode;

class Lcg {
 public:
  double Uniform(double a, double b) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return a + (b - a) * static_cast<double>(state_ >> 11) / 9007199254740992.0;
  }
  std::uint32_t Bits() { return static_cast<std::uint32_t>(Uniform(0, 4294967295.0)); }

 private:
  std::uint64_t state_ = 42;
};

// The long shot: the ground 2 units below the camera, reaching 3 to 90 units ahead.
struct Scene {
  NHSObject root{NHS_TYPE_SCENE};
  std::vector<std::uint32_t> texels;
  NHSTexture texture;
  std::vector<const ShapeNode*> nodes;

  Scene() : texels(512 * 512) {
    Lcg rng;
    for (std::size_t i = 0; i < texels.size(); ++i) {
      const std::uint32_t x = i % 512, y = i / 512;
      texels[i] = 0xff000000u | ((x ^ y) & 0xff) << 16 | (x & 0xff) << 8 | (y & 0xff);
    }
    texture = {texels.data(), 9, 9};

    ShapeNode* mesh = Add();  // the textured ground: 100 × 100 quads
    mesh->texture = &texture;
    for (int i = 0; i < 100; ++i) {
      for (int j = 0; j < 100; ++j) {
        auto at = [&](int a, int b) {
          const double x = -40.0 + 0.8 * a, z = 3.0 + 0.87 * b;
          return Vector3{x, 2.0 + 0.3 * std::sin(0.3 * a) * std::cos(0.2 * b), z};
        };
        const Vector3 p00 = at(i, j), p10 = at(i + 1, j), p01 = at(i, j + 1),
                      p11 = at(i + 1, j + 1);
        const double u0 = i / 100.0, u1 = (i + 1) / 100.0, v0 = j / 100.0, v1 = (j + 1) / 100.0;
        mesh->polygons.push_back(
            {{p00, p01, p11}, 3, 0x00ffffff, false, true, {u0, v0, u0, v1, u1, v1}});
        mesh->polygons.push_back(
            {{p00, p11, p10}, 3, 0x00ffffff, false, true, {u0, v0, u1, v1, u1, v0}});
      }
    }

    ShapeNode* cloud = Add();
    for (int i = 0; i < 20000; ++i) {
      cloud->markers.push_back({{rng.Uniform(-35, 35), rng.Uniform(-6, 1.9), rng.Uniform(5, 90)},
                                kMarkerSquare,
                                1.5,
                                0x01000000u | (rng.Bits() & 0xffffff)});
    }

    ShapeNode* track = Add();
    Vector3 prev;
    for (int i = 0; i < 500; ++i) {
      const double t = i / 499.0;
      const Vector3 c{-20.0 + 40.0 * t, 0.5 + 0.2 * std::sin(9 * t),
                      8.0 + 20.0 * t + 3 * std::sin(5 * t)};
      track->markers.push_back({c, kMarkerSquare, 2.0, 0x01ff4040});
      if (i > 0) track->lines.push_back({prev, c, 1.0, 0xffff4040});
      prev = c;
    }

    ShapeNode* grid = Add();
    for (int k = -10; k <= 10; ++k) {
      grid->lines.push_back({{4.0 * k, 1.95, 3.0}, {4.0 * k, 1.95, 90.0}, 1.0, 0xff808080});
      grid->lines.push_back({{-40.0, 1.95, 3.0 + 4.35 * (k + 10)},
                             {40.0, 1.95, 3.0 + 4.35 * (k + 10)},
                             1.0,
                             0xff808080});
    }
    ShapeNode* axes = Add();
    const Vector3 o{0, 1.9, 20};
    axes->lines.push_back({o, o + Vector3{3, 0, 0}, 2.0, 0xffff0000});
    axes->lines.push_back({o, o + Vector3{0, -3, 0}, 2.0, 0xff00ff00});
    axes->lines.push_back({o, o + Vector3{0, 0, 3}, 2.0, 0xff0000ff});

    for (int k = 0; k < 20; ++k) {  // cuboids standing on the ground, closed and one-sided
      ShapeNode* box = Add();
      const double s = rng.Uniform(0.5, 2.0);
      const Vector3 c{rng.Uniform(-25, 25), 2.0 - s, rng.Uniform(8, 70)};
      const std::uint32_t color =
          (k % 4 == 0 ? 0x80000000u : 0xff000000u) | (rng.Bits() & 0xffffff);
      Vector3 v[8];
      for (int i = 0; i < 8; ++i)
        v[i] = c + Vector3{i & 1 ? s : -s, i & 2 ? s : -s, i & 4 ? s : -s};
      // Faces wound so that (P0 − P1) × (P1 − P2) points inward: facing the viewer from outside.
      const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                               {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
      for (const auto& f : faces) {
        box->polygons.push_back({{v[f[0]], v[f[1]], v[f[2]]}, 3, color, true, false, {}});
        box->polygons.push_back({{v[f[0]], v[f[2]], v[f[3]]}, 3, color, true, false, {}});
      }
    }
  }

  ShapeNode* Add() {
    ShapeNode* node = new ShapeNode;
    node->part_size = kPartSize;
    root.AddChild(node);
    nodes.push_back(node);
    return node;
  }
};

const Scene& TheScene() {
  static const Scene scene;
  return scene;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// Median of kFrames frames after two warm-up frames, in seconds; prepare() runs untimed
// before each frame.
template <class Prepare, class Frame>
double MedianFrame(Prepare prepare, Frame frame) {
  std::vector<double> times;
  for (int i = 0; i < kFrames + 2; ++i) {
    prepare();
    const auto t0 = std::chrono::steady_clock::now();
    frame();
    const auto t1 = std::chrono::steady_clock::now();
    if (i >= 2) times.push_back(std::chrono::duration<double>(t1 - t0).count());
  }
  return Median(times);
}

template <class Frame>
double MedianFrame(Frame frame) {
  return MedianFrame([] {}, frame);
}

// With RENDER_SCENE_DUMP=<folder> set, the last frame of each run is written there as a
// binary PPM (<who>_<threads>.ppm), to compare the pictures.
void Dump(const char* who, int threads, const std::uint32_t* pixels, int w, int h, bool y_up) {
  const char* folder = std::getenv("RENDER_SCENE_DUMP");
  if (folder == nullptr) return;
  const std::string path = std::string(folder) + "/" + who + "_" + std::to_string(threads) + ".ppm";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  std::fprintf(file, "P6\n%d %d\n255\n", w, h);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* p = pixels + static_cast<std::size_t>(y_up ? h - 1 - y : y) * w;
    for (int x = 0; x < w; ++x) {
      row[3 * x] = static_cast<unsigned char>(p[x] >> 16);
      row[3 * x + 1] = static_cast<unsigned char>(p[x] >> 8);
      row[3 * x + 2] = static_cast<unsigned char>(p[x]);
    }
    std::fwrite(row.data(), 1, row.size(), file);
  }
  std::fclose(file);
}

int AllThreads() {
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}
int Threads(int arg) {
  return arg == 0 ? AllThreads() : arg;
}

std::map<std::string, double> g_medians;  // "ours/2" → seconds

void Record(benchmark::State& state, const char* who, int threads, double median) {
  state.SetIterationTime(median);
  state.counters["threads"] = threads;
  state.counters["median_ms"] = median * 1e3;
  g_medians[std::string(who) + "/" + std::to_string(state.range(0))] = median;
}

void BM_Ours(benchmark::State& state) {
  const Scene& scene = TheScene();
  const int threads = Threads(static_cast<int>(state.range(0)));
  WorkerPool::SetNumberOfThreads(threads);
  std::vector<std::uint32_t> buffer(static_cast<std::size_t>(kWidth) * kHeight);
  RenderContext context;
  context.SetSampleFactor(kSampleFactor);
  Matrix4x4 camera;
  camera.SetZero();
  camera[0][0] = camera[1][1] = kFocal;
  camera[2][2] = camera[3][2] = 1.0;
  context.SetViewMatrix(camera);
  context.SetPrincipalPoint(kWidth / 2.0, kHeight / 2.0);
  context.SetTarget(buffer.data(), kWidth, kWidth, kHeight, 0, 0, kWidth, kHeight);
  for (auto _ : state) {
    // The renderer draws over the picture the viewer painted first (here a plain
    // background, not timed); llvmpipe's frame includes its clear.
    Record(state, "ours", threads,
           MedianFrame([&] { std::fill(buffer.begin(), buffer.end(), 0xff202830u); },
                       [&] { context.RenderScene(&scene.root); }));
  }
  Dump("ours", threads, buffer.data(), kWidth, kHeight, false);
}

#ifdef KALVEX_HAVE_OSMESA

// The same primitives at the same sample resolution, in view coordinates through a
// projection with the same focal length and centre (GL window y grows upwards).
double LlvmpipeMedian() {
  const Scene& scene = TheScene();
  const int w = kWidth * kSampleFactor, h = kHeight * kSampleFactor;
  OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_BGRA, 24, 0, 0, nullptr);
  if (ctx == nullptr) return -1.0;
  std::vector<std::uint32_t> target(static_cast<std::size_t>(w) * h), read_back(target.size());
  if (!OSMesaMakeCurrent(ctx, target.data(), GL_UNSIGNED_BYTE, w, h)) return -1.0;
  OSMesaPixelStore(OSMESA_Y_UP, 0);

  const double f = kFocal * kSampleFactor, cx = kWidth * kSampleFactor / 2.0,
               cy = kHeight * kSampleFactor / 2.0, n = 1.0, far = 1000.0;
  const double P[16] = {2 * f / w,
                        0,
                        0,
                        0,
                        0,
                        -2 * f / h,
                        0,
                        0,
                        2 * cx / w - 1,
                        1 - 2 * cy / h,
                        (far + n) / (far - n),
                        1,
                        0,
                        0,
                        -2 * far * n / (far - n),
                        0};  // column-major
  glViewport(0, 0, w, h);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixd(P);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glShadeModel(GL_FLAT);

  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 512, 512, 0, GL_BGRA, GL_UNSIGNED_BYTE,
               scene.texels.data());
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);

  // Client arrays, built once: opaque, textured and translucent triangles, lines by width,
  // points.
  RenderProjection shading;
  std::vector<float> tri_v, tri_c, tex_v, tex_uv, glass_v, glass_c;
  struct LineBatch {
    std::vector<float> v, c;
  };
  std::map<double, LineBatch> lines;
  std::vector<float> point_v, point_c;
  auto color4 = [](std::vector<float>& out, std::uint32_t c, float a) {
    out.insert(out.end(),
               {((c >> 16) & 0xff) / 255.f, ((c >> 8) & 0xff) / 255.f, (c & 0xff) / 255.f, a});
  };
  for (const ShapeNode* node : scene.nodes) {
    for (const ShapeNode::Polygon& t : node->polygons) {
      const Vector3* p = t.points;  // triangles only in this scene
      const Vector3 normal = (p[0] - p[1]).Cross(p[1] - p[2]);
      if (t.one_sided && p[1].Dot(normal) >= 0.0) continue;  // culled as ours does
      const double shade = shading.ShadeFactor(normal, t.one_sided);
      for (int k = 0; k < 3; ++k) {
        const float v[3] = {float(p[k].x), float(p[k].y), float(p[k].z)};
        if (t.textured) {
          tex_v.insert(tex_v.end(), v, v + 3);
          tex_uv.insert(tex_uv.end(), {float(t.uv[2 * k]), float(t.uv[2 * k + 1])});
        } else if ((t.color >> 24) == 0xff) {
          tri_v.insert(tri_v.end(), v, v + 3);
          const std::uint32_t c = static_cast<std::uint32_t>(ShadeColor(t.color, shade));
          color4(tri_c, c, 1.f);
        } else {
          glass_v.insert(glass_v.end(), v, v + 3);
          color4(glass_c, t.color, (t.color >> 24) / 255.f);
        }
      }
    }
    for (const ShapeNode::Line& l : node->lines) {
      LineBatch& b = lines[l.width];
      b.v.insert(b.v.end(), {float(l.a.x), float(l.a.y), float(l.a.z), float(l.b.x), float(l.b.y),
                             float(l.b.z)});
      color4(b.c, l.color, 1.f);
      color4(b.c, l.color, 1.f);
    }
    for (const ShapeNode::Marker& m : node->markers) {
      point_v.insert(point_v.end(), {float(m.p.x), float(m.p.y), float(m.p.z)});
      color4(point_c, m.color, 1.f);
    }
  }

  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  auto frame = [&] {
    glDepthMask(GL_TRUE);  // glClear honours the mask the last frame left
    glDisable(GL_BLEND);
    glClearColor(0.125f, 0.157f, 0.188f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glVertexPointer(3, GL_FLOAT, 0, tri_v.data());
    glColorPointer(4, GL_FLOAT, 0, tri_c.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(tri_v.size() / 3));
    glDisableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnable(GL_TEXTURE_2D);
    glVertexPointer(3, GL_FLOAT, 0, tex_v.data());
    glTexCoordPointer(2, GL_FLOAT, 0, tex_uv.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(tex_v.size() / 3));
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (const auto& [width, b] : lines) {
      glLineWidth(static_cast<float>(width * kSampleFactor));
      glVertexPointer(3, GL_FLOAT, 0, b.v.data());
      glColorPointer(4, GL_FLOAT, 0, b.c.data());
      glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(b.v.size() / 3));
    }
    glPointSize(7.0f);  // size 1.5 at F = 2: half-size 3 samples, 7 × 7
    glVertexPointer(3, GL_FLOAT, 0, point_v.data());
    glColorPointer(4, GL_FLOAT, 0, point_c.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(point_v.size() / 3));
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    glVertexPointer(3, GL_FLOAT, 0, glass_v.data());
    glColorPointer(4, GL_FLOAT, 0, glass_c.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(glass_v.size() / 3));
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, read_back.data());
  };
  const double median = MedianFrame(frame);
  Dump("llvmpipe", std::atoi(std::getenv("LP_NUM_THREADS")), read_back.data(), w, h, true);
  glDeleteTextures(1, &tex);
  OSMesaDestroyContext(ctx);
  return median;
}

void BM_Llvmpipe(benchmark::State& state) {
  const int threads = Threads(static_cast<int>(state.range(0)));
  TheScene();  // built before the fork, so the child does not pay for it
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe failed");
      break;
    }
    const pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      setenv("LP_NUM_THREADS", std::to_string(threads).c_str(), 1);
      const double median = LlvmpipeMedian();
      const ssize_t written = write(fds[1], &median, sizeof median);
      _exit(written == sizeof median ? 0 : 1);
    }
    close(fds[1]);
    double median = -1.0;
    const ssize_t got = child > 0 ? read(fds[0], &median, sizeof median) : -1;
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    if (got != sizeof median || median < 0.0) {
      state.SkipWithError("llvmpipe through OSMesa did not render");
      break;
    }
    Record(state, "llvmpipe", threads, median);
  }
}

// The peer runs first, in child processes forked before our worker pool starts.
BENCHMARK(BM_Llvmpipe)
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Ours)->Arg(1)->Arg(2)->Arg(0)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nmedian frame of %d, %d x %d, %u x %u samples per pixel (all cores = %d threads)\n",
              kFrames, kWidth, kHeight, kSampleFactor, kSampleFactor, AllThreads());
  std::printf("%-10s %12s %12s %7s\n", "threads", "ours ms", "llvmpipe ms", "ratio");
  for (const char* arg : {"1", "2", "0"}) {
    const auto ours = g_medians.find(std::string("ours/") + arg);
    const auto peer = g_medians.find(std::string("llvmpipe/") + arg);
    if (ours == g_medians.end()) continue;
    const std::string label = std::string(arg) == "0" ? "all" : arg;
    if (peer != g_medians.end()) {
      std::printf("%-10s %12.2f %12.2f %7.2f\n", label.c_str(), ours->second * 1e3,
                  peer->second * 1e3, ours->second / peer->second);
    } else {
      std::printf("%-10s %12.2f %12s %7s\n", label.c_str(), ours->second * 1e3, "-", "-");
    }
  }
  const auto one = g_medians.find("ours/1"), two = g_medians.find("ours/2");
  if (one != g_medians.end() && two != g_medians.end()) {
    std::printf("ours, 1 -> 2 threads: %.2fx faster\n", one->second / two->second);
  }
  return 0;
}
