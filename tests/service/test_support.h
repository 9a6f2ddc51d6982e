#pragma once

// Helpers shared by the service tests: a temporary folder, a main loop with a
// deadline, an HTTP client on libsoup and a raw socket for requests that no
// well-behaved client would send.

#include <glib.h>
#include <libsoup/soup.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelko::service::testing {

using namespace std::chrono_literals;

// A fresh folder under $TMPDIR, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Writes `content` to Path()/rel, creating folders on the way.
    std::string Write(const std::string& rel, const std::string& content) const;

  private:
    std::string path_;
};

// The default main loop, run until Quit() or until the timeout passes.
class BoundedLoop {
  public:
    explicit BoundedLoop(std::chrono::milliseconds timeout = 5s);
    ~BoundedLoop();
    BoundedLoop(const BoundedLoop&) = delete;
    BoundedLoop& operator=(const BoundedLoop&) = delete;

    // True when Quit came before the deadline.
    bool Run();
    void Quit();
    // The loop itself, for callbacks that may outlive this object: they hold
    // their own reference and quitting a finished loop does nothing.
    GMainLoop* Loop() const { return loop_; }
    // Safe from any thread.
    void QuitFromThread() const;

  private:
    GMainLoop* loop_;
    std::chrono::milliseconds timeout_;
    bool timed_out_ = false;
};

struct HttpResponse {
    unsigned status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    std::string Header(const std::string& lower_name) const {
        const auto it = headers.find(lower_name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A libsoup session that never uses a proxy, whatever the environment says.
class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // nullopt when the transfer failed or did not finish in time.
    std::optional<HttpResponse> Fetch(
        const std::string& method, const std::string& url,
        const std::vector<std::pair<std::string, std::string>>& headers = {},
        std::chrono::milliseconds timeout = 10s);

  private:
    SoupSession* session_;
};

// What came back on a raw connection.
struct RawReply {
    std::string bytes;
    bool closed = false;  // the server closed the connection (as opposed to a timeout)
};

// Sends `request` as it is to 127.0.0.1:port and reads until the server
// closes the connection, while the main loop keeps the in-process server
// running. If `between` is given, it runs on the client's thread once the
// response headers have arrived, before the rest is read.
RawReply RawExchange(std::uint16_t port, const std::string& request,
                     const std::function<void()>& between = {});

// Splits a raw reply into status, headers and body; status 0 when there was
// no status line.
HttpResponse ParseRawReply(const std::string& bytes);

}  // namespace pelko::service::testing
