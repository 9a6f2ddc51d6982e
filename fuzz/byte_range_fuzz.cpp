// Range headers against any file size: a range to send is never empty and
// never reaches past the file, and a well-formed "bytes=a-b" inside the
// file is sent exactly.

#include <limits>
#include <string>

#include "fuzz_support.h"
#include "service/byte_range.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::service;
    pelko::fuzz::Input input(data, size);
    // Small sizes most of the time, so that the input's numbers meet the end
    // of the file; any size now and then.
    const auto shape = input.Number<std::uint8_t>();
    std::uint64_t file_size = input.Number<std::uint64_t>();
    if (shape & 1) file_size %= 4096;
    const std::uint64_t a = input.Number<std::uint64_t>();
    const std::uint64_t b = input.Number<std::uint64_t>();
    const std::string_view header = input.Rest();

    const RangeRequest range = ParseRangeHeader(header, file_size);
    switch (range.kind) {
        case RangeKind::kPartial:
            PELKO_FUZZ_CHECK(range.length > 0);
            PELKO_FUZZ_CHECK(range.first < file_size);
            PELKO_FUZZ_CHECK(range.length <= file_size - range.first);
            break;
        case RangeKind::kUnsatisfiable:
            PELKO_FUZZ_CHECK(range.first == 0 && range.length == 0);
            break;
        case RangeKind::kWhole:
            break;
    }

    const std::uint64_t first = file_size ? a % file_size : a;
    const std::uint64_t last = file_size ? first + b % (file_size - first) : b;
    const RangeRequest exact =
        ParseRangeHeader("bytes=" + std::to_string(first) + "-" + std::to_string(last), file_size);
    if (file_size == 0) {
        PELKO_FUZZ_CHECK(exact.kind != RangeKind::kPartial);
    } else {
        PELKO_FUZZ_CHECK(exact.kind == RangeKind::kPartial && exact.first == first &&
                         exact.length == last - first + 1);
    }
    return 0;
}
