#pragma once

// Signatures in the format of the minisign tool: Ed25519 over the BLAKE2b-512
// hash of a file ("ED"), and a second Ed25519 signature over that signature
// and the trusted comment, so that the comment cannot be changed either.
//
// A signature file is four lines:
//   untrusted comment: <anything>
//   <base64: "ED", key id (8 bytes), signature of the file's hash (64 bytes)>
//   trusted comment: <text>
//   <base64: signature of the 64 signature bytes followed by the comment text>
// A public key is the base64 of "Ed", the key id and the 32 key bytes.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::minisign {

// A signature file is a few hundred bytes; anything much longer is not one.
constexpr std::size_t kMaxSignatureBytes = 4096;
// Lines longer than this are refused before any decoding.
constexpr std::size_t kMaxLineBytes = 1024;

using KeyId = std::array<unsigned char, 8>;
using FileHash = std::array<unsigned char, 64>;

struct PublicKey {
    KeyId id{};
    std::array<unsigned char, 32> key{};
};

// One key as minisign prints it (56 base64 characters); nothing for anything else.
std::optional<PublicKey> ParsePublicKey(std::string_view base64);
// Keys separated by white space or semicolons; nothing when any of them is no key.
std::optional<std::vector<PublicKey>> ParsePublicKeys(std::string_view list);

// The BLAKE2b-512 hash of everything an open file holds, read from its start
// in pieces; the file offset is not used. Nothing when the file cannot be read.
std::optional<FileHash> HashFile(int fd);

enum class Verdict {
    Good,
    NoKeys,          // nobody is trusted to sign
    Damaged,         // not four well-formed lines of the expected sizes
    Legacy,          // "Ed": the file itself signed, without the hash
    UnknownKey,      // signed by a key that is not in the list
    FileChanged,     // the file is not the one that was signed
    CommentChanged,  // the trusted comment or its signature was altered
};

struct Checked {
    Verdict verdict = Verdict::Damaged;
    // The trusted comment, meaningful only for a Good verdict.
    std::string trusted_comment;
};

// Checks a signature file against the hash of a file and the trusted keys.
Checked Verify(std::string_view signature_file, const FileHash& hash,
               const std::vector<PublicKey>& keys);

}  // namespace pelko::minisign
