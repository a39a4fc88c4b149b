// kx_render_sequence: writes a rendered image sequence with exactly known cameras, for the
// sample run of ./run.sh and the solve benchmark. Frames go to DIR/img0000.png ...; the
// true cameras to DIR/cameras.txt, one line per frame:
//   frame  fx fy cx cy  k1  R00 R01 R02 R10 R11 R12 R20 R21 R22  Cx Cy Cz
// (K in pixels, R world to camera, C the centre in world units; see synthetic_sequence.h).
//
//   kx_render_sequence --out=DIR [--shot=free|pan] [--frames=N] [--width=W] [--height=H]
//                      [--focal=PIXELS] [--distortion=K1] [--speed=S] [--seed=N]
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "testing/synthetic_sequence.h"

namespace {

int Usage(const char* message) {
  std::fprintf(stderr,
               "kx_render_sequence: %s\nusage: kx_render_sequence --out=DIR [--shot=free|pan] "
               "[--frames=N] [--width=W] [--height=H] [--focal=PIXELS] [--distortion=K1] "
               "[--speed=S] [--seed=N]\n",
               message);
  return 2;
}

bool ParseNumber(const char* text, double* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && errno == 0;
}

bool WritePng(const std::string& path, const synthetic::Image& image) {
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  int32_t r = ImageFileIO::OpenWrite(ctx.get(), path.c_str(), ImageFileIO::kWritePNG, image.width,
                                     image.height, 24);
  std::vector<uint32_t> row(size_t(image.width));
  for (int y = 0; r == 0 && y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const uint32_t g = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
      row[size_t(x)] = 0xFF000000u | g << 16 | g << 8 | g;
    }
    r = ImageFileIO::WriteRow(row.data(), ctx.get());
  }
  const int32_t closed = ImageFileIO::Close(ctx.get());
  return r == 0 && closed == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_NUMERIC, "C");
  synthetic::SequenceOptions options;
  options.frames = 40;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* eq = std::strchr(arg, '=');
    if (std::strncmp(arg, "--", 2) != 0 || eq == nullptr) return Usage("bad argument");
    const std::string name(arg + 2, eq);
    const char* value = eq + 1;
    double number = 0.0;
    if (name == "out") {
      out = value;
      continue;
    }
    if (name == "shot") {
      if (std::strcmp(value, "free") == 0) {
        options.shot = synthetic::Shot::kFreeMotion;
      } else if (std::strcmp(value, "pan") == 0) {
        options.shot = synthetic::Shot::kTripodPan;
      } else {
        return Usage("--shot is free or pan");
      }
      continue;
    }
    if (!ParseNumber(value, &number)) return Usage("bad number");
    if (name == "frames" && number >= 2 && number <= 100000) {
      options.frames = int(number);
    } else if (name == "width" && number >= 16 && number <= 8192) {
      options.width = int(number);
    } else if (name == "height" && number >= 16 && number <= 8192) {
      options.height = int(number);
    } else if (name == "focal" && number > 0) {
      options.focal = number;
    } else if (name == "distortion") {
      options.distortion = number;
    } else if (name == "speed" && number > 0) {
      options.speed = number;
    } else if (name == "seed" && number >= 0) {
      options.seed = uint32_t(number);
    } else {
      return Usage("unknown option or value out of range");
    }
  }
  if (out.empty()) return Usage("--out is required");
  if (mkdir(out.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "kx_render_sequence: cannot create \"%s\": %s\n", out.c_str(),
                 std::strerror(errno));
    return 1;
  }

  const synthetic::Sequence sequence(options);
  const std::string camera_path = out + "/cameras.txt";
  std::FILE* cameras = std::fopen(camera_path.c_str(), "w");
  if (cameras == nullptr) {
    std::fprintf(stderr, "kx_render_sequence: cannot write \"%s\"\n", camera_path.c_str());
    return 1;
  }
  std::fprintf(
      cameras, "# frame fx fy cx cy k1 R00 R01 R02 R10 R11 R12 R20 R21 R22 Cx Cy Cz; %dx%d %s\n",
      options.width, options.height, options.shot == synthetic::Shot::kTripodPan ? "pan" : "free");
  for (int k = 0; k < sequence.Frames(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "/img%04d.png", k);
    if (!WritePng(out + name, sequence.Render(k))) {
      std::fprintf(stderr, "kx_render_sequence: cannot write \"%s%s\"\n", out.c_str(), name);
      std::fclose(cameras);
      return 1;
    }
    const synthetic::Camera& c = sequence.GetCamera(k);
    std::fprintf(cameras, "%d %.17g %.17g %.17g %.17g %.17g", k, c.K[0], c.K[4], c.K[2], c.K[5],
                 c.k1);
    for (double r : c.R) std::fprintf(cameras, " %.17g", r);
    std::fprintf(cameras, " %.17g %.17g %.17g\n", c.C[0], c.C[1], c.C[2]);
  }
  if (std::fclose(cameras) != 0) {
    std::fprintf(stderr, "kx_render_sequence: cannot write \"%s\"\n", camera_path.c_str());
    return 1;
  }
  std::fprintf(stderr, "kx_render_sequence: %d frames in %s\n", sequence.Frames(), out.c_str());
  return 0;
}
