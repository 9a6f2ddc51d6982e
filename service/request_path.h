#pragma once

// Maps the path of a request onto a file below the web root, refusing
// everything that could reach outside it.

#include <optional>
#include <string>
#include <string_view>

namespace pelko::service {

enum class PathVerdict {
    kFile,        // a regular file inside the root
    kDirectory,   // a folder inside the root
    kBadRequest,  // not a path at all (no leading "/", a broken escape)
    kForbidden,   // an attempt to leave the root, or something we never serve
    kNotFound,
    kTooLong,
};

struct ResolvedPath {
    PathVerdict verdict = PathVerdict::kNotFound;
    // For kFile and kDirectory: the absolute path with every link resolved.
    std::string file;
};

// Longest request path we look at; anything longer is refused unread.
inline constexpr std::size_t kMaxRequestPathLength = 4096;

// Decodes percent escapes once. A "%" not followed by two hex digits makes
// the whole text invalid rather than being passed through, so that no two
// readings of one path can disagree.
std::optional<std::string> PercentDecode(std::string_view text);

// `root` must be canonical (no links, no trailing "/"); `raw_path` is the
// path as it came on the request line, still percent-encoded.
ResolvedPath ResolveRequestPath(const std::string& root, std::string_view raw_path);

}  // namespace pelko::service
