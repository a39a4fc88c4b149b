#include "features/foerstner.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "foundation/runtime/notify.h"

namespace {

constexpr int kMaxHalfLength = 32;
constexpr double kFilterLimit = 0.02;

// Mean of f over one pixel cell: six samples from k − 0.5 to k + 0.5 in steps of 0.2.
template <typename F>
double CellAverage(F f, int k) {
  static const double kOffsets[6] = {-0.5, -0.3, -0.1, 0.1, 0.3, 0.5};
  double sum = 0.0;
  for (double o : kOffsets) sum += f(k + o);
  return sum / 6.0;
}

std::string Entries(const std::vector<double>& f) {
  std::ostringstream out;
  for (double v : f) out << v << ' ';
  return out.str();
}

const char* BoolText(bool b) {
  return b ? "true" : "false";
}

// A plain w × h plane of doubles.
struct Plane {
  Plane(int w, int h) : w(w), h(h), v(static_cast<size_t>(w) * h, 0.0) {}
  double& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
  double at(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
  int w, h;
  std::vector<double> v;
};

// Filters p with the symmetric half kernel f along the rows, then along the columns,
// and sets a frame of L − 1 pixels to 0.
void IntegrateSeparable(Plane& p, const std::vector<double>& f, Plane& tmp) {
  const int r = static_cast<int>(f.size()) - 1;
  const int w = p.w, h = p.h;
  for (int y = 0; y < h; ++y) {
    const double* in = &p.v[static_cast<size_t>(y) * w];
    double* out = &tmp.v[static_cast<size_t>(y) * w];
    for (int x = r; x < w - r; ++x) {
      double s = f[0] * in[x];
      for (int k = 1; k <= r; ++k) s += f[k] * (in[x - k] + in[x + k]);
      out[x] = s;
    }
  }
  for (int y = r; y < h - r; ++y) {
    double* out = &p.v[static_cast<size_t>(y) * w];
    for (int x = r; x < w - r; ++x) {
      double s = f[0] * tmp.at(x, y);
      for (int k = 1; k <= r; ++k) s += f[k] * (tmp.at(x, y - k) + tmp.at(x, y + k));
      out[x] = s;
    }
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (y < r || y >= h - r || x < r || x >= w - r) p.at(x, y) = 0.0;
}

}  // namespace

bool Foerstner::Parameter::IsDifferent(const Parameter& o) const {
  return gs != o.gs || fis != o.fis || ft != o.ft || mr != o.mr || msfp != o.msfp ||
         lmws != o.lmws || sin != o.sin || hi != o.hi || v != o.v;
}

Foerstner::Foerstner() = default;

void Foerstner::SetParameter(const Parameter& parameter) {
  if (!parameter_.IsDifferent(parameter)) return;
  parameter_ = parameter;
  InitDerivationFilter();
  InitIntegrationFilter();
  recompute_ = true;
}

double Foerstner::GetTotalFilterWeight(const std::vector<double>& f) {
  if (f.empty()) {
    Notify(2, "Foerstner::GetTotalFilterWeight: filter size == 0");
    return 1.0;
  }
  double sum = 0.0;
  for (size_t k = 1; k < f.size(); ++k) sum += std::fabs(f[k]);
  return std::fabs(f[0]) + 2.0 * sum;
}

void Foerstner::NormalizeFilter(std::vector<double>& f, double limit) {
  if (f.empty()) {
    Notify(2, "Foerstner::NormalizeFilter: filter size == 0");
    return;
  }
  for (;;) {
    const double total = GetTotalFilterWeight(f);
    // A filter without weight cannot be normalised; dividing would only make NaNs.
    if (!(total > 0.0) || !std::isfinite(total)) return;
    bool cut = false;
    for (size_t k = 0; k < f.size(); ++k) {
      f[k] /= total;
      if (k >= 1 && f[k] < limit) {
        f.resize(k);
        cut = true;
        break;
      }
    }
    if (!cut) return;
  }
}

void Foerstner::InitDerivationFilter() {
  derivation_.clear();
  const double sigma = parameter_.gs;
  const double s2 = sigma * sigma;
  derivation_.push_back(0.0);
  for (int k = 1; k < kMaxHalfLength; ++k) {
    const double d =
        CellAverage([&](double u) { return u / s2 * std::exp(-u * u / (2.0 * s2)); }, k);
    if (!(std::fabs(d) >= kFilterLimit)) break;
    derivation_.push_back(d);
  }
  NormalizeFilter(derivation_, kFilterLimit);
  Notify(
      10,
      "Foerstner::InitDerivationFilter: sigma %f, length/2+1 %d\nsym. Gauss filter,\n\t\t coeff 0 "
      "1 ...: %s",
      sigma, static_cast<int>(derivation_.size()), Entries(derivation_).c_str());
}

void Foerstner::InitIntegrationFilter() {
  integration_.clear();
  const float sigma_i = parameter_.gs * parameter_.fis;
  if (parameter_.ft == 1) {
    const double nd = std::trunc(static_cast<double>(sigma_i) + 1.5);
    const int n = nd >= kMaxHalfLength ? kMaxHalfLength : nd >= 1.0 ? static_cast<int>(nd) : 1;
    integration_.assign(static_cast<size_t>(n), 1.0 / (2 * n - 1));
  } else {
    const double s2 = static_cast<double>(sigma_i) * sigma_i;
    for (int k = 0; k < kMaxHalfLength; ++k) {
      const double h = CellAverage([&](double u) { return std::exp(-u * u / (2.0 * s2)); }, k);
      if (!(std::fabs(h) >= kFilterLimit)) break;
      integration_.push_back(h);
    }
    NormalizeFilter(integration_, kFilterLimit);
  }
  Notify(10,
         "Foerstner::InitIntegrationFilter: integr. sigma %f, length/2+1 %d\nsym. %s filter,\n\t\t "
         "coeff 0 1 ...: %s",
         static_cast<double>(sigma_i), static_cast<int>(integration_.size()),
         parameter_.ft != 0 ? "Box" : "Gauss", Entries(integration_).c_str());
}

void Foerstner::MarkCandidates(const CPicture<double>& weight, const CPicture<double>& roundness,
                               float bound, float min_roundness, int32_t half,
                               CPicture<unsigned char>& mask) {
  const int w = static_cast<int>(weight.Width()), h = static_cast<int>(weight.Height());
  mask.Resize(weight.Width(), weight.Height(), 1);
  mask.FillBand(0, 0);
  const int s = std::max(half, 0);
  const ptrdiff_t ws = weight.RowStride(), ms = mask.RowStride();
  const double* wt = weight.Data();
  const double* rd = roundness.Data();
  unsigned char* mk = mask.Data();
  for (int y = s; y < h - s; ++y) {
    for (int x = s; x < w - s; ++x) {
      const double v = wt[y * ws + x];
      if (!(v > bound)) continue;
      bool ok = true;
      for (int j = -s; ok && j <= s; ++j) {
        for (int i = -s; i <= s; ++i) {
          if (wt[(y + j) * ws + x + i] > v || mk[(y + j) * ms + x + i] != 0) {
            ok = false;
            break;
          }
        }
      }
      if (ok && rd[y * ws + x] > min_roundness) mk[y * ms + x] = 255;
    }
  }
}

uint32_t Foerstner::Compute() {
  if (luminance_ == nullptr) {
    Notify(2, " Foerstner::Compute: luminance image not set !");
    return 0;
  }
  const Parameter& p = parameter_;
  Notify(5, " Foerstner::Compute: parameter: gs %f, fis %f, ft %s, mr %f, msfp %f, lmws %d",
         static_cast<double>(p.gs), static_cast<double>(p.fis), p.ft == 0 ? "Gauss" : "Box",
         static_cast<double>(p.mr), static_cast<double>(p.msfp), p.lmws);
  Notify(5, " Foerstner::Compute: parameter: sin %f, hi %s, v %s", static_cast<double>(p.sin),
         BoolText(p.hi), BoolText(p.v));
  features_.clear();
  recompute_ = false;

  if (derivation_.empty()) InitDerivationFilter();
  if (integration_.empty()) InitIntegrationFilter();
  if (derivation_.empty() || integration_.empty()) return 0;

  const int w = static_cast<int>(luminance_->Width()), h = static_cast<int>(luminance_->Height());
  const int rd = static_cast<int>(derivation_.size()) - 1;
  const int ri = static_cast<int>(integration_.size()) - 1;
  const int s = p.lmws > 0 ? (p.lmws - 1) / 2 : 0;
  const int reach = std::max({rd, ri, s});
  if (w < 2 * reach + 1 || h < 2 * reach + 1) return 0;

  // Gradients; a frame of rd stays 0.
  gx_.Resize(w, h, 1);
  gy_.Resize(w, h, 1);
  gx_.FillBand(0, 0.0);
  gy_.FillBand(0, 0.0);
  const ptrdiff_t ls = luminance_->RowStride(), gs = gx_.RowStride();
  const unsigned char* lum = luminance_->Data();
  const std::vector<double>& d = derivation_;
  for (int y = rd; y < h - rd; ++y) {
    const unsigned char* l = lum + y * ls;
    double* ox = gx_.Data() + y * gs;
    double* oy = gy_.Data() + y * gs;
    for (int x = rd; x < w - rd; ++x) {
      double sx = d[0] * l[x], sy = d[0] * l[x];
      for (int k = 1; k <= rd; ++k) {
        sx += d[k] * (l[x + k] - l[x - k]);
        sy += d[k] * (l[x + k * ls] - l[x - k * ls]);
      }
      ox[x] = sx;
      oy[x] = sy;
    }
  }

  // Products and their first moments, integrated over the window.
  Plane nxx(w, h), nxy(w, h), nyy(w, h), mxx(w, h), myxy(w, h), mxxy(w, h), myy(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double a = gx_.Data()[y * gs + x], b = gy_.Data()[y * gs + x];
      nxx.at(x, y) = a * a;
      nxy.at(x, y) = a * b;
      nyy.at(x, y) = b * b;
      mxx.at(x, y) = x * (a * a);
      myxy.at(x, y) = y * (a * b);
      mxxy.at(x, y) = x * (a * b);
      myy.at(x, y) = y * (b * b);
    }
  }
  {
    Plane tmp(w, h);
    for (Plane* plane : {&nxx, &nxy, &nyy, &mxx, &myxy, &mxxy, &myy})
      IntegrateSeparable(*plane, integration_, tmp);
  }

