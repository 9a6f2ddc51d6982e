#include "controls/download_transfer.h"

#include <fcntl.h>
#include <giomm/unixoutputstream.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "core/program_swap.h"
#include "core/test_hooks.h"

namespace pelko::ui {

namespace {

// Large reads keep the number of main-loop turns per megabyte small.
constexpr std::size_t kBufferBytes = 1024 * 1024;
// The disk is asked to start writing every few megabytes, so that the
// final flush before the rename finds little left to do.
constexpr std::int64_t kWritebackBytes = 8 * 1024 * 1024;
// At most about twenty progress reports a second reach the window.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);

using Holder = std::shared_ptr<DownloadTransfer>;

struct UriUnref {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using UriPtr = std::unique_ptr<GUri, UriUnref>;

std::string Describe(GError* error) {
    std::string text = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

std::string ErrnoText(const std::string& what) { return what + ": " + g_strerror(errno); }

// The file name an address asks for: the last segment of its path, decoded.
// Names that would leave the folder or name no file are refused.
bool FileNameOf(const GUri* uri, std::string& name) {
    const std::string path = g_uri_get_path(const_cast<GUri*>(uri));
    const std::string segment = path.substr(path.find_last_of('/') + 1);
    char* decoded = g_uri_unescape_string(segment.c_str(), "/");
    if (decoded == nullptr) return false;
    name = decoded;
    g_free(decoded);
    return !name.empty() && name != "." && name != "..";
}

// The mode a new file gets from open(2) with 0666; read without changing the
// process umask, which other threads may rely on.
mode_t NewFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

// What the worker thread is given and gives back. It gets copies of all it
// reads, since the transfer may be abandoned meanwhile.
struct SyncWork {
    int fd;
    std::function<std::string(int)> check;
    bool keep_previous;
    std::string folder;
    std::string name;
    std::string temporary;
    GCancellable* cancellable;  // a reference of its own
    std::string refusal;
    bool replaced = false;

    ~SyncWork() { g_object_unref(cancellable); }
};

// Gives the new file the old one's permissions (and owner, where the old one
// belonged to someone else), so that a program stays executable. The set-id
// bits are not carried over to a file fetched from the network.
std::string TakeOverPermissions(int fd, const std::string& target) {
    mode_t mode = NewFileMode();
    struct stat old {};
    if (g_stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 0777;
        if (old.st_uid != geteuid() || old.st_gid != getegid()) {
            [[maybe_unused]] const int ignored = fchown(fd, old.st_uid, old.st_gid);
        }
    }
    return fchmod(fd, mode) == 0 ? "" : ErrnoText("chmod");
}

// The data reach the disk, the owner's check reads them, and the file
// takes the target's name: all of it away from the window's thread, since
// every step may wait for the disk. Until the rename, a cancel still wins.
void SyncInThread(GTask* task, gpointer, gpointer data, GCancellable*) {
    auto& work = *static_cast<SyncWork*>(data);
    auto fail = [task](const std::string& why) {
        g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_FAILED, "%s", why.c_str());
    };
    if (fsync(work.fd) != 0) return fail(g_strerror(errno));
    if (work.check) work.refusal = work.check(work.fd);
    if (!work.refusal.empty() || g_cancellable_is_cancelled(work.cancellable)) {
        return g_task_return_boolean(task, TRUE);
    }
    const std::string target = work.folder + "/" + work.name;
    if (auto why = TakeOverPermissions(work.fd, target); !why.empty()) return fail(why);
    if (work.keep_previous) {
        test_hooks::PausePoint("downloaded");
        if (auto why = swap::KeepPrevious(work.folder, work.name); !why.empty()) return fail(why);
        test_hooks::PausePoint("kept");
    }
    if (g_cancellable_is_cancelled(work.cancellable)) return g_task_return_boolean(task, TRUE);
    if (auto why = swap::Promote(work.temporary, work.folder, work.name); !why.empty()) {
        return fail(why);
    }
    work.replaced = true;
    if (work.keep_previous) test_hooks::PausePoint("swapped");
    g_task_return_boolean(task, TRUE);
}

}  // namespace

DownloadTransfer::DownloadTransfer(SoupSession* session, Options options, Listener listener)
    : session_(SOUP_SESSION(g_object_ref(session))),
      options_(std::move(options)),
      listener_(std::move(listener)),
      cancellable_(Gio::Cancellable::create()) {}

std::shared_ptr<DownloadTransfer> DownloadTransfer::Start(SoupSession* session, Options options,
                                                          Listener listener) {
    std::shared_ptr<DownloadTransfer> transfer(
        new DownloadTransfer(session, std::move(options), std::move(listener)));
    transfer->Begin();
    return transfer;
}

// A pending report holds a reference, so none is left to remove here.
DownloadTransfer::~DownloadTransfer() {
    if (message_) g_signal_handlers_disconnect_by_data(message_.get(), this);
    RemoveTemporary();
}

void DownloadTransfer::Begin() {
    GError* error = nullptr;
    UriPtr uri(
        g_uri_parse(options_.url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), &error));
    if (!uri) return Fail(DownloadFailure::BadAddress, Describe(error));
    const std::string scheme = g_uri_get_scheme(uri.get());
    const char* host = g_uri_get_host(uri.get());
    if (scheme != "http" && scheme != "https") {
        return Fail(DownloadFailure::BadAddress, "not an http or https address: " + options_.url);
    }
    std::string name;
    if (host == nullptr || *host == '\0' || !FileNameOf(uri.get(), name)) {
        return Fail(DownloadFailure::BadAddress, "the address names no file: " + options_.url);
    }
    if (options_.folder.empty()) return Fail(DownloadFailure::Disk, "no folder to save into");
    name_ = name;
    target_ = options_.folder + "/" + name;

