#pragma once

// What a download reports when it ends: the bytes received when positive, a
// failure when negative, and 0 when nothing was saved and nothing failed.

#include <cstdint>
#include <limits>

namespace pelko::ui {

// The reasons a transfer fails, as negative statuses.
enum class DownloadFailure : std::int32_t {
    Network = -1,     // no answer, or the connection broke
    HttpStatus = -2,  // an answer other than 2xx, or endless redirects
    Truncated = -3,   // fewer bytes than the server announced
    Stalled = -4,     // nothing arrived for the whole stall period
    Cancelled = -5,   // CancelDownload
    BadAddress = -6,  // not an http(s) address naming a file
    Disk = -7,        // the folder refused the file
    Refused = -8,     // the owner's check found the file unfit to replace the old one
};

constexpr std::int32_t StatusOf(DownloadFailure failure) {
    return static_cast<std::int32_t>(failure);
}

// A byte count as a success status: a file of 2 GiB or more still reports
// success (the largest positive status), never a negative one.
constexpr std::int32_t ClampByteCount(std::int64_t bytes) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (bytes > kMax) return static_cast<std::int32_t>(kMax);
    if (bytes < 0) return 0;
    return static_cast<std::int32_t>(bytes);
}

}  // namespace pelko::ui
