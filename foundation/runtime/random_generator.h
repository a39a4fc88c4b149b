#pragma once

// The multiply-with-carry random generator (multipliers 2111111111, 1492, 1776, 5115)
// shared in kind by the robust sampling, the synthetic correlator and the scene.
//
// Not synchronised: every user keeps its own generator object.

#include <cstdint>

class RandomGenerator {
 public:
  explicit RandomGenerator(uint32_t seed) { Seed(seed); }

  // carry = seed; x0 .. x3 are four successive steps of x = 1103515245 x + 12345
  // (modulo 2^32) starting from the seed.
  void Seed(uint32_t seed);

  // The next 32-bit value; x0 is the most recent value, x3 the oldest.
  uint32_t Next();

  uint32_t x0 = 0, x1 = 0, x2 = 0, x3 = 0, carry = 0;
};

// The process-wide generator of the robust sampling, created in the state Seed(4783)
// gives. Used from the tracking thread only.
RandomGenerator& SamplingRandomGenerator();

// Puts the process-wide generator of the robust sampling back into the state of
// seed 4783, so that sampling after a reset draws the same sequence.
void ReseedSamplingGenerator();
