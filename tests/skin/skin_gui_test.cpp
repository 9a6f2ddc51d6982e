// The skin control on a real window in a desktop session of its own: each
// skin entry gives the title bar its own colour as a screenshot shows it, the
// random colour change turns it, a failed load shows its message and keeps
// the look, and the title bar's buttons act like the window manager's.

#include <gtest/gtest.h>
#include <gtkmm.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controls/msgbox.h"
#include "controls/skin_title_bar.h"
#include "core/skin_error.h"
#include "tests/skin/skin_test_support.h"
#include "tests/skin/skin_test_window.h"

namespace fs = std::filesystem;
using pelko::skin::SkinError;
using pelko::skintest::SkinTestWindow;
using pelko::skintest::WaitForPaint;
using pelko::skintest::WaitUntil;
using pelko::ui::SkinTitleBar;
using namespace std::string_literals;

namespace {

bool g_have_display = false;

int Distance(const std::string& a, const std::string& b) {
    int sum = 0;
    for (int i = 0; i < 6; i += 2) {
        sum += std::abs(std::stoi(a.substr(i, 2), nullptr, 16) -
                        std::stoi(b.substr(i, 2), nullptr, 16));
    }
    return sum;
}

void Pointer(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    pelko::skintest::Run(argv);
}

void ClickCentre(Gtk::Widget& widget) {
    int x = 0;
    int y = 0;
    pelko::skintest::RootPoint(widget, widget.get_allocated_width() / 2,
                               widget.get_allocated_height() / 2, x, y);
    Pointer({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

// Answers every message box as it appears and keeps its text, so that a
// handler's failure box can be read and closed like a user would.
class MessageBoxWatcher {
  public:
    MessageBoxWatcher() {
        signal_ = g_signal_lookup("map", GTK_TYPE_WIDGET);
        hook_ = g_signal_add_emission_hook(signal_, 0, &MessageBoxWatcher::OnMap, this, nullptr);
    }
    ~MessageBoxWatcher() { g_signal_remove_emission_hook(signal_, hook_); }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<std::string> texts;

  private:
    static gboolean OnMap(GSignalInvocationHint*, guint, const GValue* params, gpointer data) {
        auto* self = static_cast<MessageBoxWatcher*>(data);
        GObject* object = G_OBJECT(g_value_get_object(&params[0]));
        if (!GTK_IS_MESSAGE_DIALOG(object)) return TRUE;
        gchar* text = nullptr;
        g_object_get(object, "text", &text, nullptr);
        self->texts.push_back(text != nullptr ? text : "");
        g_free(text);
        // Answered from the box's own loop, once it is up.
        g_object_ref(object);
        g_idle_add(
            +[](gpointer dialog) -> gboolean {
                gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
                g_object_unref(dialog);
                return FALSE;
            },
            object);
        return TRUE;
    }

    guint signal_ = 0;
    gulong hook_ = 0;
};

class SkinWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!g_have_display) GTEST_SKIP() << "no display";
        w_ = std::make_unique<SkinTestWindow>(PELKO_TEST_APP_DIR);
        w_->ApplyDefaultSkin();
        w_->show();
        ASSERT_TRUE(WaitUntil([this] { return w_->get_mapped(); }));
        Settle();
    }
    void TearDown() override {
        w_.reset();
        while (Gtk::Main::events_pending()) Gtk::Main::iteration(false);
    }

    SkinTitleBar& Bar() { return *dynamic_cast<SkinTitleBar*>(w_->get_titlebar()); }

    // The frame around the content: the title bar stands inside the border.
    int Border() { return Bar().get_allocation().get_x(); }

    bool ExactGeometry() {
        auto gdk = w_->get_window();
        const int b = Border();
        return w_->panel.get_allocated_width() == SkinTestWindow::kClientWidth &&
               w_->panel.get_allocated_height() == SkinTestWindow::kClientHeight &&
               gdk->get_width() == SkinTestWindow::kClientWidth + 2 * b &&
               gdk->get_height() == b + Bar().get_allocated_height() +
                                        w_->menubar.get_allocated_height() +
                                        SkinTestWindow::kClientHeight + b;
    }

    // After a skin change: the new look painted and the window at its size.
    void Settle() {
        ASSERT_TRUE(WaitForPaint(*w_));
        EXPECT_TRUE(WaitUntil([this] { return ExactGeometry(); }))
            << "client area " << w_->panel.get_allocated_width() << "x"
            << w_->panel.get_allocated_height() << ", X window " << w_->get_window()->get_width()
            << "x" << w_->get_window()->get_height();
        ASSERT_TRUE(WaitForPaint(*w_));
    }

    // A point of the title bar away from the caption and the buttons.
    std::string TitleColour() {
        int x = 0;
        int y = 0;
        pelko::skintest::RootPoint(Bar(), Bar().get_allocated_width() * 6 / 10,
                                   Bar().get_allocated_height() / 2, x, y);
        return pelko::skintest::SampleScreen(x, y);
    }

    std::unique_ptr<SkinTestWindow> w_;
};

}  // namespace

