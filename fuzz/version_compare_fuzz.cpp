// Version comparison on any three texts: antisymmetric, equal only for equal
// texts, and transitive wherever the order is total. It is not total across
// the two kinds of text (2 < 10 as numbers, "10" < "1a" < "2" as bytes, as
// version_text.h says), so transitivity is asserted for three dotted decimal
// texts and for three that are not.

#include <string>

#include "core/version_text.h"
#include "fuzz_support.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelko::version;
    pelko::fuzz::Input input(data, size);
    const std::string_view texts[3] = {input.Text(), input.Text(), input.Text()};

    for (const auto a : texts) {
        PELKO_FUZZ_CHECK(CompareVersionTexts(a, a) == 0);
        for (const auto b : texts) {
            const int ab = CompareVersionTexts(a, b);
            PELKO_FUZZ_CHECK(Sign(ab) == -Sign(CompareVersionTexts(b, a)));
            PELKO_FUZZ_CHECK((ab == 0) == (a == b));
            PELKO_FUZZ_CHECK(IsNewerVersion(a, b) == (ab > 0));
        }
        // A zero part more: the same number, and the longer text the newer.
        if (IsDottedDecimal(a)) {
            const std::string longer = std::string(a) + ".0";
            PELKO_FUZZ_CHECK(IsDottedDecimal(longer));
            PELKO_FUZZ_CHECK(CompareVersionTexts(a, longer) < 0);
        }
    }

    const bool dotted[3] = {IsDottedDecimal(texts[0]), IsDottedDecimal(texts[1]),
                            IsDottedDecimal(texts[2])};
    if (dotted[0] == dotted[1] && dotted[1] == dotted[2]) {
        for (const auto a : texts) {
            for (const auto b : texts) {
                for (const auto c : texts) {
                    if (CompareVersionTexts(a, b) <= 0 && CompareVersionTexts(b, c) <= 0) {
                        PELKO_FUZZ_CHECK(CompareVersionTexts(a, c) <= 0);
                    }
                }
            }
        }
    }
    return 0;
}
