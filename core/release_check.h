#pragma once

// Whether a downloaded program file may replace the installed one: its
// signature must be good and made by one of our keys, and the signed
// trusted comment ("version:1.3.0 file:Pelko") must name this file and a
// version that is no downgrade and is the one the service offered.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/minisign.h"

namespace pelko::release {

enum class Refusal {
    None,
    NoKeys,
    NoSignature,  // the service had no signature to give
    Damaged,
    Legacy,
    UnknownKey,
    FileChanged,
    CommentChanged,
    WrongFile,   // signed for a file of another name, or for no name
    NoVersion,   // the comment names no version
    Downgrade,   // older than the installed version
    NotOffered,  // not the version the service offered
};

struct Decision {
    Refusal refusal = Refusal::None;
    // The signed version, once the signature is good.
    std::string version;
};

// The value of "key:value" in a comment of such pairs separated by blanks or tabs.
std::optional<std::string> CommentValue(std::string_view comment, std::string_view key);

struct Expected {
    std::string_view file_name;
    std::string_view installed;
    // The version the service offered; without one, any version that is no
    // downgrade will do.
    std::optional<std::string_view> offered;
};

Decision Check(std::string_view signature_file, const minisign::FileHash& hash,
               const std::vector<minisign::PublicKey>& keys, const Expected& expected);

}  // namespace pelko::release