    // A unique hidden name beside the target, so that the final rename stays
    // within one file system and two transfers never share a file.
    std::string temporary = swap::TemporaryTemplate(options_.folder, name);
    fd_ = g_mkstemp_full(temporary.data(), O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        return Fail(DownloadFailure::Disk, ErrnoText("cannot create a file in " + options_.folder));
    }
    temporary_ = temporary;
    file_ = Gio::UnixOutputStream::create(fd_, true);
    for (auto& buffer : buffers_) buffer.resize(kBufferBytes);

    message_.reset(soup_message_new_from_uri(SOUP_METHOD_GET, uri.get()));
    watchdog_ = std::make_unique<Watchdog>(options_.stall_timeout,
                                           [this] { Interrupt(DownloadFailure::Stalled); });
    // Each redirect is an answer: a server that keeps answering is not
    // silent, however long its chain (the session ends an endless one).
    g_signal_connect_swapped(message_.get(), "restarted", G_CALLBACK(+[](gpointer self) {
                                 auto* t = static_cast<DownloadTransfer*>(self);
                                 if (!t->interrupted_) t->watchdog_->Feed();
                             }),
                             this);
    soup_session_send_async(session_.get(), message_.get(), G_PRIORITY_DEFAULT,
                            cancellable_->gobj(), &DownloadTransfer::OnSent,
                            new Holder(shared_from_this()));
}

void DownloadTransfer::Cancel() { Interrupt(DownloadFailure::Cancelled); }

void DownloadTransfer::Abandon() {
    const auto keep = shared_from_this();
    abandoned_ = true;
    if (report_source_ != 0) g_source_remove(std::exchange(report_source_, 0));
    // The program may end before the cancelled operation comes back, so the
    // temporary file goes now; anything still written lands in a nameless file.
    RemoveTemporary();
    Interrupt(DownloadFailure::Cancelled);
}

void DownloadTransfer::Interrupt(DownloadFailure reason) {
    if (ended_ || interrupted_) return;
    // Cancelling may complete the pending operation at once, and its report
    // may drop the owner's reference.
    const auto keep = shared_from_this();
    interrupted_ = true;
    interrupt_ = reason;
    if (watchdog_) watchdog_->Stop();
    cancellable_->cancel();
}

void DownloadTransfer::OnSent(GObject* source, GAsyncResult* result, gpointer holder) {
    const std::unique_ptr<Holder> self(static_cast<Holder*>(holder));
    DownloadTransfer& t = **self;
    GError* error = nullptr;
    GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (body == nullptr) {
        // The session's own errors are about the answers, such as endless redirects.
        const bool answer = error != nullptr && error->domain == SOUP_SESSION_ERROR;
        return t.Fail(answer ? DownloadFailure::HttpStatus : DownloadFailure::Network,
                      Describe(error));
    }
    t.body_ = Glib::wrap(body);
    if (t.interrupted_) return t.Fail(t.interrupt_, "");

    const guint code = soup_message_get_status(t.message_.get());
    if (code < 200 || code > 299) {
        const char* phrase = soup_message_get_reason_phrase(t.message_.get());
        return t.Fail(DownloadFailure::HttpStatus,
                      "HTTP " + std::to_string(code) + " " + (phrase != nullptr ? phrase : ""));
    }
    SoupMessageHeaders* headers = soup_message_get_response_headers(t.message_.get());
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH) {
        t.expected_ = soup_message_headers_get_content_length(headers);
    }
    t.watchdog_->Feed();
    t.Pump();
}

