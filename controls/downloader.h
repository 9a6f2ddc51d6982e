#pragma once

// The download contract both programs rely on, without the widget: set the
// address and the folder, start, and hear about progress and the end from
// the main loop. The file is saved under the last segment of the address's
// path and replaces a file of that name only after a complete success.

#include <libsoup/soup.h>
#include <sigc++/sigc++.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "controls/download_status.h"
#include "controls/gobject_ptr.h"

namespace pelko::ui {

class DownloadTransfer;

class Downloader {
  public:
    // Fraction done (0 to 1), bytes so far (for nobody in particular), size.
    using ProgressSignal = sigc::signal<void(float, long, std::int32_t)>;
    // Bytes received when positive, a DownloadFailure when negative.
    using CompleteSignal = sigc::signal<void(std::int32_t)>;

    static constexpr std::chrono::milliseconds kStallTimeout{30000};

    Downloader();
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    void URL(std::string url) { url_ = std::move(url); }
    const std::string& URL() const { return url_; }
    void SaveFolder(std::string folder) { folder_ = std::move(folder); }
    const std::string& SaveFolder() const { return folder_; }
    // The file the last successful transfer was saved to.
    const std::string& SavedFile() const { return saved_file_; }

    // Returns at once; the events follow from the main loop. A transfer still
    // running is dropped first, silently, so that only one ever writes.
    void StartDownload();
    // Ends the running transfer with DownloadComplete(Cancelled).
    void CancelDownload();

    ProgressSignal& DownloadProgress() { return progress_; }
    CompleteSignal& DownloadComplete() { return complete_; }

    // Why the last transfer failed, in words.
    const std::string& LastError() const { return last_error_; }
    // How long a transfer may receive nothing before it fails.
    void StallTimeout(std::chrono::milliseconds timeout) { stall_timeout_ = timeout; }
    // A check the complete file must pass before it replaces the old one
    // (see DownloadTransfer::Options::check); none by default.
    void Check(std::function<std::string(int fd)> check) { check_ = std::move(check); }
    // Keeps the file a transfer replaces as "<name>.old" beside the new one,
    // so that the owner can put it back (see core/program_swap.h).
    void KeepPrevious(bool keep) { keep_previous_ = keep; }

  private:
    void OnComplete(std::int32_t status);

    GObjectPtr<SoupSession> session_;
    std::shared_ptr<DownloadTransfer> current_;
    std::string url_;
    std::string folder_;
    std::string saved_file_;
    std::string last_error_;
    std::chrono::milliseconds stall_timeout_ = kStallTimeout;
    std::function<std::string(int)> check_;
    bool keep_previous_ = false;
    ProgressSignal progress_;
    CompleteSignal complete_;
};

}  // namespace pelko::ui
