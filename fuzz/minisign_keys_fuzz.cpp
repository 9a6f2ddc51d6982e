// Lists of trusted keys: every key of a list that parses encodes back to a
// key that parses to the same bytes, the list of those encodings parses to
// the same keys in the same order, and a list is refused only when one of
// its pieces is no key.

#include <sodium.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "signing.h"

namespace {

bool Same(const pelko::minisign::PublicKey& a, const pelko::minisign::PublicKey& b) {
    return a.id == b.id && a.key == b.key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::minisign;
    const std::string_view list(reinterpret_cast<const char*>(data), size);

    // The pieces as the list's separators cut them.
    std::vector<std::string_view> pieces;
    constexpr std::string_view kSeparators = " \t\r\n;";
    for (std::string_view rest = list;;) {
        const auto start = rest.find_first_not_of(kSeparators);
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const auto end = rest.find_first_of(kSeparators);
        pieces.push_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    }

    const auto keys = ParsePublicKeys(list);
    const bool all_keys = std::all_of(pieces.begin(), pieces.end(), [](std::string_view p) {
        return ParsePublicKey(p).has_value();
    });
    PELKO_FUZZ_CHECK(keys.has_value() == all_keys);
    if (!keys) return 0;
    PELKO_FUZZ_CHECK(keys->size() == pieces.size());

    std::string encoded;
    for (std::size_t i = 0; i < keys->size(); ++i) {
        const std::string text = pelko::fuzz::EncodeKey((*keys)[i]);
        PELKO_FUZZ_CHECK(text.size() == 56);
        // Strict base64 has one spelling for each key.
        PELKO_FUZZ_CHECK(text == pieces[i]);
        const auto again = ParsePublicKey(text);
        PELKO_FUZZ_CHECK(again && Same(*again, (*keys)[i]));
        encoded += (i ? ";" : "") + text;
    }
    const auto reparsed = ParsePublicKeys(encoded);
    PELKO_FUZZ_CHECK(reparsed && reparsed->size() == keys->size());
    for (std::size_t i = 0; i < keys->size(); ++i)
        PELKO_FUZZ_CHECK(Same((*reparsed)[i], (*keys)[i]));
    return 0;
}
