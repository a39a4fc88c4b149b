#include "foundation/runtime/random_generator.h"

void RandomGenerator::Seed(uint32_t seed) {
  carry = seed;
  x0 = 1103515245u * seed + 12345u;
  x1 = 1103515245u * x0 + 12345u;
  x2 = 1103515245u * x1 + 12345u;
  x3 = 1103515245u * x2 + 12345u;
}

uint32_t RandomGenerator::Next() {
  uint64_t sum = 2111111111ull * x3 + 1492ull * x2 + 1776ull * x1 + 5115ull * x0 + carry;
  x3 = x2;
  x2 = x1;
  x1 = x0;
  x0 = static_cast<uint32_t>(sum);
  carry = static_cast<uint32_t>(sum >> 32);
  return x0;
}

RandomGenerator& SamplingRandomGenerator() {
  static RandomGenerator generator(4783);
  return generator;
}

void ReseedSamplingGenerator() {
  SamplingRandomGenerator().Seed(4783);
}
