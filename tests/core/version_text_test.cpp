#include "core/version_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using pelko::version::CompareVersionTexts;
using pelko::version::IsDottedDecimal;
using pelko::version::IsNewerVersion;

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

// Each pair is also compared the other way round, which must give the
// opposite order: a pair that prompts one way never prompts the other.
TEST(VersionText, ServiceAgainstInstalledTable) {
    struct Case {
        std::string service, installed;
        bool prompt;
    };
    const std::vector<Case> cases = {
        // Numbers compare as numbers: text order had these the wrong way round.
        {"1.10", "1.9", true}, {"10", "9", true}, {"1.0.1", "1.0", true}, {"2.0", "1.99.99", true},
        // Digit runs of any length, leading zeros not counting.
        {"123456789012345678901234567890", "123456789012345678901234567889", true},
        {"00000000000000000000000000000002", "1", true},
        {"2", "0000000000000000000000000000000000000010", false},
        {"1.18446744073709551616", "1.18446744073709551615", true},
        // Equal as numbers: the texts decide, a prefix being the smaller.
        {"1.0", "1.0", false}, {"1.00", "1.0", true}, {"1.0.0", "1.0", true}, {"1", "01", true},
        // Anything else compares as text, byte by byte and case-sensitively.
        {"1.0a", "1.0", true}, {"1.0a", "1.0A", true}, {"1.10a", "1.9", false},
        {"v10", "v9", false}, {"1..2", "1.1", false}, {" 2", "10", false}, {"1.", "1", true},
        {"\xE7\x89\x88", "z", true},
        // An empty text is never greater; an empty installed version loses to any text.
        {"", "1.0", false}, {"", "", false}, {"1.0", "", true}, {"x", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNewerVersion(c.service, c.installed), c.prompt)
            << '"' << c.service << "\" vs \"" << c.installed << '"';
        EXPECT_EQ(Sign(CompareVersionTexts(c.service, c.installed)),
                  -Sign(CompareVersionTexts(c.installed, c.service)))
            << c.service << " / " << c.installed;
    }
}

TEST(VersionText, DottedDecimalShapes) {
    for (const char* yes : {"0", "10", "1.2.0", "007.1", "1.10.100.1000"}) {
        EXPECT_TRUE(IsDottedDecimal(yes)) << yes;
    }
    for (const char* no : {"", ".", "1.", ".1", "1..2", "1.0a", " 1", "1 ", "1,2", "-1", "+1"}) {
        EXPECT_FALSE(IsDottedDecimal(no)) << no;
    }
}
