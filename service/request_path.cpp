#include "service/request_path.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace pelko::service {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An encoded "/" or "\" would hide a separator from the segment check, which
// runs on the decoded text; no file of ours needs one in its name.
bool HasEncodedSeparator(std::string_view raw) {
    for (std::size_t i = 0; i + 2 < raw.size(); ++i) {
        if (raw[i] != '%') continue;
        const char hi = raw[i + 1];
        const char lo = static_cast<char>(raw[i + 2] | 0x20);
        if ((hi == '2' && lo == 'f') || (hi == '5' && lo == 'c')) return true;
    }
    return false;
}

bool IsInside(const std::string& root, const std::string& path) {
    if (root == "/") return !path.empty() && path[0] == '/';
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

PathVerdict VerdictForErrno(int error) {
    switch (error) {
        case ENAMETOOLONG:
            return PathVerdict::kTooLong;
        case EACCES:
        case ELOOP:
            return PathVerdict::kForbidden;
        default:
            return PathVerdict::kNotFound;
    }
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

ResolvedPath ResolveRequestPath(const std::string& root, std::string_view raw_path) {
    if (raw_path.size() > kMaxRequestPathLength) return {PathVerdict::kTooLong, {}};
    if (raw_path.empty() || raw_path[0] != '/') return {PathVerdict::kBadRequest, {}};
    if (HasEncodedSeparator(raw_path)) return {PathVerdict::kForbidden, {}};

    const auto decoded = PercentDecode(raw_path);
    if (!decoded) return {PathVerdict::kBadRequest, {}};
    if (decoded->find('\0') != std::string::npos || decoded->find('\\') != std::string::npos) {
        return {PathVerdict::kForbidden, {}};
    }

    // Rebuild the path from its segments: empty ones ("//") fall away, and a
    // dot segment is refused outright rather than interpreted.
    std::string candidate = root == "/" ? std::string() : root;
    std::size_t start = 1;
    while (start <= decoded->size()) {
        std::size_t end = decoded->find('/', start);
        if (end == std::string::npos) end = decoded->size();
        const std::string_view segment(decoded->data() + start, end - start);
        if (segment == "." || segment == "..") return {PathVerdict::kForbidden, {}};
        if (!segment.empty()) {
            candidate += '/';
            candidate += segment;
        }
        start = end + 1;
    }
    if (candidate.empty()) candidate = "/";

    // Links may point anywhere; only where they finally lead counts.
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(candidate.c_str(), nullptr),
                                                     &std::free);
    if (!real) return {VerdictForErrno(errno), {}};
    std::string resolved(real.get());
    if (!IsInside(root, resolved)) return {PathVerdict::kForbidden, {}};

    struct stat st {};
    if (::stat(resolved.c_str(), &st) != 0) return {VerdictForErrno(errno), {}};
    if (S_ISDIR(st.st_mode)) return {PathVerdict::kDirectory, std::move(resolved)};
    // Pipes and devices could block the server or never end.
    if (!S_ISREG(st.st_mode)) return {PathVerdict::kForbidden, {}};
    return {PathVerdict::kFile, std::move(resolved)};
}

}  // namespace pelko::service
