#pragma once

// The program's pseudo-random sequence for the random colour change: uniform,
// single precision, 0 <= r < 1, and always started from the same fixed seed,
// so that the n-th draw of a run is the same in every run.
//
// It is the 24-bit linear congruential generator of the classic BASIC
// runtimes (multiplier 0x43FD43FD, increment 0xC39EC3, seed 0x50000, modulus
// 2^24). Its state divided by 2^24 is exactly a single-precision number, so a
// draw needs no rounding; the period is the full 2^24, so over one period every
// multiple of 2^-24 in [0, 1) comes up exactly once.

#include <cstdint>

namespace pelko::skin {

class UniformSequence {
  public:
    static constexpr std::uint32_t kSeed = 0x50000;

    // The next number of the sequence.
    float Next();

  private:
    std::uint32_t state_ = kSeed;
};

}  // namespace pelko::skin
