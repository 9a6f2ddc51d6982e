// The release decision on a good signature with any trusted comment and any
// installed and offered versions: an accepted file names the expected file
// and a version that is no downgrade and is the one offered; a downgrade is
// older; and the comment's values are single words found in it.

#include <sodium.h>

#include <string>

#include "core/release_check.h"
#include "core/version_text.h"
#include "fuzz_support.h"
#include "signing.h"

namespace {

using namespace pelko;

void CheckCommentValue(std::string_view comment, std::string_view key) {
    const auto value = release::CommentValue(comment, key);
    if (!value) return;
    PELKO_FUZZ_CHECK(value->find_first_of(" \t") == std::string::npos);
    const std::string pair = std::string(key) + ":" + *value;
    const auto at = comment.find(pair);
    PELKO_FUZZ_CHECK(at != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const auto shape = input.Number<std::uint8_t>();
    const std::string_view comment = input.Text();
    const std::string_view installed = input.Text();
    const std::string_view offered = input.Text();
    const std::string_view file_name = shape & 2 ? input.Text() : std::string_view("Pelko");
    if (comment.find_first_of("\r\n") != std::string_view::npos || comment.size() > 1000) return 0;

    CheckCommentValue(comment, "version");
    CheckCommentValue(comment, "file");
    CheckCommentValue(comment, file_name);

    minisign::FileHash hash{};
    hash.fill(0x11);
    const std::string signature = fuzz::SignatureFile(hash, "signed for the fuzzer", comment);
    release::Expected expected{file_name, installed, std::nullopt};
    if (shape & 1) expected.offered = offered;
    const release::Decision decision =
        release::Check(signature, hash, {fuzz::TheKey().public_key}, expected);

    switch (decision.refusal) {
        case release::Refusal::None:
            PELKO_FUZZ_CHECK(release::CommentValue(comment, "file") == file_name);
            PELKO_FUZZ_CHECK(!decision.version.empty());
            PELKO_FUZZ_CHECK(release::CommentValue(comment, "version") == decision.version);
            PELKO_FUZZ_CHECK(version::CompareVersionTexts(decision.version, installed) >= 0);
            PELKO_FUZZ_CHECK(!expected.offered || decision.version == *expected.offered);
            break;
        case release::Refusal::Downgrade:
            PELKO_FUZZ_CHECK(version::CompareVersionTexts(decision.version, installed) < 0);
            break;
        case release::Refusal::NotOffered:
            PELKO_FUZZ_CHECK(expected.offered && decision.version != *expected.offered);
            break;
        case release::Refusal::WrongFile:
        case release::Refusal::NoVersion:
            break;
        default:
            // The signature itself is good: only the comment can be refused.
            PELKO_FUZZ_CHECK(!"a good signature refused for its signature");
    }
    // The same file signed again for the offered version is taken when that
    // version is no downgrade: what the service offers, the updater installs.
    if (expected.offered && !offered.empty() &&
        offered.find_first_of(" \t\r\n") == std::string_view::npos && offered.size() < 200 &&
        file_name.find_first_of(" \t\r\n:") == std::string_view::npos && !file_name.empty() &&
        version::CompareVersionTexts(offered, installed) >= 0) {
        const std::string good_comment =
            "version:" + std::string(offered) + " file:" + std::string(file_name);
        const auto good = release::Check(fuzz::SignatureFile(hash, "", good_comment), hash,
                                         {fuzz::TheKey().public_key}, expected);
        PELKO_FUZZ_CHECK(good.refusal == release::Refusal::None && good.version == offered);
    }
    return 0;
}
