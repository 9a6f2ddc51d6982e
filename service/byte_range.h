#pragma once

// The one form of the Range header a media player needs: a single byte range.

#include <cstdint>
#include <string_view>

namespace pelko::service {

enum class RangeKind {
    kWhole,          // no usable Range header: send everything with 200
    kPartial,        // send `first`..`first + length - 1` with 206
    kUnsatisfiable,  // answer 416
};

struct RangeRequest {
    RangeKind kind = RangeKind::kWhole;
    std::uint64_t first = 0;
    std::uint64_t length = 0;
};

// Reads "bytes=a-b", "bytes=a-" and "bytes=-n" against a file of `size` bytes.
// A header that is malformed or asks for several ranges is ignored, as HTTP
// allows, so the client gets the whole file instead of an error.
RangeRequest ParseRangeHeader(std::string_view header, std::uint64_t size);

}  // namespace pelko::service
