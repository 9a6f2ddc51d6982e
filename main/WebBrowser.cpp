#include "main/WebBrowser.h"

#include "core/program_folder.h"
#include "core/test_hooks.h"
#include "core/text.h"

namespace pelko {

namespace {

constexpr const char* kSelfKey = "pelko-browser";
// Where the program folder keeps what the engine loads into the page's processes.
constexpr const char* kPageProcessFolder = "web-process";

WebBrowser* Self(gpointer data) { return static_cast<WebBrowser*>(data); }

// Frame documents are asked for as HTML; images, scripts and data are not.
bool IsDocumentRequest(WebKitURIRequest* request) {
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    if (headers == nullptr) return false;
    const char* accept = soup_message_headers_get_one(headers, "Accept");
    return accept != nullptr && g_str_has_prefix(accept, "text/html");
}

// WebKit's media player now and then never finishes a seek made while a
// stream is starting: an HLS player that skips the small gap before the
// first frame (the usual case when the video starts a few frames after the
// audio) leaves the element "seeking" forever at a position it has loaded.
// Asking for the same position again gets it going. Only a seek that has
// hung on loaded data is repeated: after 0.15 s, then each time after twice
// the wait before, four times at most, so a page that seeks into what is
// still downloading is left to wait. More than a quarter of the demo page's
// starts hang so. A seek that ends on its own takes 60-190 ms here, and one
// asked again takes 50-70 ms, so a seek cut short costs nothing and a hung one
// ends about 0.2 s after it began instead of 0.45 s (the first wait was 0.4 s;
// at 1.5 s the hung starts showed their first frame 1.3 s later than the
// others). Runs on the media's own events: nothing is armed while nothing
// seeks.
constexpr const char* kSeekRescue = R"js(
(function () {
  var seeks = new WeakMap();
  function loaded(m, t) {
    for (var i = 0; i < m.buffered.length; i++) {
      if (m.buffered.start(i) <= t && t <= m.buffered.end(i)) return true;
    }
    return false;
  }
  function watch(event) {
    var m = event.target;
    if (!(m instanceof HTMLMediaElement)) return;
    var seek = seeks.get(m);
    if (!seek) seeks.set(m, seek = { timer: 0, tries: 0 });
    clearTimeout(seek.timer);
    if (event.type !== "seeking") {
      seek.tries = 0;
      return;
    }
    if (seek.tries >= 4) return;
    seek.timer = setTimeout(function () {
      if (!m.seeking || !loaded(m, m.currentTime)) return;
      seek.tries++;
      m.currentTime = m.currentTime;
    }, 150 << seek.tries);
  }
  ["seeking", "seeked", "emptied"].forEach(function (type) {
    document.addEventListener(type, watch, true);
  });
})();
)js";

void HandToDesktop(const std::string& url) {
    // Fails loudly (an exception the caller's guard turns into a message)
    // when the desktop has no program for the address.
    Gio::AppInfo::launch_default_for_uri(url);
}

}  // namespace

