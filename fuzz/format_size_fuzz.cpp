// The transfer texts for any byte count and fraction: the size text is a
// number and its unit that stand for the count within the rounding the
// format allows, the percentage is a plain whole number (never "-0"), and
// the progress text is made of the two.

#include <cmath>
#include <string>

#include "core/format_size.h"
#include "fuzz_support.h"

namespace {

// "12", "1.3": digits and at most one decimal, which is never 0.
bool WellFormed(const std::string& number) {
    const auto dot = number.find('.');
    const std::string whole = number.substr(0, dot);
    if (whole.empty() || whole.find_first_not_of("0123456789") != std::string::npos) return false;
    if (whole.size() > 1 && whole[0] == '0') return false;
    if (dot == std::string::npos) return true;
    return number.size() == dot + 2 && number[dot + 1] >= '1' && number[dot + 1] <= '9';
}

void CheckSize(std::int32_t bytes) {
    const std::string text = pelko::FormatSize(bytes);
    PELKO_FUZZ_CHECK(!text.empty());
    const char unit = text.back();
    const std::string number = text.substr(0, text.size() - 1);
    if (bytes < 1024) {
        PELKO_FUZZ_CHECK(text == std::to_string(bytes) + "b");
        return;
    }
    PELKO_FUZZ_CHECK(WellFormed(number));
    const double shown = std::stod(number);
    const double b = bytes;
    switch (unit) {
        case 'k':
            PELKO_FUZZ_CHECK(bytes < 1024 * 1024 && shown == std::floor(b / 1024));
            break;
        case 'M':
            // Whole KiB first, then one decimal rounded.
            PELKO_FUZZ_CHECK(bytes >= 1024 * 1024 && bytes < 512 * 1024 * 1024);
            PELKO_FUZZ_CHECK(std::fabs(shown - b / (1 << 20)) <= 0.05 + 1.0 / 1024 + 1e-9);
            break;
        case 'G':
            PELKO_FUZZ_CHECK(bytes >= 512 * 1024 * 1024);
            PELKO_FUZZ_CHECK(std::fabs(shown - b / (1 << 30)) <= 0.05 + 1.0 / 1024 + 1e-9);
            break;
        default:
            PELKO_FUZZ_CHECK(!"a size text ends in b, k, M or G");
    }
}

void CheckPercent(float fraction) {
    const std::string text = pelko::FormatPercent(fraction);
    PELKO_FUZZ_CHECK(text.size() >= 2 && text.back() == '%');
    const std::string number = text.substr(0, text.size() - 1);
    const std::string digits = number[0] == '-' ? number.substr(1) : number;
    PELKO_FUZZ_CHECK(!digits.empty() &&
                     digits.find_first_not_of("0123456789") == std::string::npos);
    PELKO_FUZZ_CHECK(number != "-0");
    const double percent = static_cast<double>(fraction) * 100.0;
    if (!std::isfinite(percent)) {
        PELKO_FUZZ_CHECK(text == "0%");
    } else if (std::fabs(percent) < 1e15) {
        PELKO_FUZZ_CHECK(std::stod(number) == std::round(percent) + 0.0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelko::fuzz::Input input(data, size);
    const auto bytes = input.Number<std::int32_t>();
    const auto fraction = input.Number<float>();
    CheckSize(bytes);
    CheckPercent(fraction);
    PELKO_FUZZ_CHECK(pelko::ProgressText(fraction, bytes) ==
                     pelko::FormatPercent(fraction) + " of " + pelko::FormatSize(bytes));
    // Every count from here to a step further shows no smaller number in the
    // same unit: the display never runs backwards while a transfer grows.
    if (bytes >= 1024 && bytes < 0x7fffff00) {
        const std::string a = pelko::FormatSize(bytes);
        const std::string b = pelko::FormatSize(bytes + 1 + (input.Number<std::uint8_t>()));
        if (a.back() == b.back()) {
            PELKO_FUZZ_CHECK(std::stod(a.substr(0, a.size() - 1)) <=
                             std::stod(b.substr(0, b.size() - 1)));
        }
    }
    return 0;
}
