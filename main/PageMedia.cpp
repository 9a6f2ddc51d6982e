#include "main/PageMedia.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pelko {

namespace {

constexpr const char* kChannel = "playback";

// In our world, in every frame: tells what the frame's media does whenever
// it may have changed. Media events do not bubble, hence the listeners in
// the capture phase. The desktop's commands come to the top frame's
// pelkoMedia and are passed down to every frame below.
constexpr const char* kWatcher = R"js(
var pelkoMedia = (function () {
  var id = Math.random().toString(36).slice(2) + Date.now().toString(36);
  var actions = [], last = "";
  var known = ["play", "pause", "stop", "nexttrack", "previoustrack"];
  function sourced(m) {
    return !!m.error || (m.networkState !== m.NETWORK_EMPTY && m.networkState !== m.NETWORK_NO_SOURCE);
  }
  function media() { return Array.prototype.filter.call(document.querySelectorAll("video, audio"), sourced); }
  function status(list) {
    var seen = "none";
    for (var i = 0; i < list.length; i++) {
      var m = list[i];
      if (m.error || m.ended) { if (seen === "none") seen = "stopped"; }
      else if (!m.paused) return "playing";
      else seen = "paused";
    }
    return seen;
  }
  function about() {
    var md = navigator.mediaSession && navigator.mediaSession.metadata, art = "";
    var works = (md && md.artwork) || [];
    for (var i = 0; i < works.length && !art; i++) {
      try {
        var u = new URL(works[i].src, document.baseURI);
        if (u.protocol === "http:" || u.protocol === "https:") art = u.href;
      } catch (e) {}
    }
    return { title: md && md.title ? String(md.title) : "", art: art };
  }
  function report(gone) {
    var now = { id: id, top: window === window.top, status: gone ? "none" : status(media()),
                actions: actions.join(" ") };
    var a = about();
    now.title = a.title;
    now.art = a.art;
    var text = JSON.stringify(now);
    if (text === last) return;
    last = text;
    window.webkit.messageHandlers.playback.postMessage(now);
  }
  function run(action) {
    var list = media();
    if (action === "playpause") action = status(list) === "playing" ? "pause" : "play";
    if (actions.indexOf(action) >= 0) {
      window.dispatchEvent(new CustomEvent("pelko-media-action", { detail: action }));
    } else if (action === "play") {
      var paused = list.filter(function (m) { return m.paused && !m.error; });
      if (paused.length) { var p = paused[0].play(); if (p && p.catch) p.catch(function () {}); }
    } else if (action === "pause" || action === "stop") {
      list.forEach(function (m) { if (!m.paused) m.pause(); });
    }
    for (var i = 0; i < window.frames.length; i++) {
      try { window.frames[i].postMessage({ pelkoMedia: action }, "*"); } catch (e) {}
    }
  }
  ["play", "playing", "pause", "ended", "emptied", "abort", "error", "loadstart",
   "loadedmetadata"].forEach(function (type) {
    document.addEventListener(type, function () { report(false); }, true);
  });
  window.addEventListener("pelko-media-session", function (e) {
    var said = typeof e.detail === "string" ? e.detail.split(" ") : [];
    actions = known.filter(function (a) { return said.indexOf(a) >= 0; });
    report(false);
  });
  window.addEventListener("message", function (e) {
    if (e.source !== window.parent || e.source === window || !e.data) return;
    var action = e.data.pelkoMedia;
    if (action === "playpause" || known.indexOf(action) >= 0) run(action);
  });
  window.addEventListener("pagehide", function () { report(true); });
  return { command: run };
})();
)js";

// In the page's own world, before its scripts: the Media Session keeps its
// action handlers where no other world can reach them, so the page's are
// noted here, to be called for the desktop; and a change of handlers or of
// the title tells our watcher to look again.
constexpr const char* kSessionTap = R"js(
(function () {
  var proto = window.MediaSession && MediaSession.prototype;
  if (!proto || !navigator.mediaSession) return;
  var handlers = {}, set = proto.setActionHandler;
  var metadata = Object.getOwnPropertyDescriptor(proto, "metadata");
  function tell() {
    window.dispatchEvent(new CustomEvent("pelko-media-session",
                                         { detail: Object.keys(handlers).join(" ") }));
  }
  proto.setActionHandler = function setActionHandler(action, handler) {
    set.call(this, action, handler);
    if (handler) handlers[action] = handler; else delete handlers[action];
    tell();
  };
  if (metadata && metadata.set) {
    Object.defineProperty(proto, "metadata", {
      get: metadata.get, enumerable: metadata.enumerable, configurable: true,
      set: function (value) { metadata.set.call(this, value); tell(); } });
  }
  window.addEventListener("pelko-media-action", function (e) {
    var handler = handlers[e.detail];
    if (typeof handler === "function") {
      try { handler.call(navigator.mediaSession, { action: e.detail }); } catch (error) {}
    }
  });
})();
)js";

