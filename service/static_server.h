#pragma once

// The demo service: serves one folder over HTTP on a loopback address, with
// the TV page's playback reports on the side.

#include <libsoup/soup.h>

#include <cstdint>
#include <functional>
#include <list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "service/gobject_ptr.h"

namespace pelko::service {

// Why the server could not start listening.
class ListenError : public std::runtime_error {
  public:
    enum class Reason { kNotLoopback, kAddressInUse, kOther };
    ListenError(Reason reason, const std::string& what)
        : std::runtime_error(what), reason_(reason) {}
    Reason reason() const { return reason_; }

  private:
    Reason reason_;
};

class StaticServer {
  public:
    // Receives one line per request: method, path with query, status, body
    // bytes sent ("GET /tv/heartbeat?ch=1&t=3.2 204 0"). Test scripts read
    // these lines, so their form is fixed.
    using LogSink = std::function<void(const std::string& line)>;

    // The path the TV page reports its playback position to.
    static constexpr std::string_view kHeartbeatPath = "/tv/heartbeat";

    // Throws std::runtime_error when `root` is not a folder.
    StaticServer(const std::string& root, LogSink log);
    ~StaticServer();
    StaticServer(const StaticServer&) = delete;
    StaticServer& operator=(const StaticServer&) = delete;

    // Starts listening on a loopback address ("127.0.0.1", "::1" or
    // "localhost"); port 0 takes a free one. Throws ListenError.
    void Listen(const std::string& address, std::uint16_t port);

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:PORT", without a trailing slash.
    std::string BaseUrl() const;
    const std::string& Root() const { return root_; }

    // A sink that writes each line to standard error.
    static LogSink StderrLog();

    // The log form of a request target: control characters, blanks and bytes
    // outside ASCII escaped, overly long targets cut, so that one request is
    // always one readable line.
    static std::string PrintableTarget(std::string_view target);

    // Connections held open at once. A client past it takes the place of
    // the oldest connection that is not being answered (one that sent no
    // request yet, or waits between requests), so that connections that never
    // send a request can neither fill the server's memory nor slow its loop,
    // whose every turn goes over all of them.
    static constexpr std::size_t kMaxConnections = 512;

  private:
    struct Connection {
        GSocketConnection* stream;  // not owned: libsoup holds it; it leaves the list as it goes
        std::uint16_t remote_port;
        bool answering = false;  // a request head came and its answer is not done
    };

    static gboolean OnIncoming(GSocketService* service, GSocketConnection* stream, GObject* source,
                               gpointer self);
    static void OnConnectionGone(gpointer self, GObject* stream);
    static void OnGotHeaders(SoupServerMessage* msg, gpointer self);
    // False when every connection is being answered and none can give way.
    bool MakeRoom();
    Connection* ConnectionOf(SoupServerMessage* msg);

    static void OnRequest(SoupServer* server, SoupServerMessage* msg, const char* path,
                          GHashTable* query, gpointer self);
    static void OnRequestStarted(SoupServer* server, SoupServerMessage* msg, gpointer self);
    static void OnRequestEnded(SoupServer* server, SoupServerMessage* msg, gpointer self);

    void Respond(SoupServerMessage* msg, std::string_view path);
    void ServeDirectory(SoupServerMessage* msg, std::string_view path, bool head);
    void ServeFile(SoupServerMessage* msg, const std::string& file, bool head);
    void LogRequest(SoupServerMessage* msg);

    std::string root_;
    LogSink log_;
    GObjectPtr<SoupServer> server_;
    GObjectPtr<GSocketService> listener_;
    std::list<Connection> connections_;
    std::string host_;
    std::uint16_t port_ = 0;
};

}  // namespace pelko::service
