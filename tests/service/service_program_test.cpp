// The real pelko-service program, started the way scripts and the GUI tests
// start it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace pelko::service::testing;

// Without --root the program serves the web root the build put beside it.
TEST(ServiceProgram, AnnouncesAFreePortServesAndEndsCleanlyOnSigterm) {
    struct stat program {};
    ASSERT_EQ(::stat(PELKO_SERVICE_WWW "/Pelko", &program), 0);
    EXPECT_TRUE(program.st_mode & S_IXUSR) << "the program copy lost its executable bit";

    Service service({"--port", "0"});
    ASSERT_TRUE(service.process);
    const std::string line = service.FirstLine();
    std::smatch port;
    ASSERT_TRUE(std::regex_match(
        line, port, std::regex(R"(pelko-service: listening on http://127\.0\.0\.1:(\d+))")))
        << line;
    const Reply page =
        Exchange(static_cast<std::uint16_t>(std::stoul(port[1])),
                 "GET /tv/app.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(page.status, 200u);
    EXPECT_NE(page.body.find("<title>Pelko网络电视</title>"), std::string::npos);

    g_subprocess_send_signal(service.process, SIGTERM);
    EXPECT_EQ(service.Finish(), 0);
    EXPECT_NE(service.stderr_text.find("\nGET /tv/app.html 200 "), std::string::npos)
        << service.stderr_text;
}

// Listening anywhere but on a loopback address would put the service on the network.
TEST(ServiceProgram, RefusesAnAddressOffTheMachine) {
    Service service({"--bind", "0.0.0.0", "--port", "0"});
    ASSERT_TRUE(service.process);
    EXPECT_EQ(service.Finish(), 2);
    EXPECT_EQ(service.stdout_text, "");
    EXPECT_NE(service.stderr_text, "");
}

}  // namespace