TEST_F(SkinWindowTest, EachSkinPaintsItsOwnTitleBarAndKeepsTheClientArea) {
    const std::string by_default = TitleColour();
    std::map<std::string, std::string> colours;
    const std::vector<std::pair<const char*, Gtk::MenuItem*>> entries = {
        {"wina", &w_->wa}, {"MediaPlayer", &w_->mp}, {"Green", &w_->gr},
        {"Mac", &w_->mac}, {"Studio", &w_->st},      {"Blue", &w_->bl}};
    for (const auto& [name, item] : entries) {
        item->activate();
        Settle();
        colours[name] = TitleColour();
        std::printf("%-12s title bar #%s, X window %dx%d\n", name, colours[name].c_str(),
                    w_->get_window()->get_width(), w_->get_window()->get_height());
    }
    for (const auto& [a, ca] : colours) {
        for (const auto& [b, cb] : colours) {
            if (a < b) {
                EXPECT_GT(Distance(ca, cb), 20) << a << " #" << ca << " and " << b << " #" << cb;
            }
        }
    }
    // The start-up skin "mac.skn" is the Mac entry's "mac.Skn".
    EXPECT_EQ(colours["Mac"], by_default);

    // The same entry twice loads and applies its file twice, to the same look.
    const std::string sheet = w_->Skn.StyleSheet();
    w_->bl.activate();
    Settle();
    EXPECT_EQ(TitleColour(), colours["Blue"]);
    EXPECT_EQ(w_->Skn.StyleSheet(), sheet);
}

TEST_F(SkinWindowTest, RandomHueTurnsTheSkinFromItsOwnColours) {
    auto hue = [this](int h) {
        w_->Skn.GetColorScheme()->SetHue(h);
        EXPECT_TRUE(WaitForPaint(*w_));
        return TitleColour();
    };
    // Before any entry is used it turns the start-up skin.
    const std::string mac = TitleColour();
    w_->rad.activate();
    ASSERT_TRUE(WaitForPaint(*w_));
    EXPECT_EQ(w_->last_hue, 254);  // the first draw of every run
    const std::string turned = TitleColour();
    EXPECT_GT(Distance(turned, mac), 6) << "#" << mac << " stayed #" << turned;
    EXPECT_EQ(hue(0), mac);
    EXPECT_EQ(hue(360), mac);

    w_->gr.activate();
    Settle();
    const std::string green = TitleColour();
    w_->rad.activate();
    ASSERT_TRUE(WaitForPaint(*w_));
    EXPECT_EQ(w_->last_hue, 192);
    EXPECT_GT(Distance(TitleColour(), green), 60);
    // A file entry after it shows the skin as drawn: the hue is not kept.
    w_->gr.activate();
    Settle();
    EXPECT_EQ(TitleColour(), green);

    EXPECT_THROW(w_->Skn.GetColorScheme()->SetHue(361), SkinError);
    EXPECT_THROW(w_->Skn.GetColorScheme()->SetHue(-1), SkinError);
    ASSERT_TRUE(WaitForPaint(*w_));
    EXPECT_EQ(TitleColour(), green);
}

