#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace pelko::service::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    GError* error = nullptr;
    gchar* made = g_dir_make_tmp("pelko-service-XXXXXX", &error);
    if (!made) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot make a temporary folder: " + message);
    }
    path_ = made;
    g_free(made);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& rel, const std::string& content) const {
    const fs::path file = fs::path(path_) / rel;
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file.string();
}

BoundedLoop::BoundedLoop(std::chrono::milliseconds timeout)
    : loop_(g_main_loop_new(nullptr, FALSE)), timeout_(timeout) {}

BoundedLoop::~BoundedLoop() { g_main_loop_unref(loop_); }

bool BoundedLoop::Run() {
    timed_out_ = false;
    const guint deadline = g_timeout_add(
        static_cast<guint>(timeout_.count()),
        [](gpointer self) -> gboolean {
            auto* loop = static_cast<BoundedLoop*>(self);
            loop->timed_out_ = true;
            g_main_loop_quit(loop->loop_);
            return G_SOURCE_REMOVE;
        },
        this);
    g_main_loop_run(loop_);
    if (!timed_out_) g_source_remove(deadline);
    return !timed_out_;
}

void BoundedLoop::Quit() { g_main_loop_quit(loop_); }

void BoundedLoop::QuitFromThread() const {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        g_main_loop_ref(loop_), reinterpret_cast<GDestroyNotify>(g_main_loop_unref));
}

HttpClient::HttpClient() {
    GProxyResolver* direct = g_simple_proxy_resolver_new(nullptr, nullptr);
    session_ = soup_session_new_with_options("proxy-resolver", direct, nullptr);
    g_object_unref(direct);
}

HttpClient::~HttpClient() { g_object_unref(session_); }

namespace {

// Lives until the callback has run, which may be after a timed-out Fetch
// has returned.
struct FetchState {
    GMainLoop* loop = nullptr;
    SoupMessage* msg = nullptr;
    bool done = false;
    bool ok = false;
    std::string body;

    ~FetchState() {
        if (msg) g_object_unref(msg);
        if (loop) g_main_loop_unref(loop);
    }
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(g_ascii_tolower(c));
    return text;
}

}  // namespace

std::optional<HttpResponse> HttpClient::Fetch(
    const std::string& method, const std::string& url,
    const std::vector<std::pair<std::string, std::string>>& headers,
    std::chrono::milliseconds timeout) {
    SoupMessage* msg = soup_message_new(method.c_str(), url.c_str());
    if (!msg) return std::nullopt;
    SoupMessageHeaders* request = soup_message_get_request_headers(msg);
    for (const auto& [name, value] : headers) {
        soup_message_headers_append(request, name.c_str(), value.c_str());
    }

    BoundedLoop loop(timeout);
    auto state = std::make_shared<FetchState>();
    state->loop = g_main_loop_ref(loop.Loop());
    state->msg = msg;
    GCancellable* cancel = g_cancellable_new();
    soup_session_send_and_read_async(
        session_, msg, G_PRIORITY_DEFAULT, cancel,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<FetchState>> holder(
                static_cast<std::shared_ptr<FetchState>*>(data));
            FetchState& s = **holder;
            GBytes* bytes =
                soup_session_send_and_read_finish(SOUP_SESSION(source), result, nullptr);
            if (bytes) {
                gsize size = 0;
                const auto* data_ptr = static_cast<const char*>(g_bytes_get_data(bytes, &size));
                s.body.assign(data_ptr ? data_ptr : "", size);
                g_bytes_unref(bytes);
                s.ok = true;
            }
            s.done = true;
            g_main_loop_quit(s.loop);
        },
        new std::shared_ptr<FetchState>(state));
    const bool finished = loop.Run();
    if (!finished) g_cancellable_cancel(cancel);
    g_object_unref(cancel);
    if (!finished || !state->ok) return std::nullopt;

    HttpResponse response;
    response.status = soup_message_get_status(msg);
    response.body = state->body;
    SoupMessageHeadersIter iter;
    const char* name;
    const char* value;
    soup_message_headers_iter_init(&iter, soup_message_get_response_headers(msg));
    while (soup_message_headers_iter_next(&iter, &name, &value)) {
        response.headers[Lower(name)] = value;
    }
    return response;
}

RawReply RawExchange(std::uint16_t port, const std::string& request,
                     const std::function<void()>& between) {
    RawReply reply;
    BoundedLoop loop(15s);
    std::thread client([&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            // Every blocking call below ends within this time.
            timeval limit{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                std::size_t sent = 0;
                while (sent < request.size()) {
                    const ssize_t n =
                        ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0) break;
                    sent += static_cast<std::size_t>(n);
                }
                bool headers_seen = false;
                char buffer[64 * 1024];
                for (;;) {
                    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                    // A reset counts as closed: the server may drop a client
                    // that is still sending a request it has refused.
                    if (n == 0 || (n < 0 && errno == ECONNRESET)) reply.closed = true;
                    if (n <= 0) break;
                    reply.bytes.append(buffer, static_cast<std::size_t>(n));
                    if (!headers_seen && reply.bytes.find("\r\n\r\n") != std::string::npos) {
                        headers_seen = true;
                        if (between) between();
                    }
                }
            }
            ::close(fd);
        }
        loop.QuitFromThread();
    });
    loop.Run();
    client.join();
    return reply;
}

HttpResponse ParseRawReply(const std::string& bytes) {
    HttpResponse response;
    const auto end = bytes.find("\r\n\r\n");
    const std::string head = bytes.substr(0, end);
    if (end != std::string::npos) response.body = bytes.substr(end + 4);
    std::size_t line_start = 0;
    bool first = true;
    while (line_start <= head.size()) {
        auto line_end = head.find("\r\n", line_start);
        if (line_end == std::string::npos) line_end = head.size();
        const std::string line = head.substr(line_start, line_end - line_start);
        if (first) {
            unsigned status = 0;
            if (std::sscanf(line.c_str(), "HTTP/%*d.%*d %u", &status) == 1)
                response.status = status;
            first = false;
        } else if (const auto colon = line.find(':'); colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            response.headers[Lower(line.substr(0, colon))] = value;
        }
        line_start = line_end + 2;
    }
    return response;
}

}  // namespace pelko::service::testing
