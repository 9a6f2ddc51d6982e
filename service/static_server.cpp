#include "service/static_server.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "service/byte_range.h"
#include "service/content_type.h"
#include "service/file_streamer.h"
#include "service/request_path.h"
#include "service/unique_fd.h"

namespace pelko::service {

namespace {

constexpr char kStatsKey[] = "pelko-request-stats";
constexpr std::size_t kMaxLoggedTarget = 512;
// Connections the kernel may hold for us before we accept them (it caps
// this at net.core.somaxconn).
constexpr int kListenBacklog = 4096;

// What the log line needs to know about a request beyond the message itself.
struct RequestStats {
    std::uint64_t body_bytes = 0;
};

void SendStatus(SoupServerMessage* msg, guint status) {
    soup_server_message_set_status(msg, status, nullptr);
    const char* phrase = soup_status_get_phrase(status);
    const std::string text = std::to_string(status) + " " + (phrase ? phrase : "") + "\n";
    soup_server_message_set_response(msg, "text/plain; charset=utf-8", SOUP_MEMORY_COPY,
                                     text.data(), text.size());
}

bool IsDecimal(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

guint StatusFor(PathVerdict verdict) {
    switch (verdict) {
        case PathVerdict::kBadRequest:
            return SOUP_STATUS_BAD_REQUEST;
        case PathVerdict::kForbidden:
            return SOUP_STATUS_FORBIDDEN;
        case PathVerdict::kTooLong:
            return SOUP_STATUS_REQUEST_URI_TOO_LONG;
        default:
            return SOUP_STATUS_NOT_FOUND;
    }
}

std::string CanonicalFolder(const std::string& root) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(root.c_str(), nullptr), &std::free);
    struct stat st {};
    if (!real || ::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw std::runtime_error("web root " + root + " is not a folder");
    }
    return real.get();
}

}  // namespace

StaticServer::StaticServer(const std::string& root, LogSink log)
    : root_(CanonicalFolder(root)), log_(std::move(log)) {
    // Raw paths: the handler gets the path exactly as encoded on the request
    // line and decodes it once itself, so that no decoding step of the
    // library can turn an escape into a separator behind our back.
    server_ = AdoptGObject(static_cast<SoupServer*>(g_object_new(
        SOUP_TYPE_SERVER, "raw-paths", TRUE, "server-header", "pelko-service", nullptr)));
    soup_server_add_handler(server_.get(), nullptr, &StaticServer::OnRequest, this, nullptr);
    g_signal_connect(server_.get(), "request-started", G_CALLBACK(&StaticServer::OnRequestStarted),
                     this);
    // libsoup reports a response that failed half way, and any 500, as
    // aborted; both still get their log line.
    g_signal_connect(server_.get(), "request-finished", G_CALLBACK(&StaticServer::OnRequestEnded),
                     this);
    g_signal_connect(server_.get(), "request-aborted", G_CALLBACK(&StaticServer::OnRequestEnded),
                     this);
}

StaticServer::~StaticServer() {
    if (listener_) {
        g_signal_handlers_disconnect_by_data(listener_.get(), this);
        g_socket_service_stop(listener_.get());
        g_socket_listener_close(G_SOCKET_LISTENER(listener_.get()));
    }
    for (const Connection& c : connections_) {
        g_object_weak_unref(G_OBJECT(c.stream), &StaticServer::OnConnectionGone, this);
    }
    g_signal_handlers_disconnect_by_data(server_.get(), this);
    soup_server_disconnect(server_.get());
}

gboolean StaticServer::OnIncoming(GSocketService*, GSocketConnection* stream, GObject*,
                                  gpointer self) {
    auto* server = static_cast<StaticServer*>(self);
    GSocket* socket = g_socket_connection_get_socket(stream);
    if (!server->MakeRoom()) {
        g_socket_close(socket, nullptr);
        return TRUE;
    }
    GObjectPtr<GSocketAddress> local(g_socket_get_local_address(socket, nullptr));
    GObjectPtr<GSocketAddress> remote(g_socket_get_remote_address(socket, nullptr));
    if (!local || !remote ||
        !soup_server_accept_iostream(server->server_.get(), G_IO_STREAM(stream), local.get(),
                                     remote.get(), nullptr)) {
        g_socket_close(socket, nullptr);
        return TRUE;
    }
    const auto port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(remote.get()));
    server->connections_.push_back({stream, port});
    g_object_weak_ref(G_OBJECT(stream), &StaticServer::OnConnectionGone, self);
    return TRUE;
}

