#include "core/minisign.h"

#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pelko::minisign {
namespace {

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";
constexpr std::size_t kSignatureBytes = crypto_sign_BYTES;
constexpr std::size_t kKeyBytes = crypto_sign_PUBLICKEYBYTES;

bool Ready() { return sodium_init() >= 0; }

// Strict base64 of exactly `size` bytes: the standard alphabet, padding where
// it belongs, nothing before or after.
bool DecodeExactly(std::string_view text, unsigned char* out, std::size_t size) {
    if (text.empty() || text.size() > kMaxLineBytes) return false;
    // libsodium's decoder takes some bytes outside the alphabet for letters
    // of it, which would give one signature or key many spellings; only the
    // alphabet itself and the padding at the end are let through to it.
    const auto padding = text.find_last_not_of('=') + 1;
    const bool alphabet = std::all_of(text.begin(), text.begin() + padding, [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '/';
    });
    if (!alphabet) return false;
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        return false;
    }
    return decoded == size && end == text.data() + text.size();
}

// Splits the file into lines at "\n" (a "\r" before it is dropped), refusing
// over-long lines; the last line needs no line end.
std::optional<std::vector<std::string_view>> Lines(std::string_view text) {
    if (text.size() > kMaxSignatureBytes) return std::nullopt;
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > kMaxLineBytes) return std::nullopt;
        lines.push_back(line);
    }
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<PublicKey> ParsePublicKey(std::string_view base64) {
    if (!Ready()) return std::nullopt;
    std::array<unsigned char, 2 + 8 + kKeyBytes> raw{};
    if (!DecodeExactly(base64, raw.data(), raw.size())) return std::nullopt;
    if (raw[0] != 'E' || raw[1] != 'd') return std::nullopt;
    PublicKey key;
    std::copy_n(raw.begin() + 2, key.id.size(), key.id.begin());
    std::copy_n(raw.begin() + 10, key.key.size(), key.key.begin());
    return key;
}

std::optional<std::vector<PublicKey>> ParsePublicKeys(std::string_view list) {
    std::vector<PublicKey> keys;
    constexpr std::string_view kSeparators = " \t\r\n;";
    while (true) {
        const auto start = list.find_first_not_of(kSeparators);
        if (start == std::string_view::npos) break;
        list.remove_prefix(start);
        const auto end = list.find_first_of(kSeparators);
        const auto key = ParsePublicKey(list.substr(0, end));
        if (!key) return std::nullopt;
        keys.push_back(*key);
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end);
    }
    return keys;
}

std::optional<FileHash> HashFile(int fd) {
    if (!Ready()) return std::nullopt;
    crypto_generichash_state state;
    if (crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX) != 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> buffer(1024 * 1024);
    for (off_t offset = 0;;) {
        const ssize_t count = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        crypto_generichash_update(&state, buffer.data(), static_cast<unsigned long long>(count));
        offset += count;
    }
    FileHash hash{};
    crypto_generichash_final(&state, hash.data(), hash.size());
    return hash;
}

Checked Verify(std::string_view signature_file, const FileHash& hash,
               const std::vector<PublicKey>& keys) {
    if (keys.empty()) return {Verdict::NoKeys, {}};
    if (!Ready()) return {Verdict::Damaged, {}};
    const auto lines = Lines(signature_file);
    // Four lines, and at most empty ones after them (a final blank line).
    if (!lines || lines->size() < 4 ||
        std::any_of(lines->begin() + 4, lines->end(), [](auto l) { return !l.empty(); })) {
        return {Verdict::Damaged, {}};
    }
    const auto& l = *lines;
    if (!StartsWith(l[0], kUntrusted) || !StartsWith(l[2], kTrusted)) {
        return {Verdict::Damaged, {}};
    }
    std::array<unsigned char, 2 + 8 + kSignatureBytes> signature{};
    std::array<unsigned char, kSignatureBytes> global{};
    if (!DecodeExactly(l[1], signature.data(), signature.size()) ||
        !DecodeExactly(l[3], global.data(), global.size())) {
        return {Verdict::Damaged, {}};
    }
    if (signature[0] == 'E' && signature[1] == 'd') return {Verdict::Legacy, {}};
    if (signature[0] != 'E' || signature[1] != 'D') return {Verdict::Damaged, {}};

    const unsigned char* id = signature.data() + 2;
    const unsigned char* file_signature = signature.data() + 10;
    const std::string comment(l[2].substr(kTrusted.size()));
    // What the global signature covers: the file's signature, then the comment.
    std::vector<unsigned char> covered(file_signature, file_signature + kSignatureBytes);
    covered.insert(covered.end(), comment.begin(), comment.end());

    bool known = false;
    bool file_good = false;
    for (const PublicKey& key : keys) {
        if (std::memcmp(key.id.data(), id, key.id.size()) != 0) continue;
        known = true;
        if (crypto_sign_verify_detached(file_signature, hash.data(), hash.size(), key.key.data()) !=
            0) {
            continue;
        }
        file_good = true;
        if (crypto_sign_verify_detached(global.data(), covered.data(), covered.size(),
                                        key.key.data()) == 0) {
            return {Verdict::Good, comment};
        }
    }
    if (!known) return {Verdict::UnknownKey, {}};
    return {file_good ? Verdict::CommentChanged : Verdict::FileChanged, {}};
}

}  // namespace pelko::minisign
