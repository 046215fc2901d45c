// The repeatable pseudo-random sequence the micro-benchmarks draw their
// inputs from (xorshift64 from a fixed seed), so that every run and every
// build measures the same values.
#pragma once

#include <cstdint>

struct Xorshift {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};