void StaticServer::OnConnectionGone(gpointer self, GObject* stream) {
    auto& connections = static_cast<StaticServer*>(self)->connections_;
    connections.remove_if([stream](const Connection& c) { return G_OBJECT(c.stream) == stream; });
}

bool StaticServer::MakeRoom() {
    if (connections_.size() < kMaxConnections) return true;
    const auto idle = std::find_if(connections_.begin(), connections_.end(),
                                   [](const Connection& c) { return !c.answering; });
    if (idle == connections_.end()) return false;
    // libsoup reads the end of the stream and lets the connection go.
    g_socket_shutdown(g_socket_connection_get_socket(idle->stream), TRUE, TRUE, nullptr);
    g_object_weak_unref(G_OBJECT(idle->stream), &StaticServer::OnConnectionGone, this);
    connections_.erase(idle);
    return true;
}

StaticServer::Connection* StaticServer::ConnectionOf(SoupServerMessage* msg) {
    GSocketAddress* remote = soup_server_message_get_remote_address(msg);
    if (!remote || !G_IS_INET_SOCKET_ADDRESS(remote)) return nullptr;
    const auto port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(remote));
    for (Connection& c : connections_) {
        if (c.remote_port == port) return &c;
    }
    return nullptr;
}

void StaticServer::OnGotHeaders(SoupServerMessage* msg, gpointer self) {
    // Nothing we serve takes a request body; a client that sends one anyway
    // must not make the server keep it in memory.
    soup_message_body_set_accumulate(soup_server_message_get_request_body(msg), FALSE);
    if (Connection* c = static_cast<StaticServer*>(self)->ConnectionOf(msg)) c->answering = true;
}

void StaticServer::Listen(const std::string& address, std::uint16_t port) {
    const std::string literal = address == "localhost" ? "127.0.0.1" : address;
    GObjectPtr<GInetAddress> inet(g_inet_address_new_from_string(literal.c_str()));
    if (!inet) {
        throw ListenError(ListenError::Reason::kNotLoopback,
                          "\"" + address + "\" is not an IP address");
    }
    // The service is a stand-in for a real one on the developer's own
    // machine; it never offers the program folder's files to the network.
    if (!g_inet_address_get_is_loopback(inet.get())) {
        throw ListenError(ListenError::Reason::kNotLoopback,
                          address + " is not a loopback address; use 127.0.0.1 or ::1");
    }

    GObjectPtr<GSocketAddress> socket_address(g_inet_socket_address_new(inet.get(), port));
    GError* error = nullptr;
    const auto fail = [&error] {
        const bool in_use = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_ADDRESS_IN_USE);
        const std::string message = error->message;
        g_error_free(error);
        throw ListenError(in_use ? ListenError::Reason::kAddressInUse : ListenError::Reason::kOther,
                          message);
    };
    // The socket is made here rather than by libsoup, whose listener keeps
    // GLib's backlog of 10: a page that opens a burst of connections (or
    // anyone else) would overflow it, and every connection past it waits for
    // the client's SYN to be sent again, a second and more.
    GObjectPtr<GSocket> socket(g_socket_new(g_inet_address_get_family(inet.get()),
                                            G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, &error));
    if (!socket) fail();
    g_socket_set_listen_backlog(socket.get(), kListenBacklog);
    // The connections are accepted here too, so that their number is ours
    // to limit (kMaxConnections), and handed to libsoup one by one.
    listener_ = AdoptGObject(g_socket_service_new());
    if (!g_socket_bind(socket.get(), socket_address.get(), TRUE, &error) ||
        !g_socket_listen(socket.get(), &error) ||
        !g_socket_listener_add_socket(G_SOCKET_LISTENER(listener_.get()), socket.get(), nullptr,
                                      &error)) {
        fail();
    }
    g_signal_connect(listener_.get(), "incoming", G_CALLBACK(&StaticServer::OnIncoming), this);

    GObjectPtr<GSocketAddress> bound(g_socket_get_local_address(socket.get(), &error));
    if (!bound) fail();
    port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get()));
    gchar* text = g_inet_address_to_string(inet.get());
    host_ = text;
    g_free(text);
}

