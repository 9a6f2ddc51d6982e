#include "service/file_streamer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pelko::service {

namespace {

// Big enough that a long download is not dominated by per-chunk overhead,
// small enough that nothing worth mentioning is held per connection.
constexpr std::uint64_t kChunkSize = 128 * 1024;

constexpr char kStreamerKey[] = "pelko-file-streamer";

}  // namespace

FileStreamer::FileStreamer(SoupServerMessage* msg, UniqueFd file, std::uint64_t offset,
                           std::uint64_t length, std::string name, FailureSink on_failure)
    : msg_(msg),
      file_(std::move(file)),
      offset_(offset),
      remaining_(length),
      name_(std::move(name)),
      on_failure_(std::move(on_failure)) {}

bool FileStreamer::Attach(SoupServerMessage* msg, UniqueFd file, std::uint64_t offset,
                          std::uint64_t length, std::string name, FailureSink on_failure) {
    auto* streamer = new FileStreamer(msg, std::move(file), offset, length, std::move(name),
                                      std::move(on_failure));
    SoupMessageBody* body = soup_server_message_get_response_body(msg);
    // Chunks already written are dropped instead of being kept for the
    // whole response.
    soup_message_body_set_accumulate(body, FALSE);
    if (!streamer->QueueNextChunk()) {
        soup_message_body_truncate(body);
        soup_message_body_set_accumulate(body, TRUE);
        delete streamer;
        return false;
    }

    SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CONTENT_LENGTH);
    soup_message_headers_set_content_length(headers, static_cast<goffset>(length));
    g_object_set_data_full(G_OBJECT(msg), kStreamerKey, streamer,
                           [](gpointer p) { delete static_cast<FileStreamer*>(p); });
    g_signal_connect(msg, "wrote-chunk", G_CALLBACK(&FileStreamer::OnWroteChunk), streamer);
    return true;
}

void FileStreamer::OnWroteChunk(SoupServerMessage*, gpointer self) {
    auto* streamer = static_cast<FileStreamer*>(self);
    if (streamer->remaining_ == 0) return;
    if (!streamer->QueueNextChunk()) streamer->Abandon();
}

bool FileStreamer::QueueNextChunk() {
    if (remaining_ == 0) return true;
    const auto want = static_cast<std::size_t>(std::min(remaining_, kChunkSize));
    auto* buffer = static_cast<guchar*>(g_malloc(want));
    ssize_t got;
    do {
        got = ::pread(file_.Get(), buffer, want, static_cast<off_t>(offset_));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        const std::string reason = got == 0 ? "the file got shorter" : std::strerror(errno);
        g_free(buffer);
        if (on_failure_) on_failure_("pelko-service: cannot read " + name_ + ": " + reason);
        return false;
    }
    offset_ += static_cast<std::uint64_t>(got);
    remaining_ -= static_cast<std::uint64_t>(got);
    soup_message_body_append_take(soup_server_message_get_response_body(msg_), buffer,
                                  static_cast<gsize>(got));
    return true;
}

void FileStreamer::Abandon() {
    remaining_ = 0;
    file_.Reset();
    // The connection must not be reused: the client still waits for the
    // announced bytes and would read the next response as part of this one.
    // libsoup reads this header when the response ends, not when it starts.
    soup_message_headers_replace(soup_server_message_get_response_headers(msg_), "Connection",
                                 "close");
    soup_message_body_complete(soup_server_message_get_response_body(msg_));
}

}  // namespace pelko::service