TEST_F(SkinWindowTest, FailedLoadShowsTheFailureAndKeepsTheLook) {
    w_->gr.activate();
    Settle();
    const std::string green = TitleColour();
    const std::string sheet = w_->Skn.StyleSheet();

    std::string pattern = (fs::temp_directory_path() / "pelko-skingui-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    auto put = [&dir](const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    };
    struct Case {
        std::string path;
        std::string message;
    };
    const std::vector<Case> cases = {
        {std::string(PELKO_TEST_APP_DIR) + "/Skins/none.skn", "找不到皮肤文件"},
        {put("damaged.skn",
             "pelko-skin 1\nname = x\ntitle.background = #12\0"
             "34\n"s),
         "第 3 行：含有空字符"},
        {put("hostile.skn",
             "pelko-skin 1\nname = x\nbegin css\n.skin-titlebar {"
             " background-image: url(\"/etc/passwd\"); }\nend css\n"),
         "第 4 行：皮肤文件不得引用其他文件"},
    };
    MessageBoxWatcher boxes;
    for (const auto& c : cases) {
        boxes.texts.clear();
        // Wired as the main window wires a skin entry: a failure ends in the
        // failure message box and the program goes on.
        pelko::ui::Guarded(w_.get(), [&] {
            w_->Skn.LoadSkinFile(c.path);
            w_->Skn.ApplySkin(*w_);
        })();
        ASSERT_EQ(boxes.texts.size(), 1u) << c.path;
        EXPECT_NE(boxes.texts[0].find(c.message), std::string::npos) << boxes.texts[0];
        EXPECT_NE(boxes.texts[0].find(c.path), std::string::npos) << boxes.texts[0];
        ASSERT_TRUE(WaitForPaint(*w_));
        EXPECT_EQ(TitleColour(), green) << c.path;
        EXPECT_EQ(w_->Skn.StyleSheet(), sheet) << c.path;
    }
    fs::remove_all(dir);

    // The control still works: the hue turns the skin that was kept.
    w_->rad.activate();
    ASSERT_TRUE(WaitForPaint(*w_));
    EXPECT_NE(TitleColour(), green);
}

TEST_F(SkinWindowTest, TitleBarButtonsDoWhatTheWindowManagersDo) {
    auto state = [this] { return w_->get_window()->get_state(); };
    ClickCentre(Bar().MaximizeButton());
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_MAXIMIZED) != 0; }));
    EXPECT_EQ(Bar().MaximizeButton().get_accessible()->get_name(), "还原");
    ASSERT_TRUE(WaitForPaint(*w_));
    ClickCentre(Bar().MaximizeButton());
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_MAXIMIZED) == 0; }));
    Settle();

    ClickCentre(Bar().MinimizeButton());
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_ICONIFIED) != 0; }));
    w_->present();
    ASSERT_TRUE(WaitUntil([&] { return (state() & Gdk::WINDOW_STATE_ICONIFIED) == 0; }));
    Settle();

    // Close asks through the delete event; the window's handler decides.
    ClickCentre(Bar().CloseButton());
    ASSERT_TRUE(WaitUntil([&] { return w_->delete_events == 1; }));
    EXPECT_TRUE(w_->get_visible());

    // The caption moves the window, as a title bar should.
    int x0 = 0;
    int y0 = 0;
    w_->get_window()->get_origin(x0, y0);
    int cx = 0;
    int cy = 0;
    pelko::skintest::RootPoint(Bar(), Bar().get_allocated_width() * 6 / 10,
                               Bar().get_allocated_height() / 2, cx, cy);
    // Step by step, each motion handled before the next: the toolkit hands
    // the drag to the window manager, which from then on follows the
    // pointer's motions. The manager takes the drag over in its own time, so
    // the last step is repeated (as a hand would jitter) until it follows.
    auto drain = [this] {
        gdk_display_sync(w_->get_display()->gobj());
        while (Gtk::Main::events_pending()) Gtk::Main::iteration(false);
    };
    auto at_target = [&] {
        int x = 0;
        int y = 0;
        w_->get_window()->get_origin(x, y);
        return x == x0 + 80 && y == y0 + 60;
    };
    Pointer({"mousemove", std::to_string(cx), std::to_string(cy), "mousedown", "1"});
    for (int step = 1; step <= 8; ++step) {
        Pointer({"mousemove", std::to_string(cx + 10 * step), std::to_string(cy + 15 * step / 2)});
        drain();
    }
    bool moved = false;
    for (int attempt = 0; attempt < 20 && !moved; ++attempt) {
        Pointer({"mousemove", std::to_string(cx + 79), std::to_string(cy + 60)});
        Pointer({"mousemove", std::to_string(cx + 80), std::to_string(cy + 60)});
        drain();
        moved = WaitUntil(at_target, 250);
    }
    Pointer({"mouseup", "1"});
    EXPECT_TRUE(moved);
}