std::string StaticServer::BaseUrl() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

StaticServer::LogSink StaticServer::StderrLog() {
    return [](const std::string& line) {
        // One write per line keeps lines whole when several writers share the file.
        const std::string out = line + "\n";
        std::fwrite(out.data(), 1, out.size(), stderr);
        std::fflush(stderr);
    };
}

std::string StaticServer::PrintableTarget(std::string_view target) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    const bool cut = target.size() > kMaxLoggedTarget;
    if (cut) target = target.substr(0, kMaxLoggedTarget);
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    if (cut) out += "...";
    return out;
}

void StaticServer::OnRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                             gpointer self) {
    static_cast<StaticServer*>(self)->Respond(msg, path ? path : "");
}

void StaticServer::OnRequestStarted(SoupServer*, SoupServerMessage* msg, gpointer self) {
    auto* stats = new RequestStats;
    g_object_set_data_full(G_OBJECT(msg), kStatsKey, stats,
                           [](gpointer p) { delete static_cast<RequestStats*>(p); });
    g_signal_connect(msg, "wrote-body-data",
                     G_CALLBACK(+[](SoupServerMessage*, guint size, gpointer data) {
                         static_cast<RequestStats*>(data)->body_bytes += size;
                     }),
                     stats);
    g_signal_connect(msg, "got-headers", G_CALLBACK(&StaticServer::OnGotHeaders), self);
}

void StaticServer::OnRequestEnded(SoupServer*, SoupServerMessage* msg, gpointer self) {
    auto* server = static_cast<StaticServer*>(self);
    if (Connection* c = server->ConnectionOf(msg)) c->answering = false;
    server->LogRequest(msg);
}

void StaticServer::LogRequest(SoupServerMessage* msg) {
    if (!log_) return;
    const char* method = soup_server_message_get_method(msg);
    std::string target = "-";
    if (GUri* uri = soup_server_message_get_uri(msg)) {
        target = g_uri_get_path(uri);
        if (const char* query = g_uri_get_query(uri)) target += std::string("?") + query;
    }
    const auto* stats = static_cast<RequestStats*>(g_object_get_data(G_OBJECT(msg), kStatsKey));
    log_(std::string(method ? method : "-") + " " + PrintableTarget(target) + " " +
         std::to_string(soup_server_message_get_status(msg)) + " " +
         std::to_string(stats ? stats->body_bytes : 0));
}

void StaticServer::Respond(SoupServerMessage* msg, std::string_view path) {
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
    // The pages and the program file change whenever the developer
    // rebuilds; a browser must ask again every time.
    soup_message_headers_replace(headers, "Cache-Control", "no-cache");

    // libsoup reads a Content-Length that is no number as no body at all;
    // a proxy in front of us might read it otherwise and take the bytes
    // after it for another request, so such a request gets no answer but 400.
    const char* length = soup_message_headers_get_one(soup_server_message_get_request_headers(msg),
                                                      "Content-Length");
    if (length && !IsDecimal(length)) {
        soup_message_headers_replace(headers, "Connection", "close");
        SendStatus(msg, SOUP_STATUS_BAD_REQUEST);
        return;
    }

    // Methods are interned strings in libsoup, so pointers compare.
    const char* method = soup_server_message_get_method(msg);
    const bool head = method == SOUP_METHOD_HEAD;
    if (method != SOUP_METHOD_GET && !head) {
        soup_message_headers_replace(headers, "Allow", "GET, HEAD");
        SendStatus(msg, SOUP_STATUS_METHOD_NOT_ALLOWED);
        return;
    }

    // The TV page reports its position here; the log line is the report.
    if (path == kHeartbeatPath) {
        soup_server_message_set_status(msg, SOUP_STATUS_NO_CONTENT, nullptr);
        return;
    }

    const ResolvedPath resolved = ResolveRequestPath(root_, path);
    switch (resolved.verdict) {
        case PathVerdict::kFile:
            ServeFile(msg, resolved.file, head);
            return;
        case PathVerdict::kDirectory:
            ServeDirectory(msg, path, head);
            return;
        default:
            SendStatus(msg, StatusFor(resolved.verdict));
            return;
    }
}

