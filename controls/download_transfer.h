#pragma once

// One fetch of one http(s) address into one folder. The body streams into a
// temporary file beside the target, which replaces the target only after a
// complete success; every other ending removes the temporary file and leaves
// the target as it was. Every report arrives from the main loop, never from
// inside a call of the owner.

#include <giomm.h>
#include <libsoup/soup.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/download_status.h"
#include "controls/gobject_ptr.h"
#include "controls/watchdog.h"

namespace pelko::ui {

class DownloadTransfer : public std::enable_shared_from_this<DownloadTransfer> {
  public:
    struct Options {
        std::string url;
        std::string folder;
        std::chrono::milliseconds stall_timeout;
        // Asked about the complete file (open, on the disk) before it
        // replaces the target; a non-empty answer says why it must not, and
        // the transfer then fails as Refused. It runs on a worker thread.
        std::function<std::string(int fd)> check;
        // Keep the file replaced beside the new one, as "<name>.old".
        bool keep_previous = false;
    };
    struct Listener {
        // Share done (0 when the size is unknown), bytes so far, size shown.
        std::function<void(float, std::int64_t, std::int32_t)> progress;
        std::function<void(std::int32_t status)> complete;
    };

    // Starts at once; reports come later, even for an address that is refused.
    static std::shared_ptr<DownloadTransfer> Start(SoupSession* session, Options options,
                                                   Listener listener);
    ~DownloadTransfer();
    DownloadTransfer(const DownloadTransfer&) = delete;
    DownloadTransfer& operator=(const DownloadTransfer&) = delete;

    // Ends the transfer with a Cancelled report.
    void Cancel();
    // Ends it without any report, its temporary file removed before returning.
    void Abandon();

    // The file the transfer replaces (empty for a refused address).
    const std::string& Target() const { return target_; }
    // Why it failed, in words.
    const std::string& Error() const { return error_; }

  private:
    DownloadTransfer(SoupSession* session, Options options, Listener listener);

    void Begin();
    void Interrupt(DownloadFailure reason);
    static void OnSent(GObject* source, GAsyncResult* result, gpointer holder);
    void Pump();
    void OnRead(const Glib::RefPtr<Gio::AsyncResult>& result);
    void OnWritten(const Glib::RefPtr<Gio::AsyncResult>& result);
    void ReportProgress();
    void Commit();
    static void OnSynced(GObject* source, GAsyncResult* result, gpointer holder);
    void Fail(DownloadFailure kind, const std::string& why);
    void End(std::int32_t status, std::string why);
    void Report();
    void RemoveTemporary();

    GObjectPtr<SoupSession> session_;
    Options options_;
    Listener listener_;
    std::string name_;
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    Glib::RefPtr<Gio::Cancellable> cancellable_;
    GObjectPtr<SoupMessage> message_;
    Glib::RefPtr<Gio::InputStream> body_;
    Glib::RefPtr<Gio::OutputStream> file_;
    std::array<std::vector<char>, 2> buffers_;
    int reading_ = -1;  // the buffer a read is filling
    int writing_ = -1;  // the buffer being written
    int filled_ = -1;   // a buffer read and waiting for the disk
    gsize filled_bytes_ = 0;
    bool end_of_body_ = false;
    std::unique_ptr<Watchdog> watchdog_;
    std::int64_t received_ = 0;
    std::int64_t written_ = 0;
    std::int64_t written_back_ = 0;
    std::int64_t expected_ = -1;
    std::chrono::steady_clock::time_point last_progress_;
    bool any_progress_ = false;
    DownloadFailure interrupt_ = DownloadFailure::Network;
    bool interrupted_ = false;
    bool abandoned_ = false;
    bool ended_ = false;
    std::int32_t status_ = 0;
    std::string error_;
    guint report_source_ = 0;
};

}  // namespace pelko::ui
