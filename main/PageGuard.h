#pragma once

// Every way from the page, or any frame in it, to the disk or the desktop
// passes here: downloads, printing, the engine's own dialogs, choosers and
// notifications, permission and sign-in requests, and addresses handed to
// other programs. What stays inside the page's frame is the page's business;
// what would reach further is refused quietly, except what the viewer starts
// with a click or a key of their own.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pelko {

class PageGuard {
  public:
    PageGuard(WebKitWebContext* context, WebKitWebView* view);
    ~PageGuard();
    PageGuard(const PageGuard&) = delete;
    PageGuard& operator=(const PageGuard&) = delete;

    // While quiet, the engine shows no dialog of its own.
    bool Quiet() const { return quiet_; }
    void Quiet(bool quiet) { quiet_ = quiet; }

    // Whether the view may go where the page asks. A "mailto:" address the
    // viewer clicked is handed to the desktop's mail program here, at most
    // one in kMailGapSeconds; any other address the engine cannot show
    // itself goes nowhere.
    bool MayNavigate(WebKitNavigationAction* action);
    // Whether a response may be shown. One the engine would save instead,
    // whatever its frame, is refused before a byte of it is kept.
    bool MayShow(WebKitResponsePolicyDecision* decision);
    // Drops what the engine's own context menu would save or inspect.
    static void Prune(WebKitContextMenu* menu);

    static constexpr unsigned kMailGapSeconds = 5;

  private:
    // At most one of a kind per gap: a page that repeats itself is told once.
    class Throttle {
      public:
        explicit Throttle(std::int64_t gap_us) : gap_us_(gap_us) {}
        bool Allow();

      private:
        std::int64_t gap_us_;
        std::int64_t last_us_ = 0;
        bool used_ = false;
    };

    static void OnDownloadStarted(WebKitWebContext*, WebKitDownload*, gpointer self);
    static gboolean OnDecideDestination(WebKitDownload*, gchar*, gpointer);
    static gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer self);
    static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
    static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest*, gpointer self);
    static gboolean OnQueryPermission(WebKitWebView*, WebKitPermissionStateQuery*, gpointer self);
    static gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest*, gpointer self);
    static gboolean OnColorChooser(WebKitWebView*, WebKitColorChooserRequest*, gpointer self);
    static gboolean OnNotification(WebKitWebView*, WebKitNotification*, gpointer self);

    // One line on stderr, at most one a second for each throttle.
    static void Tell(Throttle& throttle, const char* what, const std::string& url);
    void HandMail(const std::string& url);

    WebKitWebContext* context_;
    WebKitWebView* view_;
    std::vector<gulong> view_handlers_;
    gulong download_handler_ = 0;
    bool quiet_ = false;
    Throttle mail_{kMailGapSeconds * G_USEC_PER_SEC};
    Throttle download_told_{G_USEC_PER_SEC};
    Throttle refusal_told_{G_USEC_PER_SEC};
};

}  // namespace pelko