  // Weight and roundness.
  const double sigma_i = static_cast<double>(p.gs * p.fis);
  const double area = p.ft == 0 ? 16.0 * sigma_i * sigma_i
                                : static_cast<double>((2 * (ri + 1) - 1) * (2 * (ri + 1) - 1));
  const double inv_sin2 = static_cast<double>(1.0f / (p.sin * p.sin));
  CPicture<unsigned char> mask;
  if (!p.hi) {
    CPicture<double> weight, roundness;
    weight.Resize(w, h, 1);
    roundness.Resize(w, h, 1);
    const ptrdiff_t ws = weight.RowStride();
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const double det = nxx.at(x, y) * nyy.at(x, y) - nxy.at(x, y) * nxy.at(x, y);
        const double trace = nxx.at(x, y) + nyy.at(x, y);
        double wv = 0.0, q = 0.0;
        if (trace != 0.0) {
          wv = det / trace * area * inv_sin2;
          q = 4.0 * det / (trace * trace);
        }
        weight.Data()[y * ws + x] = wv;
        roundness.Data()[y * ws + x] = q;
      }
    }
    const float bound = 1.0f / (p.msfp * p.msfp);
    MarkCandidates(weight, roundness, bound, p.mr, s, mask);
  } else {
    Notify(5, "Foerstner::Compute: using Harris as interest");
    mask.Resize(w, h, 1);
    mask.FillBand(0, 0);
    Harris harris(*luminance_);
    harris.SetParameter(harris_parameter_);
    harris.OnNewImage();
    for (const SharedPtr<FeaturePoint2D>& corner : harris.GetFeatures()) {
      const double cx = corner->x + 0.5, cy = corner->y + 0.5;
      if (!(cx >= 0.0 && cy >= 0.0 && cx < w && cy < h)) continue;
      mask.Data()[static_cast<int>(cy) * static_cast<ptrdiff_t>(mask.RowStride()) +
                  static_cast<int>(cx)] = 255;
    }
  }

  // One point per candidate: the least-squares intersection of the window's edge lines.
  const ptrdiff_t ms = mask.RowStride();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (mask.Data()[y * ms + x] == 0) continue;
      const double a = nxx.at(x, y), b = nxy.at(x, y), c = nyy.at(x, y);
      const double det = a * c - b * b;
      if (det == 0.0) continue;
      const double b1 = mxx.at(x, y) + myxy.at(x, y);
      const double b2 = myy.at(x, y) + mxxy.at(x, y);
      const double px = (c * b1 - b * b2) / det;
      const double py = (a * b2 - b * b1) / det;
      features_.push_back(SharedPtr<FeaturePoint2D>::Make(nullptr, px, py));
    }
  }
  recompute_ = false;
  return static_cast<uint32_t>(features_.size());
}