// Two buffers: while one is written to the disk the next read fills the
// other, so the network and the disk work at the same time.
void DownloadTransfer::Pump() {
    if (writing_ < 0 && filled_ >= 0) {
        writing_ = std::exchange(filled_, -1);
        file_->write_all_async(
            buffers_[writing_].data(), filled_bytes_,
            [self = shared_from_this()](Glib::RefPtr<Gio::AsyncResult>& result) {
                self->OnWritten(result);
            },
            cancellable_);
    }
    if (reading_ < 0 && filled_ < 0 && !end_of_body_) {
        reading_ = writing_ == 0 ? 1 : 0;
        body_->read_async(
            buffers_[reading_].data(), buffers_[reading_].size(),
            [self = shared_from_this()](Glib::RefPtr<Gio::AsyncResult>& result) {
                self->OnRead(result);
            },
            cancellable_);
    }
    if (end_of_body_ && reading_ < 0 && writing_ < 0 && filled_ < 0) Commit();
}

void DownloadTransfer::OnRead(const Glib::RefPtr<Gio::AsyncResult>& result) {
    const int buffer = std::exchange(reading_, -1);
    gssize count = 0;
    try {
        count = body_->read_finish(result);
    } catch (const Glib::Error& e) {
        return Fail(DownloadFailure::Network, e.what());
    }
    // After a failure of the other half, the last operation only comes home.
    if (ended_) return;
    if (interrupted_) return Fail(interrupt_, "");
    if (count == 0) {
        end_of_body_ = true;
    } else {
        watchdog_->Feed();
        received_ += count;
        filled_ = buffer;
        filled_bytes_ = static_cast<gsize>(count);
    }
    Pump();
}

void DownloadTransfer::OnWritten(const Glib::RefPtr<Gio::AsyncResult>& result) {
    writing_ = -1;
    gsize written = 0;
    try {
        file_->write_all_finish(result, written);
    } catch (const Glib::Error& e) {
        return Fail(DownloadFailure::Disk, e.what());
    }
    if (ended_) return;
    if (interrupted_) return Fail(interrupt_, "");
    watchdog_->Feed();
    written_ += static_cast<std::int64_t>(written);
    if (written_ - written_back_ >= kWritebackBytes) {
        // Only starts the write-out and does not wait for it; a failure
        // here costs nothing but time at the final flush.
        sync_file_range(fd_, written_back_, written_ - written_back_, SYNC_FILE_RANGE_WRITE);
        written_back_ = written_;
    }
    ReportProgress();
    // A handler that started another transfer has abandoned this one.
    if (abandoned_) return;
    Pump();
}

void DownloadTransfer::ReportProgress() {
    // The report at 100 % comes once, with the completion.
    if (expected_ >= 0 && received_ >= expected_) return;
    const auto now = std::chrono::steady_clock::now();
    if (any_progress_ && now - last_progress_ < kProgressInterval) return;
    any_progress_ = true;
    last_progress_ = now;
    const float fraction =
        expected_ > 0 ? static_cast<float>(static_cast<double>(received_) / expected_) : 0.0f;
    const std::int32_t size = ClampByteCount(expected_ >= 0 ? expected_ : received_);
    if (!abandoned_) listener_.progress(fraction, received_, size);
}