WebBrowser::WebBrowser() {
    // A context of our own on the user's web data, so that a sign-in on the
    // service's pages outlives the run.
    WebKitWebsiteDataManager* manager = data_.NewManager();
    context_ = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
    webkit_web_context_set_web_extensions_directory(
        context_, (ProgramFolder() + "/" + kPageProcessFolder).c_str());
    if (data_.Persistent()) {
        webkit_cookie_manager_set_persistent_storage(
            webkit_web_context_get_cookie_manager(context_), data_.CookieFile().c_str(),
            WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    }
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
    g_object_ref_sink(view_);
    g_object_set_data(G_OBJECT(view_), kSelfKey, this);
    widget_ = Glib::wrap(GTK_WIDGET(view_));

    // The engine's tuning is left at its defaults, each measured on the TV
    // page beside surf (bench/compare.sh): the document-viewer cache model
    // and a 100 MB memory-pressure limit for the web and network processes
    // moved the tree's PSS by less than one run differs from the next, and
    // the NEVER acceleration policy (or the engine's environment switches
    // for software rendering) changed neither memory nor playback CPU by
    // more than runs differ (720p, medians of four: 339 MiB either way, 62.6
    // against 64.9 % of a core): this engine composites, with software GL
    // where there is no other, and the web process does nearly all the
    // work, Pelko's own process as little as surf's. One view means one web
    // process. Video goes through the engine's own GStreamer pipeline, whose
    // decodebin ranks hardware decoders first when they are installed.
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
    webkit_settings_set_enable_media(settings, TRUE);

    auto connect = [this](const char* signal, GCallback cb) {
        handlers_.push_back(g_signal_connect(view_, signal, cb, this));
    };
    connect("decide-policy", G_CALLBACK(OnDecidePolicy));
    connect("load-changed", G_CALLBACK(OnLoadChanged));
    connect("load-failed", G_CALLBACK(OnLoadFailed));
    connect("load-failed-with-tls-errors", G_CALLBACK(OnTlsErrors));
    connect("resource-load-started", G_CALLBACK(OnResourceLoadStarted));
    connect("context-menu", G_CALLBACK(OnContextMenu));
    connect("create", G_CALLBACK(OnCreate));
    connect("web-process-terminated", G_CALLBACK(OnWebProcessTerminated));
    connect("notify::is-web-process-responsive", G_CALLBACK(OnResponsiveChanged));
    connect("button-press-event", G_CALLBACK(OnButtonPress));
    connect("enter-fullscreen", G_CALLBACK(OnEnterFullscreen));
    connect("leave-fullscreen", G_CALLBACK(OnLeaveFullscreen));
    handlers_.push_back(g_signal_connect_swapped(
        view_, "notify::title", G_CALLBACK(+[](gpointer self) { Self(self)->title_changed_.emit(); }),
        this));
    WatchPlayback();
    guard_ = std::make_unique<PageGuard>(context_, view_);
}

void WebBrowser::WatchPlayback() {
    media_ = std::make_unique<PageMedia>(view_);
    media_->Changed().connect([this] { UpdatePlaying(); });
    WebKitUserScript* rescue = webkit_user_script_new_for_world(
        kSeekRescue, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kScriptWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view_), rescue);
    webkit_user_script_unref(rescue);
    // Sound from media outside the document (new Audio()) is heard too.
    handlers_.push_back(g_signal_connect_swapped(
        view_, "notify::is-playing-audio",
        G_CALLBACK(+[](gpointer self) { Self(self)->UpdatePlaying(); }), this));
}

WebBrowser::~WebBrowser() {
    *alive_ = false;
    stall_timer_.disconnect();
    hang_timer_.disconnect();
    EndProbe();
    guard_.reset();
    first_load_.disconnect();
    g_object_set_data(G_OBJECT(view_), kSelfKey, nullptr);
    for (gulong id : handlers_) g_signal_handler_disconnect(view_, id);
    media_.reset();
    webkit_web_view_stop_loading(view_);
    g_object_unref(view_);
    g_object_unref(context_);
}

void WebBrowser::Navigate(const std::string& url) {
    if (text::StartsWithIgnoringAsciiCase(url, "mailto:")) {
        HandToDesktop(url);
        return;
    }
    if (!engine_started_) {
        // The engine's first load starts its processes and its graphics on
        // this thread, a quarter of a second on a small machine. It waits
        // for the main loop, so that the window asked for meanwhile is put
        // on screen first (or a question asked in its place is shown).
        first_url_ = url;
        if (!first_load_.connected()) {
            first_load_ = Glib::signal_idle().connect([this] {
                engine_started_ = true;
                webkit_web_view_load_uri(view_, first_url_.c_str());
                first_url_.clear();
                return false;
            });
        }
        return;
    }
    webkit_web_view_load_uri(view_, url.c_str());
}

void WebBrowser::Open(WebKitNavigationAction* action) {
    // There is one window: what the page meant for a new one opens in it.
    if (!guard_->MayNavigate(action)) return;
    webkit_web_view_load_uri(
        view_, webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
}

bool WebBrowser::IsQuietError(const GError* error) {
    // A load we stopped ourselves, one replaced by another navigation, or one
    // handed elsewhere (a download, a mail address) is not a failure.
    return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
           g_error_matches(error, WEBKIT_POLICY_ERROR,
                           WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
           g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD) ||
           g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER);
}

