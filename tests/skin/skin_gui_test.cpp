// The skin control on a real window in a desktop session of its own: each
// shipped skin gives the title bar its own colour as the screen shows it and
// keeps the client area's size, a failed load shows its message and keeps the
// look, the title bar's buttons act like the window manager's, and a hue
// always turns the skin from its own colours.

#include <gtest/gtest.h>
#include <gtkmm.h>
#include <stdlib.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "controls/form_panel.h"
#include "controls/msgbox.h"
#include "controls/skin_control.h"
#include "controls/skin_title_bar.h"
#include "core/skin_color.h"
#include "core/skin_error.h"
#include "tests/skin/skin_test_support.h"

namespace pelko::skin {
void PrintTo(Rgb c, std::ostream* out) { *out << ToHex(c); }
}  // namespace pelko::skin

using pelko::skin::Rgb;
using pelko::skin::SkinError;
using pelko::skintest::WaitForPaint;
using pelko::skintest::WaitUntil;

namespace {

bool g_have_display = false;
const std::string kSkins = PELKO_TEST_APP_DIR "/Skins/";

int Distance(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// Answers every message box as it appears and keeps its text, so that a
// handler's failure box can be read and closed like a user would.
class MessageBoxWatcher {
  public:
    MessageBoxWatcher() : hook_(g_signal_add_emission_hook(Map(), 0, &OnMap, this, nullptr)) {}
    ~MessageBoxWatcher() { g_signal_remove_emission_hook(Map(), hook_); }

    std::vector<std::string> texts;

  private:
    static guint Map() { return g_signal_lookup("map", GTK_TYPE_WIDGET); }
    static gboolean OnMap(GSignalInvocationHint*, guint, const GValue* params, gpointer self) {
        auto* widget = Glib::wrap(GTK_WIDGET(g_value_get_object(&params[0])));
        if (auto* box = dynamic_cast<Gtk::MessageDialog*>(widget)) {
            static_cast<MessageBoxWatcher*>(self)->texts.push_back(
                box->property_text().get_value());
            // Answered from the box's own loop, once it is up; the box lives
            // until that loop ends.
            Glib::signal_idle().connect_once([box] { box->response(Gtk::RESPONSE_OK); });
        }
        return TRUE;
    }

    gulong hook_;
};

// A window laid out like the main window, a menu bar above a client area of
// its design size, shown in the start-up skin.
class SkinWindowTest : public ::testing::Test {
  protected:
    static constexpr int kWidth = 1016;
    static constexpr int kHeight = 650;

    void SetUp() override {
        if (!g_have_display) GTEST_SKIP() << "no display";
        menubar_.append(item_);
        box_.pack_start(menubar_, Gtk::PACK_SHRINK);
        box_.pack_start(panel_);
        window_.add(box_);
        window_.show_all_children();
        Apply("mac.skn");
        int minimum = 0, natural = 0;
        menubar_.get_preferred_height(minimum, natural);
        window_.set_default_size(kWidth, kHeight + natural);
        window_.show();
        ASSERT_TRUE(WaitUntil([this] { return window_.get_mapped(); }));
        Settle();
    }

    void Apply(const std::string& name) {
        skn_.LoadSkinFile(kSkins + name);
        skn_.ApplySkin(window_);
    }

    // After a skin change: the new look painted and the client area at its size.
    void Settle() {
        ASSERT_TRUE(WaitForPaint(window_));
        EXPECT_TRUE(WaitUntil([this] {
            return panel_.get_allocated_width() == kWidth &&
                   panel_.get_allocated_height() == kHeight;
        })) << "client area "
            << panel_.get_allocated_width() << "x" << panel_.get_allocated_height();
        ASSERT_TRUE(WaitForPaint(window_));
    }

    pelko::ui::SkinTitleBar& Bar() {
        return *dynamic_cast<pelko::ui::SkinTitleBar*>(window_.get_titlebar());
    }

    // A point of the title bar away from the caption and the buttons.
    Rgb TitleColour() {
        return pelko::skintest::SampleScreen(Bar(), Bar().get_allocated_width() * 6 / 10,
                                             Bar().get_allocated_height() / 2);
    }

    void Click(Gtk::Widget& widget) {
        int x = 0, y = 0;
        pelko::skintest::RootPoint(widget, widget.get_allocated_width() / 2,
                                   widget.get_allocated_height() / 2, x, y);
        pelko::skintest::Xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    pelko::ui::SkinControl skn_;
    Gtk::Window window_;
    Gtk::Box box_{Gtk::ORIENTATION_VERTICAL};
    Gtk::MenuBar menubar_;
    Gtk::MenuItem item_{"选项"};
    pelko::ui::FormPanel panel_{kWidth, kHeight};
};

}  // namespace

TEST_F(SkinWindowTest, EachSkinPaintsItsOwnTitleBarAndKeepsTheClientArea) {
    std::vector<std::pair<std::string, Rgb>> seen;
    for (const char* name :
         {"wina.skn", "MediaPlayer9.Skn", "green.skn", "mac.Skn", "Studio.skn", "Blue.skn"}) {
        Apply(name);
        Settle();
        const Rgb colour = TitleColour();
        for (const auto& [other, other_colour] : seen) {
            EXPECT_GT(Distance(colour, other_colour), 20) << name << " looks like " << other;
        }
        seen.emplace_back(name, colour);
    }
}

TEST_F(SkinWindowTest, FailedLoadShowsTheFailureAndKeepsTheLook) {
    const Rgb drawn = TitleColour();
    const std::string sheet = skn_.StyleSheet();
    // Wired as the main window wires a skin entry: a failure ends in the
    // failure message box and the program goes on. A damaged file fails in
    // the same read as a missing one (its messages: SkinFile's tests).
    const std::string missing = kSkins + "none.skn";
    MessageBoxWatcher boxes;
    pelko::ui::Guarded(&window_, [&] {
        skn_.LoadSkinFile(missing);
        skn_.ApplySkin(window_);
    })();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find("找不到皮肤文件“" + missing + "”"), std::string::npos)
        << boxes.texts[0];
    ASSERT_TRUE(WaitForPaint(window_));
    EXPECT_EQ(TitleColour(), drawn);
    EXPECT_EQ(skn_.StyleSheet(), sheet);
    // The control still works: a hue turns the skin that was kept, each hue
    // from the skin as drawn; a hue out of range changes nothing.
    const auto scheme = skn_.GetColorScheme();
    scheme->SetHue(192);
    ASSERT_TRUE(WaitForPaint(window_));
    EXPECT_GT(Distance(TitleColour(), drawn), 6);
    for (int hue : {360, 0}) {
        scheme->SetHue(254);
        EXPECT_NE(skn_.StyleSheet(), sheet);
        scheme->SetHue(hue);
        EXPECT_EQ(skn_.StyleSheet(), sheet) << hue;
    }
    EXPECT_THROW(scheme->SetHue(361), SkinError);
    EXPECT_THROW(scheme->SetHue(-1), SkinError);
    EXPECT_EQ(skn_.StyleSheet(), sheet);

    // With no skin, or once the control is gone, a hue is a failure, never a new look.
    pelko::ui::SkinControl empty;
    EXPECT_THROW(empty.GetColorScheme(), SkinError);
    EXPECT_THROW(empty.ApplySkin(window_), SkinError);
    auto gone = std::make_unique<pelko::ui::SkinControl>();
    gone->LoadSkinFile(kSkins + "mac.skn");
    const auto orphan = gone->GetColorScheme();
    gone.reset();
    EXPECT_THROW(orphan->SetHue(10), SkinError);
}

TEST_F(SkinWindowTest, TitleBarButtonsDoWhatTheWindowManagersDo) {
    auto state = [this] { return window_.get_window()->get_state(); };
    Click(Bar().MaximizeButton());
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_MAXIMIZED) != 0; }));
    EXPECT_EQ(Bar().MaximizeButton().get_accessible()->get_name(), "还原");
    ASSERT_TRUE(WaitForPaint(window_));
    Click(Bar().MaximizeButton());
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_MAXIMIZED) == 0; }));
    Settle();

    Click(Bar().MinimizeButton());
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_ICONIFIED) != 0; }));
    window_.present();
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_ICONIFIED) == 0; }));
    Settle();

    // Close asks through the delete event; the window's handler decides.
    int delete_events = 0;
    window_.signal_delete_event().connect([&](GdkEventAny*) {
        ++delete_events;
        return true;
    });
    Click(Bar().CloseButton());
    ASSERT_TRUE(WaitUntil([&] { return delete_events == 1; }));
    EXPECT_TRUE(window_.get_visible());
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::setenv("GTK_IM_MODULE", "none", 1);
    auto app = Gtk::Application::create("org.pelko.SkinTests", Gio::APPLICATION_NON_UNIQUE);
    g_have_display = gtk_init_check(nullptr, nullptr);
    if (g_have_display) app->register_application();
    return RUN_ALL_TESTS();
}
