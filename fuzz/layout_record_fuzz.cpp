// Layout records: any four finite numbers survive FormatRecord and
// ParseRecord bit for bit, a tag that parses holds finite numbers and
// parses the same after a round trip, and RoundHalfEven rounds to the
// nearest whole number within the 32-bit range.

#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/layout.h"
#include "fuzz_support.h"

namespace {

using pelko::layout::Rect;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameBits(const Rect& a, const Rect& b) {
    return SameBits(a.left, b.left) && SameBits(a.top, b.top) && SameBits(a.width, b.width) &&
           SameBits(a.height, b.height);
}

void CheckRounding(double v) {
    const std::int32_t r = pelko::layout::RoundHalfEven(v);
    if (std::isnan(v)) {
        PELKO_FUZZ_CHECK(r == 0);
        return;
    }
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    if (v <= kMin) {
        PELKO_FUZZ_CHECK(r == std::numeric_limits<std::int32_t>::min());
    } else if (v >= kMax) {
        PELKO_FUZZ_CHECK(r == std::numeric_limits<std::int32_t>::max());
    } else {
        const double off = std::fabs(static_cast<double>(r) - v);
        PELKO_FUZZ_CHECK(off <= 0.5);
        if (off == 0.5) PELKO_FUZZ_CHECK(r % 2 == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::layout;
    pelko::fuzz::Input input(data, size);
    Rect numbers{input.Number<double>(), input.Number<double>(), input.Number<double>(),
                 input.Number<double>()};
    for (const double v : {numbers.left, numbers.top, numbers.width, numbers.height}) {
        CheckRounding(v);
    }
    if (std::isfinite(numbers.left) && std::isfinite(numbers.top) && std::isfinite(numbers.width) &&
        std::isfinite(numbers.height)) {
        PELKO_FUZZ_CHECK(SameBits(ParseRecord(FormatRecord(numbers)), numbers));
    }

    const std::string_view tag = input.Rest();
    Rect parsed;
    try {
        parsed = ParseRecord(tag);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    for (const double v : {parsed.left, parsed.top, parsed.width, parsed.height}) {
        PELKO_FUZZ_CHECK(std::isfinite(v));
    }
    PELKO_FUZZ_CHECK(SameBits(ParseRecord(FormatRecord(parsed)), parsed));
    return 0;
}
