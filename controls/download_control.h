#pragma once

// The download control as a window places it: a strip that draws the
// progress of the running transfer, and the download contract of Downloader.
// A program that only needs the file can keep it hidden.

#include <gtkmm.h>

#include <string>
#include <utility>

#include "controls/downloader.h"

namespace pelko::ui {

class DownloadControl : public Gtk::DrawingArea {
  public:
    DownloadControl();

    void URL(std::string url) { downloader_.URL(std::move(url)); }
    const std::string& URL() const { return downloader_.URL(); }
    void SaveFolder(std::string folder) { downloader_.SaveFolder(std::move(folder)); }
    const std::string& SaveFolder() const { return downloader_.SaveFolder(); }
    const std::string& SavedFile() const { return downloader_.SavedFile(); }

    void StartDownload();
    void CancelDownload() { downloader_.CancelDownload(); }
    void Check(std::function<std::string(int fd)> check) { downloader_.Check(std::move(check)); }
    void KeepPrevious(bool keep) { downloader_.KeepPrevious(keep); }

    Downloader::ProgressSignal& DownloadProgress() { return downloader_.DownloadProgress(); }
    Downloader::CompleteSignal& DownloadComplete() { return downloader_.DownloadComplete(); }
    const std::string& LastError() const { return downloader_.LastError(); }

  protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;

  private:
    void OnProgress(float fraction, long received, std::int32_t size);

    Downloader downloader_;
    double fraction_ = 0.0;
};

}  // namespace pelko::ui
