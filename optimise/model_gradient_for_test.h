// Test helper: compares a dense model's gradients with central differences of its values.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "optimise/optimizer_lm.h"

namespace kxtest {

// Central differences of both predicted values by each parameter, parameter p stepped by
// steps[p]; each must agree with the gradient within tolerance (relative above 1).
template <class ModelT, class Input>
void ExpectGradientsMatchDifferences(const ModelT& model, const Input& input,
                                     const std::vector<double>& parameters,
                                     const std::vector<double>& steps, double tolerance = 1e-6) {
  ModelOutput out[2];
  ASSERT_TRUE(model.ComputeWithGradient(input, parameters, out, 2));
  for (size_t p = 0; p < parameters.size(); ++p) {
    SCOPED_TRACE("parameter " + std::to_string(p));
    const double step = steps[p];
    std::vector<double> plus = parameters, minus = parameters;
    plus[p] += step;
    minus[p] -= step;
    ModelOutput hi[2], lo[2];
    ASSERT_TRUE(model.ComputeWithGradient(input, plus, hi, 2));
    ASSERT_TRUE(model.ComputeWithGradient(input, minus, lo, 2));
    for (int j = 0; j < 2; ++j) {
      const double numeric = (hi[j].value - lo[j].value) / (2.0 * step);
      EXPECT_NEAR(out[j].gradient[p], numeric, tolerance * (1.0 + std::fabs(numeric)))
          << "value " << j;
    }
  }
}

// The same with one step for every parameter.
template <class ModelT, class Input>
void ExpectGradientsMatchDifferences(const ModelT& model, const Input& input,
                                     const std::vector<double>& parameters, double step,
                                     double tolerance = 1e-6) {
  ExpectGradientsMatchDifferences(model, input, parameters,
                                  std::vector<double>(parameters.size(), step), tolerance);
}

}  // namespace kxtest
