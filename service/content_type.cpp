#include "service/content_type.h"

#include <array>
#include <utility>

namespace pelko::service {

namespace {

constexpr std::string_view kOctetStream = "application/octet-stream";

constexpr std::array<std::pair<std::string_view, std::string_view>, 22> kTypes{{
    {"html", "text/html; charset=utf-8"},
    {"htm", "text/html; charset=utf-8"},
    {"css", "text/css; charset=utf-8"},
    {"js", "text/javascript; charset=utf-8"},
    {"json", "application/json"},
    {"ini", "text/plain; charset=utf-8"},
    {"txt", "text/plain; charset=utf-8"},
    {"webm", "video/webm"},
    // What HLS players and progressive video ask for; ".ts" is only ever an
    // MPEG transport stream here.
    {"m3u8", "application/vnd.apple.mpegurl"},
    {"ts", "video/mp2t"},
    {"m4s", "video/iso.segment"},
    {"mp4", "video/mp4"},
    {"m4a", "audio/mp4"},
    {"aac", "audio/aac"},
    {"mp3", "audio/mpeg"},
    {"vtt", "text/vtt; charset=utf-8"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"svg", "image/svg+xml"},
    {"ico", "image/x-icon"},
}};

}  // namespace

std::string ContentTypeFor(std::string_view path) {
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(kOctetStream);

    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& [ext, type] : kTypes) {
        if (ext == extension) return std::string(type);
    }
    return std::string(kOctetStream);
}

}  // namespace pelko::service
