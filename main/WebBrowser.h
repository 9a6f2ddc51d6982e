#pragma once

// The embedded browser: a WebKitGTK view behind the few members the main
// window uses. It owns its web context and disconnects everything it
// connected when it goes.

#include <gtkmm.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <vector>

#include "main/PageGuard.h"
#include "main/PageMedia.h"
#include "main/WebData.h"

namespace pelko {

// The document the browser shows. Handlers of oncontextmenu return false to
// cancel the browser's own context menu.
class HtmlDocument {
  public:
    explicit HtmlDocument(std::string url) : url_(std::move(url)) {}
    const std::string& URL() const { return url_; }
    sigc::signal<bool()>& oncontextmenu() { return oncontextmenu_; }

  private:
    std::string url_;
    sigc::signal<bool()> oncontextmenu_;
};

class WebBrowser {
  public:
    WebBrowser();
    ~WebBrowser();
    WebBrowser(const WebBrowser&) = delete;
    WebBrowser& operator=(const WebBrowser&) = delete;

    Gtk::Widget& Widget() { return *widget_; }

    // No dialog of the browser's own: script dialogs, printing, choosers,
    // permission and authentication requests are answered quietly.
    bool Silent() const { return guard_->Quiet(); }
    void Silent(bool quiet) { guard_->Quiet(quiet); }

    // Starts a navigation and returns. A "mailto:" address goes to the
    // desktop's mail program and is never rendered.
    void Navigate(const std::string& url);

    // The document shown now; empty before the first one is committed.
    std::shared_ptr<HtmlDocument> Document() const { return document_; }

    // A navigation of the top-level document has begun: the page's process
    // runs and has asked for it.
    sigc::signal<void()>& LoadStarted() { return load_started_; }
    // The top-level document has finished loading.
    sigc::signal<void(const std::string& url)>& DocumentComplete() { return document_complete_; }
    // A navigation failed, of the page or of a frame: network errors, HTTP
    // statuses of 400 and up, a stall, a crash of the page's process. Raised
    // from the main loop, outside the browser's own callbacks.
    sigc::signal<void(const std::string& url, int status)>& NavigateError() {
        return navigate_error_;
    }

    // The page's process ended without being asked to (a crash, or killed
    // for its memory), or was ended after kHangSeconds of not answering.
    // The view is blank until something is loaded again.
    sigc::signal<void()>& WebProcessTerminated() { return web_process_terminated_; }

    // The page asks for fullscreen and leaves it (its own exitFullscreen(),
    // or Escape). The window does the rest.
    sigc::signal<void()>& EnterFullscreen() { return enter_fullscreen_; }
    sigc::signal<void()>& LeaveFullscreen() { return leave_fullscreen_; }
    bool Fullscreen() const { return fullscreen_; }
    // Asks the page to leave fullscreen, as Escape would.
    void ExitFullscreen();

    // Whether any audio or video of the page is playing now, and its changes.
    bool Playing() const { return media_->Playing() || audio_playing_; }
    sigc::signal<void(bool)>& PlayingChanged() { return playing_changed_; }
    // The page's media as the desktop's media controls see it.
    PageMedia& Media() { return *media_; }
    // The document's title, empty while it has none.
    std::string Title() const;
    sigc::signal<void()>& TitleChanged() { return title_changed_; }

    // Whether sign-ins and page data outlive this run.
    bool PersistentData() const { return data_.Persistent(); }

    // How long a navigation may go without an answer before it counts as failed.
    static constexpr unsigned kStallSeconds = 20;
    // How long the page's process may go on not answering, the engine's
    // question after a key or ours after a click, before it is ended.
    static constexpr unsigned kHangSeconds = 15;

  private:
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType,
                                   gpointer self);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError*,
                                 gpointer self);
    static gboolean OnTlsErrors(WebKitWebView*, gchar* uri, GTlsCertificate*, GTlsCertificateFlags,
                                gpointer self);
    static void OnResourceLoadStarted(WebKitWebView*, WebKitWebResource*, WebKitURIRequest*,
                                      gpointer self);
    static void OnResourceFailed(WebKitWebResource*, GError*, gpointer view);
    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                  WebKitHitTestResult*, gpointer self);
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                       gpointer self);
    static void OnResponsiveChanged(WebKitWebView*, GParamSpec*, gpointer self);
    static gboolean OnButtonPress(WebKitWebView*, GdkEvent*, gpointer self);
    static void OnProbeAnswered(GObject* view, GAsyncResult*, gpointer self);
    static gboolean OnEnterFullscreen(WebKitWebView*, gpointer self);
    static gboolean OnLeaveFullscreen(WebKitWebView*, gpointer self);
    void WatchPlayback();
    // Tells PlayingChanged when the whole of what plays has changed.
    void UpdatePlaying();

    // Loads, in this view, what the page asked to open in a new window.
    void Open(WebKitNavigationAction* action);
    void Failed(const std::string& url, int status);
    void ArmStallTimer();
    bool StallTimeout();
    bool HangTimeout();
    // Asks the page's process for an answer, unless a question is on its way.
    void Probe();
    void EndProbe();
    static bool IsQuietError(const GError* error);

    WebData data_;
    WebKitWebContext* context_ = nullptr;
    WebKitWebView* view_ = nullptr;
    Gtk::Widget* widget_ = nullptr;
    std::vector<gulong> handlers_;
    std::unique_ptr<PageGuard> guard_;
    // The first load, waiting for the main loop.
    bool engine_started_ = false;
    std::string first_url_;
    sigc::connection first_load_;
    bool fullscreen_ = false;
    std::unique_ptr<PageMedia> media_;
    bool audio_playing_ = false;
    bool reported_playing_ = false;
    std::shared_ptr<HtmlDocument> document_;
    sigc::connection stall_timer_;
    sigc::connection hang_timer_;
    // The question of Probe() while it is on its way, and its deadline.
    GCancellable* probe_ = nullptr;
    sigc::connection probe_timer_;
    // Set while the process is being ended for not answering, so that its
    // end is handled as a crash and not as one we asked for.
    bool ending_hung_ = false;
    sigc::signal<void()> load_started_;
    sigc::signal<void(const std::string&)> document_complete_;
    sigc::signal<void(const std::string&, int)> navigate_error_;
    sigc::signal<void()> web_process_terminated_;
    sigc::signal<void()> enter_fullscreen_;
    sigc::signal<void()> leave_fullscreen_;
    sigc::signal<void(bool)> playing_changed_;
    sigc::signal<void()> title_changed_;
    // Pending failure reports hold this, so that none outlives the browser.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pelko
