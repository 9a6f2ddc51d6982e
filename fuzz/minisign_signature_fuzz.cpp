// Signature files, two ways.
//
// Any bytes: a file that the fuzz key's check calls good is one that
// encodes back to itself. Ed25519 signs deterministically, so signing the
// same hash and trusted comment again must give the very signature lines the
// file holds; anything else would mean the parser read fields that were not
// there.
//
// A file made here: it checks good with its trusted comment; changing one
// byte of it leaves it good only where nothing is signed (the untrusted
// comment, the final line ending) and never gives another trusted comment; another hash, another
// key of the same id, a key of another id and no key at all are each told apart.

#include <sodium.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "signing.h"

namespace {

using namespace pelko::minisign;

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

FileHash HashOf(std::string_view bytes) {
    FileHash hash{};
    crypto_generichash(hash.data(), hash.size(),
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr,
                       0);
    return hash;
}

void CheckAnyBytes(std::string_view file, const FileHash& hash) {
    const std::vector<PublicKey> keys{pelko::fuzz::TheKey().public_key};
    const Checked checked = Verify(file, hash, keys);
    if (checked.verdict != Verdict::Good) return;
    const auto lines = Lines(file);
    PELKO_FUZZ_CHECK(lines.size() >= 4);
    PELKO_FUZZ_CHECK(lines[2] == "trusted comment: " + checked.trusted_comment);
    const auto again = Lines(pelko::fuzz::SignatureFile(hash, "x", checked.trusted_comment));
    PELKO_FUZZ_CHECK(lines[1] == again[1] && lines[3] == again[3]);
}

void CheckMadeHere(pelko::fuzz::Input& input, const FileHash& hash) {
    const auto shape = input.Number<std::uint8_t>();
    const auto where = input.Number<std::uint16_t>();
    const auto flip = static_cast<std::uint8_t>(input.Number<std::uint8_t>() | 1);
    const std::string_view untrusted = input.Text();
    const std::string_view trusted = input.Text();
    const bool legacy = shape & 1;
    const std::string_view eol = shape & 2 ? "\r\n" : "\n";
    const std::string file = pelko::fuzz::SignatureFile(hash, untrusted, trusted, legacy, eol);
    const std::vector<PublicKey> keys{pelko::fuzz::TheKey().public_key};

    const bool plain_lines = untrusted.find_first_of("\r\n") == std::string_view::npos &&
                             trusted.find_first_of("\r\n") == std::string_view::npos &&
                             untrusted.size() + 19 <= kMaxLineBytes &&
                             trusted.size() + 17 <= kMaxLineBytes;
    if (!plain_lines || file.size() > kMaxSignatureBytes) {
        const Checked checked = Verify(file, hash, keys);
        PELKO_FUZZ_CHECK(checked.verdict != Verdict::Good || checked.trusted_comment == trusted);
        return;
    }
    const Checked checked = Verify(file, hash, keys);
    if (legacy) {
        PELKO_FUZZ_CHECK(checked.verdict == Verdict::Legacy);
        return;
    }
    PELKO_FUZZ_CHECK(checked.verdict == Verdict::Good && checked.trusted_comment == trusted);

    FileHash other_hash = hash;
    other_hash[where % other_hash.size()] ^= flip;
    PELKO_FUZZ_CHECK(Verify(file, other_hash, keys).verdict == Verdict::FileChanged);
    PublicKey impostor = keys[0];
    impostor.key[where % impostor.key.size()] ^= flip;
    PELKO_FUZZ_CHECK(Verify(file, hash, {impostor}).verdict != Verdict::Good);
    PublicKey stranger = keys[0];
    stranger.id[where % stranger.id.size()] ^= flip;
    PELKO_FUZZ_CHECK(Verify(file, hash, {stranger}).verdict == Verdict::UnknownKey);
    PELKO_FUZZ_CHECK(Verify(file, hash, {}).verdict == Verdict::NoKeys);

    std::string changed = file;
    const std::size_t at = where % changed.size();
    changed[at] = static_cast<char>(changed[at] ^ flip);
    const Checked after = Verify(changed, hash, keys);
    if (after.verdict == Verdict::Good) {
        PELKO_FUZZ_CHECK(after.trusted_comment == trusted);
        // Where nothing is signed: the untrusted comment, or the final line
        // ending (a lone CR is dropped like the CR of CR LF, and a blank line
        // may follow the last one).
        const std::size_t first_line_end = file.find('\n');
        const bool in_untrusted = at >= 19 && at < first_line_end && changed[at] != '\n';
        const bool final_end = at >= file.size() - eol.size();
        PELKO_FUZZ_CHECK(in_untrusted || final_end);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelko::fuzz::Input input(data, size);
    const bool made_here = input.Number<std::uint8_t>() & 1;
    const FileHash hash = HashOf("the program file");
    if (made_here) {
        CheckMadeHere(input, hash);
    } else {
        CheckAnyBytes(input.Rest(), hash);
    }
    return 0;
}
