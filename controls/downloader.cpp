#include "controls/downloader.h"

#include <utility>

#include "controls/download_transfer.h"

namespace pelko::ui {

Downloader::Downloader() : session_(soup_session_new()) {
    // The file is wanted byte for byte as the server holds it, and its
    // announced length must match what arrives: no transparent decoding.
    soup_session_remove_feature_by_type(session_.get(), SOUP_TYPE_CONTENT_DECODER);
    soup_session_set_user_agent(session_.get(), "Pelko");
}

Downloader::~Downloader() {
    if (current_) current_->Abandon();
}

void Downloader::StartDownload() {
    if (current_) std::exchange(current_, nullptr)->Abandon();
    DownloadTransfer::Listener listener{
        [this](float fraction, std::int64_t received, std::int32_t size) {
            progress_.emit(fraction, static_cast<long>(received), size);
        },
        [this](std::int32_t status) { OnComplete(status); },
    };
    current_ = DownloadTransfer::Start(session_.get(),
                                       {url_, folder_, stall_timeout_, check_, keep_previous_},
                                       std::move(listener));
}

void Downloader::CancelDownload() {
    if (const auto transfer = current_) transfer->Cancel();
}

void Downloader::OnComplete(std::int32_t status) {
    // Done before the event, so that its handler may start the next transfer.
    const auto finished = std::exchange(current_, nullptr);
    last_error_ = finished->Error();
    if (status > 0) saved_file_ = finished->Target();
    complete_.emit(status);
}

}  // namespace pelko::ui
