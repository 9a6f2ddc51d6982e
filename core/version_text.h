#pragma once

// Comparison of version texts, the free text under [ver] version= of the two
// version files. Texts that are both dotted decimal numbers compare number by
// number, so that 1.10 is newer than 1.9 and 10 newer than 9; everything
// else, and numbers that come out equal, compares as ordinal text.

#include <string_view>

namespace pelko::version {

// True for one or more runs of the digits 0-9 joined by single dots:
// "10", "1.2.0", "007.1"; false for "", "1.", ".1", "1..2", "1.0a", " 1".
bool IsDottedDecimal(std::string_view text);

// Negative, zero or positive as a is older than, the same as or newer than b.
//
// Dotted decimal texts compare part by part as numbers of any length (leading
// zeros do not count, a missing part counts as 0). When either text is not
// dotted decimal, or the numbers are equal ("1.0" and "1.00", "01" and "1"),
// the texts compare byte by byte as unsigned values, case-sensitively, a text
// that is a prefix of the other being the smaller: so "1.0a" is newer than
// "1.0", and "" is older than any other text.
//
// This is not a total order over all texts (2 < 10 as numbers, "10" < "1a"
// and "1a" < "2" as text); it decides between the two texts at hand.
int CompareVersionTexts(std::string_view a, std::string_view b);

// Whether the service's version is newer than the installed one: the question
// the start-up check asks before it offers an update.
bool IsNewerVersion(std::string_view service, std::string_view installed);

}  // namespace pelko::version