void WebBrowser::Failed(const std::string& url, int status) {
    // The report runs from the main loop: the question it leads to runs a
    // loop of its own, which must not sit inside the browser's callbacks.
    std::weak_ptr<bool> alive = alive_;
    Glib::signal_idle().connect_once([this, alive, url, status] {
        if (alive.expired()) return;
        navigate_error_.emit(url, status);
    });
}

void WebBrowser::ArmStallTimer() {
    stall_timer_.disconnect();
    stall_timer_ = Glib::signal_timeout().connect_seconds(
        sigc::mem_fun(*this, &WebBrowser::StallTimeout),
        test_hooks::Seconds("STALL", kStallSeconds));
}

void WebBrowser::OnResponsiveChanged(WebKitWebView* view, GParamSpec*, gpointer self) {
    auto* browser = Self(self);
    browser->hang_timer_.disconnect();
    if (webkit_web_view_get_is_web_process_responsive(view)) return;
    // The engine notices within seconds that the page's process no longer
    // answers, but leaves it hung: a frozen picture for as long as Pelko
    // sits in the tray. Given a while to come back, it is ended and counts
    // as a crash, whose handling brings the page back.
    browser->hang_timer_ =
        Glib::signal_timeout().connect_seconds(sigc::mem_fun(*browser, &WebBrowser::HangTimeout),
                                               test_hooks::Seconds("HANG", kHangSeconds));
}

gboolean WebBrowser::OnButtonPress(WebKitWebView*, GdkEvent*, gpointer self) {
    // The engine asks the page's process whether it answers only when a key
    // is pressed. A user who comes back from the tray to a frozen picture
    // clicks, so a click asks too.
    Self(self)->Probe();
    return FALSE;
}

void WebBrowser::Probe() {
    if (probe_ != nullptr) return;
    probe_ = g_cancellable_new();
    // Any answer will do, an error included: only a process that does not
    // run at all leaves it unanswered. Asked in our own script world, the
    // page never sees it.
    webkit_web_view_evaluate_javascript(view_, "0", -1, kScriptWorld, nullptr, probe_,
                                        OnProbeAnswered, this);
    probe_timer_ = Glib::signal_timeout().connect_seconds(
        sigc::mem_fun(*this, &WebBrowser::HangTimeout), test_hooks::Seconds("HANG", kHangSeconds));
}

void WebBrowser::OnProbeAnswered(GObject* view, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (value != nullptr) g_object_unref(value);
    // Cancelled: the browser is gone, or the question with its process.
    const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error != nullptr) g_error_free(error);
    if (!cancelled) Self(self)->EndProbe();
}

void WebBrowser::EndProbe() {
    probe_timer_.disconnect();
    if (probe_ == nullptr) return;
    g_cancellable_cancel(probe_);
    g_clear_object(&probe_);
}

bool WebBrowser::HangTimeout() {
    hang_timer_.disconnect();
    EndProbe();
    ending_hung_ = true;
    webkit_web_view_terminate_web_process(view_);
    return false;
}

bool WebBrowser::StallTimeout() {
    const char* uri = webkit_web_view_get_uri(view_);
    const std::string url = uri != nullptr ? uri : "";
    // Stopping reports a cancelled load, which is quiet; the stall is the failure.
    webkit_web_view_stop_loading(view_);
    Failed(url, 0);
    return false;
}

gboolean WebBrowser::OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer self) {
    switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            auto* action = webkit_navigation_policy_decision_get_navigation_action(
                WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            if (Self(self)->guard_->MayNavigate(action)) return FALSE;
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
            webkit_policy_decision_ignore(decision);
            Self(self)->Open(webkit_navigation_policy_decision_get_navigation_action(
                WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
            auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
            WebKitURIResponse* response =
                webkit_response_policy_decision_get_response(response_decision);
            const guint status = webkit_uri_response_get_status_code(response);
            if (status >= 400) {
                // Shown as the server sent it until the user has answered.
                Self(self)->Failed(webkit_uri_response_get_uri(response), static_cast<int>(status));
            }
            if (Self(self)->guard_->MayShow(response_decision)) return FALSE;
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        default:
            (void)view;
            return FALSE;
    }
}

void WebBrowser::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
    auto* browser = Self(self);
    switch (event) {
        case WEBKIT_LOAD_STARTED:
            browser->ArmStallTimer();
            browser->load_started_.emit();
            break;
        case WEBKIT_LOAD_REDIRECTED:
            browser->ArmStallTimer();
            break;
        case WEBKIT_LOAD_COMMITTED: {
            browser->stall_timer_.disconnect();
            // The frames of the page before are gone, and their players with them.
            browser->media_->Forget();
            const char* uri = webkit_web_view_get_uri(view);
            browser->document_ = std::make_shared<HtmlDocument>(uri != nullptr ? uri : "");
            break;
        }
        case WEBKIT_LOAD_FINISHED: {
            browser->stall_timer_.disconnect();
            const char* uri = webkit_web_view_get_uri(view);
            browser->document_complete_.emit(uri != nullptr ? uri : "");
            break;
        }
    }
}

gboolean WebBrowser::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                  gpointer self) {
    auto* browser = Self(self);
    browser->stall_timer_.disconnect();
    if (IsQuietError(error)) return TRUE;
    browser->Failed(uri != nullptr ? uri : "", 0);
    // The question replaces the browser's own error page.
    return TRUE;
}

