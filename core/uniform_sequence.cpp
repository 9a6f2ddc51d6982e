#include "core/uniform_sequence.h"

namespace pelko::skin {
namespace {

constexpr std::uint32_t kMultiplier = 0x43FD43FD;
constexpr std::uint32_t kIncrement = 0xC39EC3;
constexpr std::uint32_t kMask = 0xFFFFFF;
constexpr float kScale = 1.0f / 16777216.0f;

}  // namespace

float UniformSequence::Next() {
    // Unsigned arithmetic wraps modulo 2^32; only the low 24 bits are kept,
    // which is the same as working modulo 2^24 throughout.
    state_ = (state_ * kMultiplier + kIncrement) & kMask;
    return static_cast<float>(state_) * kScale;
}

}  // namespace pelko::skin
