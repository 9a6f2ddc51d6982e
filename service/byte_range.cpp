#include "service/byte_range.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace pelko::service {

namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

}  // namespace

RangeRequest ParseRangeHeader(std::string_view header, std::uint64_t size) {
    constexpr RangeRequest kWhole{};
    constexpr RangeRequest kUnsatisfiable{RangeKind::kUnsatisfiable, 0, 0};

    header = Trim(header);
    const auto equals = header.find('=');
    if (equals == std::string_view::npos) return kWhole;
    if (!EqualsIgnoringCase(Trim(header.substr(0, equals)), "bytes")) return kWhole;

    const std::string_view range_set = Trim(header.substr(equals + 1));
    if (range_set.find(',') != std::string_view::npos) return kWhole;
    const auto dash = range_set.find('-');
    if (dash == std::string_view::npos) return kWhole;
    const std::string_view left = Trim(range_set.substr(0, dash));
    const std::string_view right = Trim(range_set.substr(dash + 1));

    if (left.empty()) {
        // "-n": the last n bytes.
        const auto suffix = ParseNumber(right);
        if (!suffix) return kWhole;
        if (*suffix == 0 || size == 0) return kUnsatisfiable;
        const std::uint64_t length = std::min(*suffix, size);
        return {RangeKind::kPartial, size - length, length};
    }

    const auto first = ParseNumber(left);
    if (!first) return kWhole;
    std::uint64_t last = std::numeric_limits<std::uint64_t>::max();
    if (!right.empty()) {
        const auto parsed = ParseNumber(right);
        if (!parsed || *parsed < *first) return kWhole;
        last = *parsed;
    }
    if (*first >= size) return kUnsatisfiable;
    last = std::min(last, size - 1);
    return {RangeKind::kPartial, *first, last - *first + 1};
}

}  // namespace pelko::service
