#include "main/PageGuard.h"

#include <cstdio>

#include "core/text.h"

namespace pelko {

namespace {

PageGuard* Self(gpointer data) { return static_cast<PageGuard*>(data); }

// What the engine shows itself. Anything else would be handed to some other
// program (tel:, intent:, an app's own scheme) or reach the disk (file:).
bool IsPageAddress(const char* url) {
    for (const char* scheme : {"http:", "https:", "about:", "data:", "blob:", "javascript:"}) {
        if (text::StartsWithIgnoringAsciiCase(url, scheme)) return true;
    }
    return false;
}

// An answer meant to be saved, whatever its type.
bool IsAttachment(WebKitURIResponse* response) {
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    if (headers == nullptr) return false;
    char* disposition = nullptr;
    if (!soup_message_headers_get_content_disposition(headers, &disposition, nullptr)) {
        return false;
    }
    const bool attachment = g_ascii_strcasecmp(disposition, "attachment") == 0;
    g_free(disposition);
    return attachment;
}

}  // namespace

bool PageGuard::Throttle::Allow() {
    const std::int64_t now = g_get_monotonic_time();
    if (used_ && now - last_us_ < gap_us_) return false;
    used_ = true;
    last_us_ = now;
    return true;
}

PageGuard::PageGuard(WebKitWebContext* context, WebKitWebView* view)
    : context_(context), view_(view) {
    download_handler_ =
        g_signal_connect(context_, "download-started", G_CALLBACK(OnDownloadStarted), this);
    auto connect = [this](const char* signal, GCallback cb) {
        view_handlers_.push_back(g_signal_connect(view_, signal, cb, this));
    };
    connect("print", G_CALLBACK(OnPrint));
    connect("script-dialog", G_CALLBACK(OnScriptDialog));
    connect("permission-request", G_CALLBACK(OnPermissionRequest));
    connect("query-permission-state", G_CALLBACK(OnQueryPermission));
    connect("authenticate", G_CALLBACK(OnAuthenticate));
    connect("run-color-chooser", G_CALLBACK(OnColorChooser));
    connect("show-notification", G_CALLBACK(OnNotification));
    // The file chooser is left to the engine, which opens it only for the
    // viewer's own click on a file field: choosing a file is their act.
    // window.close() is not heard: the window is the viewer's to close.
}

PageGuard::~PageGuard() {
    g_signal_handler_disconnect(context_, download_handler_);
    for (gulong id : view_handlers_) g_signal_handler_disconnect(view_, id);
}

void PageGuard::Tell(Throttle& throttle, const char* what, const std::string& url) {
    if (!throttle.Allow()) return;
    // A data: address can be megabytes long.
    constexpr std::size_t kMaxShown = 160;
    const std::string_view shown = text::CutOnCharacter(url, kMaxShown);
    std::fprintf(stderr, "Pelko: %s: %.*s%s\n", what, static_cast<int>(shown.size()), shown.data(),
                 shown.size() < url.size() ? "…" : "");
}

bool PageGuard::MayNavigate(WebKitNavigationAction* action) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri == nullptr) return false;
    if (IsPageAddress(uri)) return true;
    if (text::StartsWithIgnoringAsciiCase(uri, "mailto:") &&
        webkit_navigation_action_is_user_gesture(action)) {
        HandMail(uri);
    } else {
        Tell(refusal_told_, "the page may not hand this to the desktop", uri);
    }
    return false;
}

void PageGuard::HandMail(const std::string& url) {
    // A page that turns one click into many mails opens one.
    if (!mail_.Allow()) return;
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
        // The page's link has no one to answer to but the log.
        Tell(refusal_told_, error->message, url);
        g_error_free(error);
    }
}

bool PageGuard::MayShow(WebKitResponsePolicyDecision* decision) {
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    if (webkit_response_policy_decision_is_mime_type_supported(decision) &&
        !IsAttachment(response)) {
        return true;
    }
    // Refused at the headers: the current page stays as it is, and a frame
    // keeps what it showed before.
    Tell(download_told_, "refused a download", webkit_uri_response_get_uri(response));
    return false;
}

void PageGuard::OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    // The rest: <a download> links (blob: and data: ones too), and whatever
    // else the engine turns into a download. Cancelled before a destination
    // exists, so not even a partial file is made; should the engine still
    // ask for one, it gets none.
    g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), nullptr);
    WebKitURIRequest* request = webkit_download_get_request(download);
    const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    webkit_download_cancel(download);
    Tell(Self(self)->download_told_, "refused a download", uri != nullptr ? uri : "");
}

gboolean PageGuard::OnDecideDestination(WebKitDownload* download, gchar*, gpointer) {
    webkit_download_cancel(download);
    return TRUE;
}

gboolean PageGuard::OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer self) {
    // TRUE: printed, as far as the page knows, and no dialog.
    return Self(self)->quiet_ ? TRUE : FALSE;
}

gboolean PageGuard::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    if (!Self(self)->quiet_) return FALSE;
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
            break;
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            // Leaving the page is what the user asked for.
            webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
            break;
        default:
            break;
    }
    return TRUE;
}

gboolean PageGuard::OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                        gpointer self) {
    // Every kind: location, camera and microphone, notifications, pointer
    // lock, the clipboard, device lists, key systems, storage access and
    // plug-in installs all reach past the page.
    if (!Self(self)->quiet_) return FALSE;
    webkit_permission_request_deny(request);
    return TRUE;
}

gboolean PageGuard::OnQueryPermission(WebKitWebView*, WebKitPermissionStateQuery* query,
                                      gpointer self) {
    // Told as it will be answered, so that the page does not ask in vain.
    if (!Self(self)->quiet_) return FALSE;
    webkit_permission_state_query_finish(query, WEBKIT_PERMISSION_STATE_DENIED);
    return TRUE;
}

gboolean PageGuard::OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                   gpointer self) {
    if (!Self(self)->quiet_) return FALSE;
    webkit_authentication_request_cancel(request);
    return TRUE;
}

gboolean PageGuard::OnColorChooser(WebKitWebView*, WebKitColorChooserRequest* request,
                                   gpointer self) {
    // The toolkit's chooser is a dialog of the engine's, not the page's.
    if (!Self(self)->quiet_) return FALSE;
    webkit_color_chooser_request_cancel(request);
    return TRUE;
}

gboolean PageGuard::OnNotification(WebKitWebView*, WebKitNotification*, gpointer self) {
    // Never permitted, so never shown; should one come anyway, it stays here.
    return Self(self)->quiet_ ? TRUE : FALSE;
}

void PageGuard::Prune(WebKitContextMenu* menu) {
    for (GList* item = webkit_context_menu_get_items(menu); item != nullptr;) {
        auto* entry = static_cast<WebKitContextMenuItem*>(item->data);
        item = item->next;
        switch (webkit_context_menu_item_get_stock_action(entry)) {
            case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
            case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
            case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
            case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK:
            case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
                webkit_context_menu_remove(menu, entry);
                break;
            default:
                break;
        }
    }
}

}  // namespace pelko
