#include "core/release_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/core/signing_sample.h"

using pelko::release::Check;
using pelko::release::CommentValue;
using pelko::release::Refusal;

TEST(ReleaseCheck, SignedNameAndVersionTable) {
    const pelko::test::KeyPair ours;
    const std::string program = "the new program";
    struct Case {
        std::string comment;
        std::string installed;
        std::optional<std::string> offered;
        Refusal refusal;
    };
    const std::vector<Case> cases = {
        {"version:1.3.0 file:Pelko", "1.2.0", "1.3.0", Refusal::None},
        // The comment minisign writes itself, tab-separated, with ours added.
        {"timestamp:1796641078\tfile:Pelko\tversion:1.10.0", "1.9.0", "1.10.0", Refusal::None},
        // Started from the menu: nothing offered, anything but a downgrade.
        {"version:1.2.0 file:Pelko", "1.2.0", std::nullopt, Refusal::None},
        {"version:1.3.0 file:Pelko", "1.2.0", std::nullopt, Refusal::None},
        {"version:1.1.9 file:Pelko", "1.2.0", std::nullopt, Refusal::Downgrade},
        {"version:1.9.0 file:Pelko", "1.10.0", "1.9.0", Refusal::Downgrade},
        {"version:1.4.0 file:Pelko", "1.2.0", "1.3.0", Refusal::NotOffered},
        {"version:1.3 file:Pelko", "1.2.0", "1.3.0", Refusal::NotOffered},
        {"version:1.3.0 file:PelkoUpdate", "1.2.0", "1.3.0", Refusal::WrongFile},
        {"version:1.3.0 file:Pelko.old", "1.2.0", "1.3.0", Refusal::WrongFile},
        {"version:1.3.0", "1.2.0", "1.3.0", Refusal::WrongFile},
        {"file:Pelko", "1.2.0", std::nullopt, Refusal::NoVersion},
        {"version: file:Pelko", "1.2.0", std::nullopt, Refusal::NoVersion},
    };
    for (const auto& c : cases) {
        std::optional<std::string_view> offered;
        if (c.offered) offered = *c.offered;
        const auto decision =
            Check(ours.SignatureFile(program, c.comment), pelko::test::HashOf(program),
                  {ours.Public()}, {"Pelko", c.installed, offered});
        EXPECT_EQ(decision.refusal, c.refusal) << c.comment << " installed " << c.installed;
    }
    const auto good = Check(ours.SignatureFile(program, "version:1.3.0 file:Pelko"),
                            pelko::test::HashOf(program), {ours.Public()}, {"Pelko", "1.2.0", {}});
    EXPECT_EQ(good.version, "1.3.0");
    // The comment is believed only once its signature is: a good comment on a
    // signature of another file is still refused.
    const auto other =
        Check(ours.SignatureFile(program, "version:1.3.0 file:Pelko"),
              pelko::test::HashOf("another program"), {ours.Public()}, {"Pelko", "1.2.0", {}});
    EXPECT_EQ(other.refusal, Refusal::FileChanged);
    EXPECT_EQ(other.version, "");
    // A value is the word after its own key, never after a longer key ending in it.
    EXPECT_EQ(CommentValue("version:1.3.0 file:Pelko", "file"), "Pelko");
    EXPECT_EQ(CommentValue("  file:a\tversion:2 ", "version"), "2");
    EXPECT_EQ(CommentValue("myfile:x file:y", "file"), "y");
    EXPECT_EQ(CommentValue("file:a:b", "file"), "a:b");
    EXPECT_FALSE(CommentValue("filename Pelko", "file"));
    EXPECT_FALSE(CommentValue("", "file"));
}
