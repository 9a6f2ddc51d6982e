#include "core/minisign.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
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

}  // namespace

TEST(Minisign, SignatureFileTable) {
    const KeyPair ours;
    const KeyPair next;  // the key a rotation brings in
    const KeyPair foreign;
    const std::vector keys{ours.Public(), next.Public()};
    const std::string good = ours.SignatureFile(kProgram, kComment);
    KeyPair impostor;  // claims our key id with a key of its own
    impostor.id = ours.id;

    struct Case {
        std::string name;
        std::string file;
        std::string content;
        Verdict verdict;
    };
    const std::vector<Case> cases = {
        {"good", good, kProgram, Verdict::Good},
        {"good with CRLF line ends", WithLine(good, 1, LineOf(good, 1) + "\r"), kProgram,
         Verdict::Good},
        {"signed with the rotated-in key", next.SignatureFile(kProgram, kComment), kProgram,
         Verdict::Good},
        {"file changed after signing", good, kProgram + " ", Verdict::FileChanged},
        {"file signature altered", WithLine(good, 1, Flipped(LineOf(good, 1), 40)), kProgram,
         Verdict::FileChanged},
        {"our key id, another key", impostor.SignatureFile(kProgram, kComment), kProgram,
         Verdict::FileChanged},
        {"trusted comment altered", WithLine(good, 2, "trusted comment: version:9.0 file:Pelko"),
         kProgram, Verdict::CommentChanged},
        {"global signature altered", WithLine(good, 3, Flipped(LineOf(good, 3), 10)), kProgram,
         Verdict::CommentChanged},
        {"foreign key", foreign.SignatureFile(kProgram, kComment), kProgram, Verdict::UnknownKey},
        {"key id altered", WithLine(good, 1, Flipped(LineOf(good, 1), 5)), kProgram,
         Verdict::UnknownKey},
        {"legacy Ed, properly signed", ours.SignatureFile(kProgram, kComment, "Ed"), kProgram,
         Verdict::Legacy},
        {"unknown algorithm", ours.SignatureFile(kProgram, kComment, "XY"), kProgram,
         Verdict::Damaged},
        {"empty", "", kProgram, Verdict::Damaged},
        {"last line missing", good.substr(0, good.rfind('\n', good.size() - 2) + 1), kProgram,
         Verdict::Damaged},
        {"cut inside the signature", good.substr(0, good.find('\n') + 40), kProgram,
         Verdict::Damaged},
        {"a line after the end", good + "more\n", kProgram, Verdict::Damaged},
        {"no untrusted comment prefix", WithLine(good, 0, "comment: x"), kProgram,
         Verdict::Damaged},
        {"no trusted comment prefix", WithLine(good, 2, kComment), kProgram, Verdict::Damaged},
        {"bad base64 character", WithLine(good, 1, "*" + LineOf(good, 1).substr(1)), kProgram,
         Verdict::Damaged},
        {"base64 missing its padding", WithLine(good, 1, LineOf(good, 1).substr(0, 99)), kProgram,
         Verdict::Damaged},
        {"signature too long", WithLine(good, 3, LineOf(good, 3) + "AAAA"), kProgram,
         Verdict::Damaged},
        {"over-long untrusted comment",
         WithLine(good, 0, "untrusted comment: " + std::string(1100, 'x')), kProgram,
         Verdict::Damaged},
        {"over-long file", good + std::string(5000, '\n'), kProgram, Verdict::Damaged},
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
    const KeyPair a;
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
                                   "*" + printed.substr(1), std::string("RW")}) {
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
    EXPECT_FALSE(pelko::minisign::HashFile(-1));
}

#ifdef PELKO_MINISIGN
namespace {

int RunTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

// What the minisign tool writes is what we read: its keys, its signatures,
// its trusted comment, and its legacy format refused.
TEST(Minisign, SignaturesOfTheMinisignTool) {
    const pelko::test::TempDir dir;
    const std::string pub = dir.PathOf("k.pub");
    const std::string key = dir.PathOf("k.key");
    ASSERT_EQ(RunTool({PELKO_MINISIGN, "-G", "-W", "-p", pub, "-s", key}), 0);
    const std::string file = dir.Put("Pelko", kProgram);
    ASSERT_EQ(
        RunTool({PELKO_MINISIGN, "-S", "-s", key, "-m", file, "-t", kComment, "-x", file + ".sig"}),
        0);
    ASSERT_EQ(RunTool({PELKO_MINISIGN, "-S", "-l", "-s", key, "-m", file, "-x", file + ".legacy"}),
              0);

    const auto keys = pelko::minisign::ParsePublicKeys(LineOf(Read(pub), 1));
    ASSERT_TRUE(keys);
    const auto checked = Verify(Read(file + ".sig"), HashOf(kProgram), *keys);
    EXPECT_EQ(checked.verdict, Verdict::Good);
    EXPECT_EQ(checked.trusted_comment, kComment);
    EXPECT_EQ(Verify(Read(file + ".legacy"), HashOf(kProgram), *keys).verdict, Verdict::Legacy);
}
#endif

// libsodium's decoder reads every byte over 0x7f as the letter "A", so a
// key or signature could be spelt in many ways and still check good.
TEST(Minisign, BytesOutsideTheBase64AlphabetAreRefused) {
    KeyPair ours;
    ours.id = {};  // base64 of zero bytes: a run of "A" to spell otherwise
    const std::string printed = ours.Printed();
    ASSERT_EQ(printed.substr(3, 4), "AAAA");
    std::string respelt = printed;
    respelt[4] = '\xC3';
    EXPECT_TRUE(pelko::minisign::ParsePublicKey(printed));
    EXPECT_FALSE(pelko::minisign::ParsePublicKey(respelt));

    const std::string good = ours.SignatureFile(kProgram, kComment);
    std::string line = LineOf(good, 1);
    ASSERT_EQ(line.substr(3, 4), "AAAA");
    line[5] = '\x80';
    EXPECT_EQ(Verify(good, HashOf(kProgram), {ours.Public()}).verdict, Verdict::Good);
    EXPECT_EQ(Verify(WithLine(good, 1, line), HashOf(kProgram), {ours.Public()}).verdict,
              Verdict::Damaged);
}
