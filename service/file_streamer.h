#pragma once

#include <libsoup/soup.h>

#include <cstdint>
#include <functional>
#include <string>

#include "service/unique_fd.h"

namespace pelko::service {

// Sends one region of an open file as the body of a response, a chunk at a
// time: the next chunk is read only once the previous one has gone out, so
// the server's memory stays flat whatever the size of the file (a 200 MB
// program file included). Reading with pread rather than mapping the file
// also means a file replaced or cut short while it is being sent ends the
// transfer early instead of killing the server with SIGBUS.
class FileStreamer {
  public:
    using FailureSink = std::function<void(const std::string& line)>;

    // Sets the response's length, queues the first chunk and ties the
    // streamer (and the open file) to the message's lifetime. Returns false,
    // leaving the message untouched, when not even the first chunk can be read.
    static bool Attach(SoupServerMessage* msg, UniqueFd file, std::uint64_t offset,
                       std::uint64_t length, std::string name, FailureSink on_failure);

    ~FileStreamer() = default;
    FileStreamer(const FileStreamer&) = delete;
    FileStreamer& operator=(const FileStreamer&) = delete;

  private:
    FileStreamer(SoupServerMessage* msg, UniqueFd file, std::uint64_t offset, std::uint64_t length,
                 std::string name, FailureSink on_failure);

    static void OnWroteChunk(SoupServerMessage* msg, gpointer self);

    // Appends the next chunk to the body; false when the file would not give it.
    bool QueueNextChunk();
    // Ends a response whose file went short: the client sees fewer bytes than
    // announced and a closed connection, never bytes that are not the file's.
    void Abandon();

    SoupServerMessage* msg_;  // not owned: the message owns the streamer
    UniqueFd file_;
    std::uint64_t offset_;
    std::uint64_t remaining_;
    std::string name_;
    FailureSink on_failure_;
};

}  // namespace pelko::service
