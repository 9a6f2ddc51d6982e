#pragma once

// What the page's audio and video do, watched in every frame from a script
// world of our own, which the page cannot see or disturb; and the few things
// the desktop may ask of them (play, pause, the next channel).

#include <gtkmm.h>
#include <webkit2/webkit2.h>

#include <string>
#include <unordered_map>

namespace pelko {

// The script world of Pelko's own in every frame of the page.
inline constexpr const char* kScriptWorld = "pelko";

struct MediaState {
    enum class Status { None, Playing, Paused, Stopped };
    // None: no media with a source anywhere in the page. A stall is still
    // Playing; a stream that ended or failed is Stopped.
    Status status = Status::None;
    // The page's own title and artwork for what plays, when it gives them
    // (its Media Session), else empty.
    std::string title;
    std::string art;
    // The page offers the next and the previous track (a channel up and down).
    bool can_next = false;
    bool can_previous = false;
    bool operator==(const MediaState&) const = default;
};

class PageMedia {
  public:
    explicit PageMedia(WebKitWebView* view);
    ~PageMedia();
    PageMedia(const PageMedia&) = delete;
    PageMedia& operator=(const PageMedia&) = delete;

    const MediaState& State() const { return state_; }
    // Whether any media of a frame of the page plays.
    bool Playing() const { return state_.status == MediaState::Status::Playing; }
    sigc::signal<void()>& Changed() { return changed_; }

    // "play", "pause", "playpause", "stop", "nexttrack" or "previoustrack":
    // through the page's own Media Session handler when it has one, else on
    // its media elements (the track commands need the page's handler).
    void Command(const char* action);

    // The frames of the page before are gone, and their media with them.
    void Forget();

  private:
    struct Frame {
        bool top = false;
        MediaState state;
    };
    static void OnMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self);
    void Report(const std::string& id, Frame frame);
    void Update();

    WebKitWebView* view_;
    gulong handler_ = 0;
    // By the id each frame's watcher chose.
    std::unordered_map<std::string, Frame> frames_;
    MediaState state_;
    sigc::signal<void()> changed_;
};

}  // namespace pelko