void StaticServer::ServeDirectory(SoupServerMessage* msg, std::string_view path, bool head) {
    // Without the trailing slash the links of an index page would resolve
    // against the parent folder.
    if (path.empty() || path.back() != '/') {
        const std::string location = std::string(path) + "/";
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Location",
                                     location.c_str());
        SendStatus(msg, SOUP_STATUS_MOVED_PERMANENTLY);
        return;
    }
    // The index goes through the same checks as any request, so a link
    // named index.html cannot lead out of the root either. No listings.
    const ResolvedPath index = ResolveRequestPath(root_, std::string(path) + "index.html");
    if (index.verdict != PathVerdict::kFile) {
        SendStatus(msg, SOUP_STATUS_FORBIDDEN);
        return;
    }
    ServeFile(msg, index.file, head);
}

void StaticServer::ServeFile(SoupServerMessage* msg, const std::string& file, bool head) {
    // O_NOFOLLOW and the type check after opening close the gap between
    // resolving the path and opening it; O_NONBLOCK keeps a file swapped
    // for a pipe meanwhile from blocking the server.
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.Valid()) {
        SendStatus(msg, errno == EACCES ? SOUP_STATUS_FORBIDDEN : SOUP_STATUS_NOT_FOUND);
        return;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        SendStatus(msg, SOUP_STATUS_FORBIDDEN);
        return;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);

    SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
    SoupMessageHeaders* request = soup_server_message_get_request_headers(msg);
    soup_message_headers_replace(headers, "Accept-Ranges", "bytes");

    // Ranges apply to GET only. We send no validators, so a conditional
    // range (If-Range) can never match and gets the whole file.
    RangeRequest range;
    const char* range_header = soup_message_headers_get_one(request, "Range");
    if (!head && range_header && !soup_message_headers_get_one(request, "If-Range")) {
        range = ParseRangeHeader(range_header, size);
    }
    if (range.kind == RangeKind::kUnsatisfiable) {
        const std::string unsatisfied = "bytes */" + std::to_string(size);
        soup_message_headers_replace(headers, "Content-Range", unsatisfied.c_str());
        SendStatus(msg, SOUP_STATUS_REQUESTED_RANGE_NOT_SATISFIABLE);
        return;
    }
    const bool partial = range.kind == RangeKind::kPartial;
    const std::uint64_t first = partial ? range.first : 0;
    const std::uint64_t length = partial ? range.length : size;

    if (head) {
        soup_message_headers_replace(headers, "Content-Type", ContentTypeFor(file).c_str());
        soup_message_headers_set_content_length(headers, static_cast<goffset>(length));
        soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
        return;
    }
    if (!FileStreamer::Attach(msg, std::move(fd), first, length, file, log_)) {
        SendStatus(msg, SOUP_STATUS_INTERNAL_SERVER_ERROR);
        return;
    }
    soup_message_headers_replace(headers, "Content-Type", ContentTypeFor(file).c_str());
    if (partial) {
        soup_message_headers_set_content_range(headers, static_cast<goffset>(first),
                                               static_cast<goffset>(first + length - 1),
                                               static_cast<goffset>(size));
    }
    soup_server_message_set_status(msg, partial ? SOUP_STATUS_PARTIAL_CONTENT : SOUP_STATUS_OK,
                                   nullptr);
}

}  // namespace pelko::service