// The sheet goes to the whole screen, yet another window keeps its look.
TEST_F(SkinWindowTest, OtherWindowsKeepTheirLook) {
    Gtk::Window other;
    Gtk::Box box(Gtk::ORIENTATION_VERTICAL);
    Gtk::MenuBar bar;
    Gtk::MenuItem item("选项");
    Gtk::Label label("other");
    bar.append(item);
    box.pack_start(bar, Gtk::PACK_SHRINK);
    box.pack_start(label);
    other.add(box);
    other.set_default_size(300, 120);
    other.move(20, 20);
    other.show_all();
    ASSERT_TRUE(WaitUntil([&] { return other.get_mapped(); }));
    ASSERT_TRUE(WaitForPaint(other));
    auto sample = [&] {
        int x = 0;
        int y = 0;
        pelko::skintest::RootPoint(bar, bar.get_allocated_width() - 10, 5, x, y);
        return pelko::skintest::SampleScreen(x, y);
    };
    const std::string before = sample();
    w_->st.activate();
    Settle();
    ASSERT_TRUE(WaitForPaint(other));
    EXPECT_EQ(sample(), before);
    EXPECT_FALSE(bar.get_style_context()->has_class(w_->Skn.Scope()));
}

TEST(SkinControl, EveryShippedSkinWorksAtAnyHue) {
    if (!g_have_display) GTEST_SKIP() << "no display";
    Gtk::Window window;
    pelko::ui::SkinControl skn;
    EXPECT_THROW(skn.GetColorScheme(), SkinError);
    EXPECT_THROW(skn.ApplySkin(window), SkinError);
    for (const char* name :
         {"wina.skn", "MediaPlayer9.Skn", "green.skn", "mac.Skn", "Studio.skn", "Blue.skn"}) {
        SCOPED_TRACE(name);
        ASSERT_NO_THROW(skn.LoadSkinFile(std::string(PELKO_TEST_APP_DIR) + "/Skins/" + name));
        ASSERT_NO_THROW(skn.ApplySkin(window));
        for (int hue : {1, 90, 180, 254, 359, 360, 0}) {
            ASSERT_NO_THROW(skn.GetColorScheme()->SetHue(hue)) << hue;
        }
    }
    // A colour scheme does not keep its control alive.
    std::shared_ptr<pelko::ui::SkinColorScheme> scheme;
    {
        pelko::ui::SkinControl gone;
        gone.LoadSkinFile(std::string(PELKO_TEST_APP_DIR) + "/Skins/mac.skn");
        scheme = gone.GetColorScheme();
    }
    EXPECT_THROW(scheme->SetHue(10), SkinError);
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
