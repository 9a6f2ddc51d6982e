#pragma once

// PelkoUpdate's one window: the download address, Start and Cancel, the
// download control's strip and the progress text. Start fetches the
// program file's signature, then the program file; only a file signed by
// one of our keys, for this program and an acceptable version, replaces the
// main program, which is started once the user has read the result; the
// window then closes. The replaced program is kept as Pelko.old until the
// new one says it came up; a new program that fails is undone.

#include <gtkmm.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/download_control.h"
#include "controls/form_panel.h"
#include "core/minisign.h"
#include "updater/Arguments.h"
#include "updater/FolderLock.h"
#include "updater/Handshake.h"
#include "updater/SignatureFetch.h"

namespace pelko::updater {

class Form1 : public Gtk::Window {
  public:
    static constexpr const char* kCaption = "PelkoUpdate";
    static constexpr int kClientWidth = 501;
    static constexpr int kClientHeight = 249;

    explicit Form1(Versions versions);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Closes the window and stops waiting for a new program: what a kill
    // would leave, the next run clears.
    void Close();

  protected:
    void on_realize() override;
    bool on_delete_event(GdkEventAny* event) override;

  private:
    void Form_Load();
    void cmdok_Click();
    void cmdcancel_Click();
    void DownloadProgress(float fraction, long unused, std::int32_t size);
    void DownloadComplete(std::int32_t status);
    void SignatureFetched(SignatureFetch::Result result, std::string signature);
    // Tells the user why the update was refused and keeps the installed
    // version in update.ini, so that the next start offers the update again.
    void Refuse(const std::string& why);
    std::string InstalledVersion() const;
    static std::vector<minisign::PublicKey> ParsePublicKeysOrNone();

    // The progress text sizes itself to its text, from its fixed top-left corner.
    void SetProgressText(const std::string& text);
    // What an update that was killed half-way left in the folder goes.
    void CleanUpEarlierUpdate();
    // Starts the new main program and keeps the updater running, its window
    // gone, until the program says it came up or fails.
    void StartMainProgram();
    void NewProgramStarted(Handshake::Outcome outcome, const std::string& detail);
    // Puts the previous program and version back and starts that program.
    void Undo(const std::string& why);
    void EndWait();

    Versions versions_;
    FolderLock lock_;
    Handshake handshake_;
    // What update.ini said before a successful transfer wrote the new version.
    std::string previous_version_;
    bool waiting_ = false;
    bool closing_ = false;
    SignatureFetch signature_fetch_;
    // The version the accepted file was signed for; written by the check on
    // the worker thread, read once the download has ended.
    std::shared_ptr<std::string> signed_version_;
    ui::FormPanel panel_{kClientWidth, kClientHeight};
    // The controls in their order, which is also their stacking from bottom to top.
    Gtk::Image Image1;
    Gtk::Label Label1;
    Gtk::Label Label2;
    ui::DownloadControl DL;
    Gtk::Label Label3;
    Gtk::Button cmdok;
    Gtk::Button cmdcancel;
};

}  // namespace pelko::updater
