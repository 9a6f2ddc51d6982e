#include "updater/SignatureFetch.h"

#include <gio/gio.h>

#include <utility>
#include <vector>

#include "core/minisign.h"

namespace pelko::updater {

struct SignatureFetch::Pending {
    SignatureFetch* owner = nullptr;  // null once the owner has gone
    Done done;
    ui::GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    ui::GObjectPtr<SoupMessage> message;
    ui::GObjectPtr<GInputStream> body;
    // One byte more than a signature may have, to tell a longer answer.
    std::vector<char> buffer = std::vector<char>(minisign::kMaxSignatureBytes + 1);
    bool cancelled = false;

    void Finish(Result result, std::string text = {}) {
        if (owner == nullptr) return;
        std::exchange(owner, nullptr)->pending_.reset();
        // The callback may start the next fetch: it gets its own copy of the handler.
        Done handler = std::move(done);
        handler(cancelled ? Result::Cancelled : result, std::move(text));
    }
};

namespace {

using Holder = std::shared_ptr<SignatureFetch::Pending>;

void OnRead(GObject* source, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<Holder> self(static_cast<Holder*>(data));
    auto& p = **self;
    gsize count = 0;
    const bool read =
        g_input_stream_read_all_finish(G_INPUT_STREAM(source), result, &count, nullptr);
    if (!read) return p.Finish(SignatureFetch::Result::Missing);
    if (count > minisign::kMaxSignatureBytes) return p.Finish(SignatureFetch::Result::TooLarge);
    p.Finish(SignatureFetch::Result::Fetched, std::string(p.buffer.data(), count));
}

void OnSent(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Holder> self(static_cast<Holder*>(data));
    auto& p = **self;
    GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, nullptr);
    if (body == nullptr) return p.Finish(SignatureFetch::Result::Missing);
    p.body.reset(body);
    const guint code = soup_message_get_status(p.message.get());
    if (code < 200 || code > 299) return p.Finish(SignatureFetch::Result::Missing);
    g_input_stream_read_all_async(body, p.buffer.data(), p.buffer.size(), G_PRIORITY_DEFAULT,
                                  p.cancellable.get(), &OnRead, self.release());
}

}  // namespace

SignatureFetch::SignatureFetch() : session_(soup_session_new()) {
    soup_session_remove_feature_by_type(session_.get(), SOUP_TYPE_CONTENT_DECODER);
    soup_session_set_user_agent(session_.get(), "Pelko");
    soup_session_set_timeout(session_.get(), 30);
}

SignatureFetch::~SignatureFetch() {
    if (pending_) {
        pending_->owner = nullptr;
        g_cancellable_cancel(pending_->cancellable.get());
    }
}

void SignatureFetch::Start(const std::string& url, Done done) {
    if (pending_) {
        const auto old = std::exchange(pending_, nullptr);
        old->owner = nullptr;
        g_cancellable_cancel(old->cancellable.get());
    }
    auto pending = std::make_shared<Pending>();
    pending->owner = this;
    pending->done = std::move(done);
    pending->message.reset(soup_message_new(SOUP_METHOD_GET, url.c_str()));
    pending_ = pending;
    if (!pending->message) {
        // Reported from the main loop like every other ending.
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                (*static_cast<Holder*>(data))->Finish(Result::Missing);
                return G_SOURCE_REMOVE;
            },
            new Holder(pending), [](gpointer data) { delete static_cast<Holder*>(data); });
        return;
    }
    soup_session_send_async(session_.get(), pending->message.get(), G_PRIORITY_DEFAULT,
                            pending->cancellable.get(), &OnSent, new Holder(pending));
}

void SignatureFetch::Cancel() {
    if (!pending_) return;
    pending_->cancelled = true;
    g_cancellable_cancel(pending_->cancellable.get());
}

}  // namespace pelko::updater
