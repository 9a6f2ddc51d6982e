#include "controls/skin_control.h"

#include <cstdint>
#include <cstdio>

#include "controls/skin_title_bar.h"
#include "core/path_nocase.h"
#include "core/skin_css.h"
#include "core/skin_error.h"
#include "core/skin_file.h"

namespace pelko::ui {
namespace {

using skin::SkinError;

constexpr int kHueMin = 0;
constexpr int kHueMax = 360;

// A provider that holds the sheet, or a SkinError carrying what the toolkit
// found wrong with it.
Glib::RefPtr<Gtk::CssProvider> MakeProvider(const std::string& sheet) {
    auto provider = Gtk::CssProvider::create();
    std::string problem;
    provider->signal_parsing_error().connect(
        [&problem](const Glib::RefPtr<const Gtk::CssSection>& section, const Glib::Error& error) {
            if (!problem.empty()) return;
            problem =
                "第 " + std::to_string(section->get_start_line() + 1) + " 行：" + error.what();
        });
    try {
        provider->load_from_data(sheet);
    } catch (const Glib::Error& e) {
        if (problem.empty()) problem = e.what();
    }
    if (!problem.empty()) throw SkinError("皮肤的样式无法使用（" + problem + "）");
    return provider;
}

SkinTitleBar::Arrangement ArrangementOf(const skin::Skin& s) {
    SkinTitleBar::Arrangement a;
    a.buttons_left = s.Choice("buttons.side") == "left";
    a.caption_centered = s.Choice("title.align") == "center";
    a.show_icon = s.Choice("title.icon") == "yes";
    a.button_spacing = s.Metric("button.spacing");
    return a;
}

// Every menu bar in the window and every menu that hangs from it, at any
// depth, wears the skin's classes; menus are windows of their own, so the
// sheet reaches them only through their classes.
void TagMenu(Gtk::Menu& menu, const std::string& scope);

void TagItems(Gtk::MenuShell& shell, const std::string& scope) {
    for (Gtk::Widget* child : shell.get_children()) {
        auto* item = dynamic_cast<Gtk::MenuItem*>(child);
        if (item != nullptr && item->get_submenu() != nullptr) TagMenu(*item->get_submenu(), scope);
    }
}

void TagMenu(Gtk::Menu& menu, const std::string& scope) {
    auto style = menu.get_style_context();
    style->add_class(skin::kMenuClass);
    style->add_class(scope);
    TagItems(menu, scope);
}

void TagMenuBars(Gtk::Widget& widget, const std::string& scope) {
    if (auto* bar = dynamic_cast<Gtk::MenuBar*>(&widget)) {
        auto style = bar->get_style_context();
        style->add_class(skin::kMenuBarClass);
        style->add_class(scope);
        TagItems(*bar, scope);
        return;
    }
    if (auto* container = dynamic_cast<Gtk::Container*>(&widget)) {
        for (Gtk::Widget* child : container->get_children()) TagMenuBars(*child, scope);
    }
}

}  // namespace

class SkinControl::State : public HueTarget {
  public:
    explicit State(skin::SkinConfig c) : config(std::move(c)) {
        // The address of the state is unique among living controls, so two
        // controls never style each other's windows.
        char buf[40];
        std::snprintf(buf, sizeof buf, "pelko-skin-%jx",
                      static_cast<std::uintmax_t>(reinterpret_cast<std::uintptr_t>(this)));
        scope = buf;
    }

    ~State() override {
        if (provider && screen) Gtk::StyleContext::remove_provider_for_screen(screen, provider);
    }

    void SetHue(int hue) override {
        if (hue < kHueMin || hue > kHueMax) {
            throw SkinError("色调应在 0 到 360 之间，而不是 " + std::to_string(hue));
        }
        if (!loaded) throw SkinError("还没有加载皮肤文件");
        if (applied == loaded) {
            // The sheet is made before anything changes, so a failure leaves
            // the hue and the look as they were.
            const std::string sheet = Sheet(*applied, hue);
            Swap(MakeProvider(sheet), sheet);
            applied_hue = hue;
        }
        loaded_hue = hue;
    }

