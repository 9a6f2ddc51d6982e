// pelko-service: the demo service host. Serves the folder "www" beside the
// executable (or --root) on 127.0.0.1:8370 (or --bind/--port) until SIGINT
// or SIGTERM.

#include <glib-unix.h>
#include <glib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "core/program_folder.h"
#include "service/static_server.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr std::uint16_t kDefaultPort = 8370;
constexpr char kUsage[] =
    "usage: pelko-service [--root DIR] [--port N] [--bind ADDR]\n"
    "  --root DIR   folder to serve (default: www beside the executable)\n"
    "  --port N     TCP port, 0 for any free one (default: 8370)\n"
    "  --bind ADDR  loopback address to listen on (default: 127.0.0.1)\n";

struct Options {
    std::string root;
    std::string bind = "127.0.0.1";
    std::uint16_t port = kDefaultPort;
};

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Accepts "--name value" and "--name=value". Returns nullopt after printing
// what was wrong.
std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    options.root = pelko::ProgramFolder() + "/www";
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const auto eq = arg.find('=');
            arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name != "--root" && name != "--port" && name != "--bind") {
            std::fprintf(stderr, "pelko-service: unknown argument \"%s\"\n%s", argv[i], kUsage);
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "pelko-service: %s needs a value\n%s", argv[i], kUsage);
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (name == "--root") {
            options.root = std::string(*value);
        } else if (name == "--bind") {
            options.bind = std::string(*value);
        } else if (const auto port = ParsePort(*value)) {
            options.port = *port;
        } else {
            std::fprintf(stderr, "pelko-service: \"%.*s\" is not a port (0-65535)\n",
                         static_cast<int>(value->size()), value->data());
            return std::nullopt;
        }
    }
    return options;
}

gboolean QuitLoop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    // Whoever reads our output may go away first (a test that has seen the
    // "listening" line); a write to a closed pipe must not kill the server.
    std::signal(SIGPIPE, SIG_IGN);

    const auto options = ParseArguments(argc, argv);
    if (!options) return kExitUsage;

    try {
        pelko::service::StaticServer server(options->root,
                                            pelko::service::StaticServer::StderrLog());
        try {
            server.Listen(options->bind, options->port);
        } catch (const pelko::service::ListenError& e) {
            using Reason = pelko::service::ListenError::Reason;
            if (e.reason() == Reason::kAddressInUse) {
                std::fprintf(stderr,
                             "pelko-service: port %u on %s is already in use; stop the other "
                             "server or choose another port with --port\n",
                             static_cast<unsigned>(options->port), options->bind.c_str());
                return kExitFailure;
            }
            std::fprintf(stderr, "pelko-service: cannot listen on %s port %u: %s\n",
                         options->bind.c_str(), static_cast<unsigned>(options->port), e.what());
            return e.reason() == Reason::kNotLoopback ? kExitUsage : kExitFailure;
        }

        // Scripts and tests read the port from this line: keep its form.
        std::printf("pelko-service: listening on %s\n", server.BaseUrl().c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "pelko-service: serving %s\n", server.Root().c_str());

        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        const guint int_source = g_unix_signal_add(SIGINT, &QuitLoop, loop);
        const guint term_source = g_unix_signal_add(SIGTERM, &QuitLoop, loop);
        g_main_loop_run(loop);
        g_source_remove(int_source);
        g_source_remove(term_source);
        g_main_loop_unref(loop);
        std::fprintf(stderr, "pelko-service: stopped\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelko-service: %s\n", e.what());
        return kExitFailure;
    }
}
