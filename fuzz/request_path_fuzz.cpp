// Request paths against a web root with a folder, files, a link that stays
// inside and a link that leads out, beside a secret folder. Whatever the
// path, what the server would serve lies inside the root, is no link, and
// is never the secret; a path that does not decode is a bad request; and
// decoding undoes the escapes it reads.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "fuzz_support.h"
#include "service/request_path.h"

namespace {

using namespace pelko::service;

struct Root {
    std::string www;
    std::string secret;
};

const Root& TheRoot() {
    static const Root root = [] {
        const std::string base = pelko::fuzz::ScratchDir::Path();
        ::mkdir((base + "/www").c_str(), 0700);
        ::mkdir((base + "/www/tv").c_str(), 0700);
        ::mkdir((base + "/outside").c_str(), 0700);
        pelko::fuzz::PutFile("www/up.ini", "[ver]\nversion=1.3.0\n");
        pelko::fuzz::PutFile("www/tv/app.html", "<html></html>");
        pelko::fuzz::PutFile("outside/secret.txt", "secret");
        pelko::fuzz::PutFile("www-sibling.txt", "not served either");
        if (::symlink("../up.ini", (base + "/www/tv/up-link.ini").c_str()) != 0 ||
            ::symlink("../outside/secret.txt", (base + "/www/secret-link.txt").c_str()) != 0 ||
            ::symlink("..", (base + "/www/parent").c_str()) != 0) {
            pelko::fuzz::Fail("cannot make the links of the web root", __FILE__, __LINE__);
        }
        std::unique_ptr<char, decltype(&std::free)> real(
            ::realpath((base + "/www").c_str(), nullptr), &std::free);
        return Root{real.get(), base + "/outside"};
    }();
    return root;
}

bool Inside(const std::string& root, const std::string& path) {
    return path == root || (path.compare(0, root.size() + 1, root + "/") == 0);
}

std::string Encode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Root& root = TheRoot();
    const std::string_view raw(reinterpret_cast<const char*>(data), size);

    const auto decoded = PercentDecode(raw);
    if (decoded) {
        PELKO_FUZZ_CHECK(decoded->size() <= raw.size());
        PELKO_FUZZ_CHECK(PercentDecode(Encode(*decoded)) == decoded);
    }
    if (raw.find('%') == std::string_view::npos) PELKO_FUZZ_CHECK(decoded == std::string(raw));

    const ResolvedPath resolved = ResolveRequestPath(root.www, raw);
    switch (resolved.verdict) {
        case PathVerdict::kFile:
        case PathVerdict::kDirectory: {
            PELKO_FUZZ_CHECK(decoded.has_value());
            PELKO_FUZZ_CHECK(Inside(root.www, resolved.file));
            PELKO_FUZZ_CHECK(!Inside(root.secret, resolved.file));
            std::unique_ptr<char, decltype(&std::free)> real(
                ::realpath(resolved.file.c_str(), nullptr), &std::free);
            PELKO_FUZZ_CHECK(real && resolved.file == real.get());
            struct stat st {};
            PELKO_FUZZ_CHECK(::lstat(resolved.file.c_str(), &st) == 0);
            PELKO_FUZZ_CHECK(resolved.verdict == PathVerdict::kFile ? S_ISREG(st.st_mode)
                                                                    : S_ISDIR(st.st_mode));
            break;
        }
        default:
            PELKO_FUZZ_CHECK(resolved.file.empty());
            break;
    }
    if (!decoded && raw.size() <= kMaxRequestPathLength && !raw.empty() && raw[0] == '/') {
        PELKO_FUZZ_CHECK(resolved.verdict == PathVerdict::kBadRequest ||
                         resolved.verdict == PathVerdict::kForbidden);
    }
    return 0;
}