void DownloadTransfer::Commit() {
    if (expected_ >= 0 && received_ != expected_) {
        return Fail(DownloadFailure::Truncated, "received " + std::to_string(received_) + " of " +
                                                    std::to_string(expected_) + " bytes");
    }
    // An empty answer replaces nothing: an empty program file is no program.
    if (received_ == 0) return End(0, "");
    watchdog_->Stop();
    // The data must be on the disk before the rename makes it the program,
    // and waiting for the disk must not freeze the window.
    GTask* task =
        g_task_new(nullptr, nullptr, &DownloadTransfer::OnSynced, new Holder(shared_from_this()));
    auto* work = new SyncWork{fd_,
                              options_.check,
                              options_.keep_previous,
                              options_.folder,
                              name_,
                              temporary_,
                              G_CANCELLABLE(g_object_ref(cancellable_->gobj())),
                              {}};
    g_task_set_task_data(task, work, [](gpointer data) { delete static_cast<SyncWork*>(data); });
    g_task_run_in_thread(task, &SyncInThread);
    g_object_unref(task);
}

void DownloadTransfer::OnSynced(GObject*, GAsyncResult* result, gpointer holder) {
    const std::unique_ptr<Holder> self(static_cast<Holder*>(holder));
    DownloadTransfer& t = **self;
    GError* error = nullptr;
    const bool synced = g_task_propagate_boolean(G_TASK(result), &error);
    const auto& work = *static_cast<SyncWork*>(g_task_get_task_data(G_TASK(result)));
    // A file that took the target's name is saved, whatever came meanwhile:
    // the report says what the folder now holds.
    if (work.replaced) {
        t.temporary_.clear();
        try {
            t.file_->close();
        } catch (const Glib::Error&) {
            // The data were synced before the rename; nothing is lost.
        }
        return t.End(ClampByteCount(t.received_), "");
    }
    // A cancel that came while the disk was busy still wins: nothing is renamed.
    if (t.interrupted_) {
        g_clear_error(&error);
        return t.Fail(t.interrupt_, "");
    }
    if (!synced) return t.Fail(DownloadFailure::Disk, Describe(error));
    if (!work.refusal.empty()) return t.Fail(DownloadFailure::Refused, work.refusal);
    t.Fail(DownloadFailure::Disk, "cancelled");
}

void DownloadTransfer::Fail(DownloadFailure kind, const std::string& why) {
    // Whatever an interrupted operation says, the interruption is the reason.
    if (!interrupted_) return End(StatusOf(kind), why);
    if (interrupt_ == DownloadFailure::Stalled) {
        return End(
            StatusOf(interrupt_),
            "nothing received for " + std::to_string(options_.stall_timeout.count()) + " ms");
    }
    End(StatusOf(interrupt_), "cancelled");
}

void DownloadTransfer::End(std::int32_t status, std::string why) {
    if (ended_) return;
    ended_ = true;
    status_ = status;
    error_ = std::move(why);
    if (watchdog_) watchdog_->Stop();
    if (status <= 0) RemoveTemporary();
    // The other half of the pump may still wait on the network; it has
    // nothing left to do.
    cancellable_->cancel();
    if (abandoned_) return;
    // Reported from the main loop: End can run inside Cancel or Start.
    report_source_ = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer holder) -> gboolean {
            (*static_cast<Holder*>(holder))->Report();
            return G_SOURCE_REMOVE;
        },
        new Holder(shared_from_this()),
        [](gpointer holder) { delete static_cast<Holder*>(holder); });
}

void DownloadTransfer::Report() {
    report_source_ = 0;
    if (status_ > 0) {
        listener_.progress(1.0f, received_, status_);
        if (abandoned_) return;
    }
    listener_.complete(status_);
}

void DownloadTransfer::RemoveTemporary() {
    if (temporary_.empty()) return;
    g_unlink(temporary_.c_str());
    temporary_.clear();
}

}  // namespace pelko::ui
