#include "core/release_check.h"

#include "core/version_text.h"

namespace pelko::release {

std::optional<std::string> CommentValue(std::string_view comment, std::string_view key) {
    constexpr std::string_view kBlanks = " \t";
    while (true) {
        const auto start = comment.find_first_not_of(kBlanks);
        if (start == std::string_view::npos) return std::nullopt;
        comment.remove_prefix(start);
        const auto end = comment.find_first_of(kBlanks);
        const std::string_view pair = comment.substr(0, end);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key &&
            pair[key.size()] == ':') {
            return std::string(pair.substr(key.size() + 1));
        }
        comment = end == std::string_view::npos ? std::string_view{} : comment.substr(end);
    }
}

Decision Check(std::string_view signature_file, const minisign::FileHash& hash,
               const std::vector<minisign::PublicKey>& keys, const Expected& expected) {
    using minisign::Verdict;
    const auto checked = minisign::Verify(signature_file, hash, keys);
    switch (checked.verdict) {
        case Verdict::Good:
            break;
        case Verdict::NoKeys:
            return {Refusal::NoKeys, {}};
        case Verdict::Damaged:
            return {Refusal::Damaged, {}};
        case Verdict::Legacy:
            return {Refusal::Legacy, {}};
        case Verdict::UnknownKey:
            return {Refusal::UnknownKey, {}};
        case Verdict::FileChanged:
            return {Refusal::FileChanged, {}};
        case Verdict::CommentChanged:
            return {Refusal::CommentChanged, {}};
    }
    if (CommentValue(checked.trusted_comment, "file") != expected.file_name) {
        return {Refusal::WrongFile, {}};
    }
    const std::string version = CommentValue(checked.trusted_comment, "version").value_or("");
    if (version.empty()) return {Refusal::NoVersion, {}};
    if (version::CompareVersionTexts(version, expected.installed) < 0) {
        return {Refusal::Downgrade, version};
    }
    // The very text offered: "1.3" is not the "1.3.0" the user agreed to.
    if (expected.offered && version != *expected.offered) return {Refusal::NotOffered, version};
    return {Refusal::None, version};
}

}  // namespace pelko::release