// Page text for the desktop: valid UTF-8, of a sane length.
std::string Text(JSCValue* object, const char* name, std::size_t limit) {
    JSCValue* value = jsc_value_object_get_property(object, name);
    std::string text;
    if (jsc_value_is_string(value)) {
        gchar* raw = jsc_value_to_string(value);
        gchar* valid = g_utf8_make_valid(raw, -1);
        text = valid;
        g_free(valid);
        g_free(raw);
    }
    g_object_unref(value);
    if (text.size() > limit) {
        const char* end = g_utf8_find_prev_char(text.c_str(), text.c_str() + limit + 1);
        text.resize(end != nullptr ? static_cast<std::size_t>(end - text.c_str()) : 0);
    }
    return text;
}

MediaState::Status StatusOf(const std::string& text) {
    if (text == "playing") return MediaState::Status::Playing;
    if (text == "paused") return MediaState::Status::Paused;
    if (text == "stopped") return MediaState::Status::Stopped;
    return MediaState::Status::None;
}

// Which status speaks for the page when frames differ.
int Rank(MediaState::Status status) {
    switch (status) {
        case MediaState::Status::Playing: return 3;
        case MediaState::Status::Paused: return 2;
        case MediaState::Status::Stopped: return 1;
        case MediaState::Status::None: break;
    }
    return 0;
}

bool Offers(const std::string& actions, const char* action) {
    const std::string padded = " " + actions + " ";
    return padded.find(std::string(" ") + action + " ") != std::string::npos;
}

}  // namespace

PageMedia::PageMedia(WebKitWebView* view) : view_(view) {
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view_);
    const std::string signal = std::string("script-message-received::") + kChannel;
    handler_ = g_signal_connect(content, signal.c_str(), G_CALLBACK(OnMessage), this);
    webkit_user_content_manager_register_script_message_handler_in_world(content, kChannel,
                                                                         kScriptWorld);
    WebKitUserScript* watcher = webkit_user_script_new_for_world(
        kWatcher, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
        kScriptWorld, nullptr, nullptr);
    WebKitUserScript* tap =
        webkit_user_script_new(kSessionTap, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    for (WebKitUserScript* script : {watcher, tap}) {
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);
    }
}

PageMedia::~PageMedia() {
    g_signal_handler_disconnect(webkit_web_view_get_user_content_manager(view_), handler_);
}

void PageMedia::Command(const char* action) {
    static constexpr std::array<const char*, 6> kActions = {"play", "pause", "playpause",
                                                            "stop", "nexttrack", "previoustrack"};
    if (std::none_of(kActions.begin(), kActions.end(),
                     [action](const char* known) { return std::strcmp(known, action) == 0; })) {
        return;
    }
    const std::string call = std::string("pelkoMedia.command('") + action + "')";
    webkit_web_view_evaluate_javascript(view_, call.c_str(), -1, kScriptWorld, nullptr, nullptr,
                                        nullptr, nullptr);
}

void PageMedia::Forget() {
    if (frames_.empty()) return;
    frames_.clear();
    Update();
}

void PageMedia::OnMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                          gpointer self) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_object(value)) return;
    const std::string id = Text(value, "id", 64);
    if (id.empty()) return;
    Frame frame;
    JSCValue* top = jsc_value_object_get_property(value, "top");
    frame.top = jsc_value_to_boolean(top);
    g_object_unref(top);
    frame.state.status = StatusOf(Text(value, "status", 16));
    frame.state.title = Text(value, "title", 256);
    frame.state.art = Text(value, "art", 2048);
    const std::string actions = Text(value, "actions", 128);
    frame.state.can_next = Offers(actions, "nexttrack");
    frame.state.can_previous = Offers(actions, "previoustrack");
    static_cast<PageMedia*>(self)->Report(id, std::move(frame));
}

void PageMedia::Report(const std::string& id, Frame frame) {
    const bool none = frame.state.status == MediaState::Status::None &&
                      !frame.state.can_next && !frame.state.can_previous;
    if (none) {
        frames_.erase(id);
    } else if (frames_.count(id) != 0 || frames_.size() < 64) {
        // Bounded: a page cannot grow this without end.
        frames_[id] = std::move(frame);
    }
    Update();
}

void PageMedia::Update() {
    MediaState now;
    const Frame* lead = nullptr;
    for (const auto& [id, frame] : frames_) {
        const int rank = Rank(frame.state.status);
        if (lead == nullptr || rank > Rank(lead->state.status) ||
            (rank == Rank(lead->state.status) && frame.top && !lead->top)) {
            lead = &frame;
        }
        now.can_next = now.can_next || frame.state.can_next;
        now.can_previous = now.can_previous || frame.state.can_previous;
    }
    if (lead != nullptr) {
        now.status = lead->state.status;
        now.title = lead->state.title;
        now.art = lead->state.art;
        // A title given by another frame (the page around a player in a
        // frame of its own) is better than none.
        for (const auto& [id, frame] : frames_) {
            if (now.title.empty() && frame.top) now.title = frame.state.title;
            if (now.art.empty() && frame.top) now.art = frame.state.art;
        }
    }
    if (now == state_) return;
    state_ = std::move(now);
    changed_.emit();
}

}  // namespace pelko