gboolean WebBrowser::OnTlsErrors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags,
                                 gpointer) {
    // No exceptions for bad certificates: the load fails like any other.
    return FALSE;
}

void WebBrowser::OnResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource,
                                       WebKitURIRequest* request, gpointer) {
    // The top-level document reports its own failure through load-failed.
    if (resource == webkit_web_view_get_main_resource(view)) return;
    if (!IsDocumentRequest(request)) return;
    g_signal_connect_object(resource, "failed", G_CALLBACK(OnResourceFailed), view,
                            static_cast<GConnectFlags>(0));
}

void WebBrowser::OnResourceFailed(WebKitWebResource* resource, GError* error, gpointer view) {
    auto* browser = static_cast<WebBrowser*>(g_object_get_data(G_OBJECT(view), kSelfKey));
    if (browser == nullptr || IsQuietError(error)) return;
    browser->Failed(webkit_web_resource_get_uri(resource), 0);
}

gboolean WebBrowser::OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                   WebKitHitTestResult*, gpointer self) {
    auto doc = Self(self)->document_;
    // A handler that returns false cancels the menu.
    if (doc && !doc->oncontextmenu().empty() && !doc->oncontextmenu().emit()) return TRUE;
    PageGuard::Prune(menu);
    return FALSE;
}

GtkWidget* WebBrowser::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    Self(self)->Open(action);
    return nullptr;
}

void WebBrowser::OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                        gpointer self) {
    auto* browser = Self(self);
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API && !browser->ending_hung_) return;
    browser->ending_hung_ = false;
    browser->hang_timer_.disconnect();
    browser->EndProbe();
    browser->stall_timer_.disconnect();
    // Whatever played is gone with the process.
    browser->media_->Forget();
    if (browser->fullscreen_) OnLeaveFullscreen(browser->view_, self);
    // Raised from the main loop, like a failure: what follows may ask a question.
    std::weak_ptr<bool> alive = browser->alive_;
    Glib::signal_idle().connect_once([browser, alive] {
        if (alive.expired()) return;
        browser->web_process_terminated_.emit();
    });
}

gboolean WebBrowser::OnEnterFullscreen(WebKitWebView*, gpointer self) {
    auto* browser = Self(self);
    browser->fullscreen_ = true;
    browser->enter_fullscreen_.emit();
    // The window goes fullscreen itself, with its bars hidden.
    return TRUE;
}

gboolean WebBrowser::OnLeaveFullscreen(WebKitWebView*, gpointer self) {
    auto* browser = Self(self);
    if (!browser->fullscreen_) return TRUE;
    browser->fullscreen_ = false;
    browser->leave_fullscreen_.emit();
    return TRUE;
}

void WebBrowser::ExitFullscreen() {
    if (!fullscreen_) return;
    webkit_web_view_evaluate_javascript(view_,
                                        "document.fullscreenElement && document.exitFullscreen()",
                                        -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

std::string WebBrowser::Title() const {
    const char* title = webkit_web_view_get_title(view_);
    return title != nullptr ? title : "";
}

void WebBrowser::UpdatePlaying() {
    audio_playing_ = webkit_web_view_is_playing_audio(view_);
    const bool now = Playing();
    if (now == reported_playing_) return;
    reported_playing_ = now;
    playing_changed_.emit(now);
}

}  // namespace pelko
