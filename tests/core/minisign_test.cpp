#include "core/minisign.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/core/signing_sample.h"
#include "tests/support/temp_dir.h"

using pelko::minisign::Verdict;
using pelko::minisign::Verify;
using pelko::test::HashOf;
using pelko::test::KeyPair;

namespace {

const std::string kProgram = "#!/bin/sh\necho the new program\n";
const std::string kComment = "version:1.3.0 file:Pelko";

// The line with the given number (from 0), replaced.
std::string WithLine(const std::string& file, std::size_t number, const std::string& line) {
    std::istringstream in(file);
    std::string out;
    std::size_t n = 0;
    for (std::string l; std::getline(in, l); ++n) out += (n == number ? line : l) + "\n";
    return out;
}

std::string LineOf(const std::string& file, std::size_t number) {
    std::istringstream in(file);
    std::string l;
    for (std::size_t n = 0; n <= number; ++n) std::getline(in, l);
    return l;
}

// One base64 character changed for another that still decodes.
std::string Flipped(std::string line, std::size_t at) {
    line[at] = line[at] == 'A' ? 'B' : 'A';
    return line;
}

// An "A" spelt as a byte outside the alphabet.
std::string Respelt(std::string line, std::size_t at) {
    EXPECT_EQ(line[at], 'A');
    line[at] = '\x80';
    return line;
}

}  // namespace

// Our key id is all zero bytes, a run of "A" in base64: libsodium's decoder
// reads every byte over 0x7f as "A", so such a run could be spelt in many
// ways and still check good.
TEST(Minisign, SignatureFileTable) {
    KeyPair ours;
    ours.id = {};
    const KeyPair next;  // the key a rotation brings in
    const KeyPair foreign;
    const std::vector keys{ours.Public(), next.Public()};
    const std::string good = ours.SignatureFile(kProgram, kComment);
    KeyPair impostor;  // claims our key id with a key of its own
    impostor.id = ours.id;

    struct Case {
        std::string name, file;
        Verdict verdict;
        std::string content = kProgram;
    };
    const std::string line1 = LineOf(good, 1), line3 = LineOf(good, 3);
    const std::vector<Case> cases = {
        {"good", good, Verdict::Good},
        {"good with CRLF line ends", WithLine(good, 1, line1 + "\r"), Verdict::Good},
        {"signed with the rotated-in key", next.SignatureFile(kProgram, kComment), Verdict::Good},
        {"file changed after signing", good, Verdict::FileChanged, kProgram + " "},
        {"file signature altered", WithLine(good, 1, Flipped(line1, 40)), Verdict::FileChanged},
        {"our key id, another key", impostor.SignatureFile(kProgram, kComment),
         Verdict::FileChanged},
        {"trusted comment altered", WithLine(good, 2, "trusted comment: version:9.0 file:Pelko"),
         Verdict::CommentChanged},
        {"global signature altered", WithLine(good, 3, Flipped(line3, 10)),
         Verdict::CommentChanged},
        {"foreign key", foreign.SignatureFile(kProgram, kComment), Verdict::UnknownKey},
        {"key id altered", WithLine(good, 1, Flipped(line1, 5)), Verdict::UnknownKey},
        {"legacy Ed, properly signed", ours.SignatureFile(kProgram, kComment, "Ed"),
         Verdict::Legacy},
        {"unknown algorithm", ours.SignatureFile(kProgram, kComment, "XY"), Verdict::Damaged},
        {"empty", "", Verdict::Damaged},
        {"last line missing", good.substr(0, good.rfind('\n', good.size() - 2) + 1),
         Verdict::Damaged},
        {"cut inside the signature", good.substr(0, good.find('\n') + 40), Verdict::Damaged},
        {"a line after the end", good + "more\n", Verdict::Damaged},
        {"no untrusted comment prefix", WithLine(good, 0, "comment: x"), Verdict::Damaged},
        {"no trusted comment prefix", WithLine(good, 2, kComment), Verdict::Damaged},
        {"bad base64 character", WithLine(good, 1, "*" + line1.substr(1)), Verdict::Damaged},
        {"byte outside the alphabet", WithLine(good, 1, Respelt(line1, 5)), Verdict::Damaged},
        {"base64 missing its padding", WithLine(good, 1, line1.substr(0, 99)), Verdict::Damaged},
        {"signature too long", WithLine(good, 3, line3 + "AAAA"), Verdict::Damaged},
        {"over-long untrusted comment",
         WithLine(good, 0, "untrusted comment: " + std::string(1100, 'x')), Verdict::Damaged},
        {"over-long file", good + std::string(5000, '\n'), Verdict::Damaged},
    };
    for (const auto& c : cases) {
        const auto checked = Verify(c.file, HashOf(c.content), keys);
        EXPECT_EQ(checked.verdict, c.verdict) << c.name;
        if (c.verdict == Verdict::Good) {
            EXPECT_EQ(checked.trusted_comment, kComment) << c.name;
        }
    }
    // A build that trusts nobody refuses even a good signature.
    EXPECT_EQ(Verify(good, HashOf(kProgram), {}).verdict, Verdict::NoKeys);
}

TEST(Minisign, PublicKeysAsPrinted) {
    KeyPair a;
    a.id = {};
    const KeyPair b;
    const auto parsed = pelko::minisign::ParsePublicKey(a.Printed());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->id, a.id);
    EXPECT_EQ(parsed->key, a.pk);

    const auto both =
        pelko::minisign::ParsePublicKeys(" " + a.Printed() + ";" + b.Printed() + "\n");
    ASSERT_TRUE(both);
    ASSERT_EQ(both->size(), 2u);
    EXPECT_EQ((*both)[1].key, b.pk);
    EXPECT_EQ(pelko::minisign::ParsePublicKeys("")->size(), 0u);

    const std::string printed = a.Printed();
    for (const std::string& bad : {printed.substr(1), printed + "A", "RU" + printed.substr(2),
                                   "*" + printed.substr(1), Respelt(printed, 4),
                                   std::string("RW")}) {
        EXPECT_FALSE(pelko::minisign::ParsePublicKey(bad)) << bad;
        EXPECT_FALSE(pelko::minisign::ParsePublicKeys(printed + " " + bad)) << bad;
    }
}

TEST(Minisign, HashFileStreamsTheWholeFile) {
    const pelko::test::TempDir dir;
    // Larger than one read, and not a multiple of it.
    std::string bytes(2 * 1024 * 1024 + 12345, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 977);
    const int fd = ::open(dir.Put("big", bytes).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::lseek(fd, 1000, SEEK_SET);  // where a writer left the offset does not matter
    const auto hash = pelko::minisign::HashFile(fd);
    ::close(fd);
    ASSERT_TRUE(hash);
    EXPECT_EQ(*hash, HashOf(bytes));
}