    std::string Sheet(const skin::Skin& s, int hue) const {
        return skin::BuildSkinCss(s, hue, scope, config);
    }

    void Swap(const Glib::RefPtr<Gtk::CssProvider>& next, const std::string& text) {
        auto now = Gdk::Screen::get_default();
        // Adding the new sheet before removing the old one, in the same turn
        // of the main loop, restyles the window once with no unstyled frame
        // in between.
        Gtk::StyleContext::add_provider_for_screen(now, next,
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        if (provider && screen) Gtk::StyleContext::remove_provider_for_screen(screen, provider);
        provider = next;
        screen = now;
        sheet_text = text;
    }

    skin::SkinConfig config;
    std::string scope;
    std::shared_ptr<const skin::Skin> loaded;
    int loaded_hue = 0;
    std::shared_ptr<const skin::Skin> applied;
    int applied_hue = 0;
    Glib::RefPtr<Gtk::CssProvider> provider;
    Glib::RefPtr<Gdk::Screen> screen;
    std::string sheet_text;
};

SkinControl::SkinControl(skin::SkinConfig config)
    : state_(std::make_shared<State>(std::move(config))) {}

SkinControl::~SkinControl() = default;

void SkinControl::LoadSkinFile(const std::string& path) {
    const int hue = state_->config.m_nHue;
    if (hue < kHueMin || hue > kHueMax) {
        throw SkinError("皮肤控件的初始色调应在 0 到 360 之间，而不是 " + std::to_string(hue));
    }
    auto skin = std::make_shared<const skin::Skin>(skin::Skin::ReadFile(FindPathNoCase(path)));
    // The toolkit reads the sheet now, so that a skin it cannot use fails
    // here, naming its file, and never later at an apply.
    try {
        MakeProvider(state_->Sheet(*skin, hue));
    } catch (const SkinError& e) {
        throw SkinError::InFile(path, e.what());
    }
    state_->loaded = std::move(skin);
    state_->loaded_hue = hue;
}

void SkinControl::ApplySkin(Gtk::Window& window) {
    State& s = *state_;
    if (!s.loaded) throw SkinError("还没有加载皮肤文件，无法应用皮肤");
    const std::string sheet = s.Sheet(*s.loaded, s.loaded_hue);
    const auto next = MakeProvider(sheet);

    auto* bar = dynamic_cast<SkinTitleBar*>(window.get_titlebar());
    if (bar == nullptr) {
        bar = Gtk::make_managed<SkinTitleBar>(window);
        window.set_titlebar(*bar);
        bar->show();
    }
    bar->Arrange(ArrangementOf(*s.loaded), s.scope);
    auto style = window.get_style_context();
    style->add_class(skin::kWindowClass);
    style->add_class(s.scope);
    if (Gtk::Widget* child = window.get_child()) TagMenuBars(*child, s.scope);

    // Only a window on the screen in its normal state has a size to keep; the
    // size a window asks for before it is shown is its owner's to set.
    const auto gdk = window.get_window();
    const bool keep_size =
        window.get_mapped() && gdk &&
        (gdk->get_state() & (Gdk::WINDOW_STATE_MAXIMIZED | Gdk::WINDOW_STATE_FULLSCREEN |
                             Gdk::WINDOW_STATE_TILED)) == 0;
    int width = 0;
    int height = 0;
    if (keep_size) window.get_size(width, height);

    s.Swap(next, sheet);
    s.applied = s.loaded;
    s.applied_hue = s.loaded_hue;

    if (keep_size) window.resize(width, height);
}

std::shared_ptr<SkinColorScheme> SkinControl::GetColorScheme() {
    if (!state_->loaded) throw SkinError("还没有加载皮肤文件，没有配色方案");
    return std::make_shared<SkinColorScheme>(std::weak_ptr<HueTarget>(state_));
}

const skin::SkinConfig& SkinControl::Config() const { return state_->config; }

std::string SkinControl::StyleSheet() const { return state_->sheet_text; }

std::string SkinControl::Scope() const { return state_->scope; }

}  // namespace pelko::ui
