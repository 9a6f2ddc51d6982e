#include "updater/Form1.h"

#include <sys/stat.h>

#include "controls/msgbox.h"
#include "core/format_size.h"
#include "core/ini_file.h"
#include "core/layout.h"
#include "core/minisign.h"
#include "core/program_folder.h"
#include "core/program_swap.h"
#include "core/release_check.h"
#include "core/service_host.h"
#include "core/test_hooks.h"
#include "updater/trusted_keys.h"

namespace pelko::updater {

namespace {

// Positions and sizes are given in pixels at 96 dpi; the panel takes twips.
layout::Rect Px(int left, int top, int width, int height) {
    constexpr double t = layout::kTwipsPerPixel;
    return {left * t, top * t, width * t, height * t};
}

// The window's fonts: SimSun where it exists, another CJK face where not.
constexpr const char* kStyle = R"css(
#PelkoUpdate, #PelkoUpdate * {
    font-family: "SimSun", "宋体", "NSimSun", "WenQuanYi Micro Hei", sans-serif;
    font-size: 9pt;
}
#PelkoUpdate #Label1 {
    font-size: 12pt;
    font-weight: normal;
}
)css";

constexpr const char* kProgramName = "Pelko";
constexpr const char* kRefused = "，已拒绝此次更新。";

std::string RefusalText(const release::Decision& decision, const std::string& installed,
                        const std::optional<std::string>& offered) {
    using release::Refusal;
    switch (decision.refusal) {
        case Refusal::None:
            return "";
        case Refusal::NoKeys:
            return std::string("此版本没有内置可信的更新签名密钥，无法验证更新文件") + kRefused;
        case Refusal::NoSignature:
            return std::string("服务器没有提供更新文件的签名") + kRefused;
        case Refusal::Damaged:
            return std::string("更新文件的签名已损坏或不完整") + kRefused;
        case Refusal::Legacy:
            return std::string("更新文件使用了不受支持的旧式签名") + kRefused;
        case Refusal::UnknownKey:
            return std::string("更新文件不是用受信任的密钥签名的") + kRefused;
        case Refusal::FileChanged:
            return std::string("更新文件与签名不符，文件在签名后被改动过") + kRefused;
        case Refusal::CommentChanged:
            return std::string("更新文件签名中的版本说明被改动过") + kRefused;
        case Refusal::WrongFile:
            return std::string("签名不是为") + kProgramName + "签发的" + kRefused;
        case Refusal::NoVersion:
            return std::string("更新文件的签名没有注明版本") + kRefused;
        case Refusal::Downgrade:
            return "签名的版本 " + decision.version + " 低于已安装的版本 " + installed + kRefused;
        case Refusal::NotOffered:
            return "签名的版本 " + decision.version + " 与服务器提供的版本 " +
                   offered.value_or("") + " 不符" + kRefused;
    }
    return "";
}

std::string FailureText(Handshake::Outcome outcome, const std::string& detail,
                        std::chrono::seconds timeout) {
    using Outcome = Handshake::Outcome;
    switch (outcome) {
        case Outcome::CameUp:
            return "";
        case Outcome::CannotStart:
            return "无法启动：" + detail;
        case Outcome::Exited:
            return "启动后就退出了，退出码 " + detail;
        case Outcome::Crashed:
            return "启动后崩溃了，信号 " + detail;
        case Outcome::Silent:
            return "在 " + std::to_string(timeout.count()) + " 秒内没有报告启动成功";
    }
    return "";
}

std::chrono::seconds HandshakeTimeout() {
    return std::chrono::seconds(
        test_hooks::Seconds("HANDSHAKE", static_cast<unsigned>(Handshake::kTimeout.count())));
}

}  // namespace

Form1::Form1(Versions versions) : versions_(std::move(versions)) {
    set_name("PelkoUpdate");
    set_title(kCaption);
    // A fixed single border: the user can move and minimise it, nothing more.
    set_resizable(false);
    set_position(Gtk::WIN_POS_CENTER);
    set_icon(Gdk::Pixbuf::create_from_resource("/pelko/updater/pelkoupdate-32.png"));
    auto css = Gtk::CssProvider::create();
    css->load_from_data(kStyle);
    get_style_context()->add_provider_for_screen(Gdk::Screen::get_default(), css,
                                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    Image1.set(Gdk::Pixbuf::create_from_resource("/pelko/updater/banner.jpg"));
    Label1.set_text("升级服务器地址:");
    Label1.set_name("Label1");
    Label2.set_text(ServiceHost() + "/Pelko");
    cmdok.set_label("开始");
    cmdcancel.set_label("取消");
    cmdcancel.set_sensitive(false);
    for (Gtk::Label* label : {&Label1, &Label2, &Label3}) {
        label->set_xalign(0.0f);
        label->set_yalign(0.0f);
    }

    panel_.Place(Image1, Px(8, 8, 114, 228));
    panel_.Place(Label1, Px(128, 40, 121, 17));
    panel_.Place(Label2, Px(256, 40, 257, 17));
    panel_.Place(DL, Px(136, 80, 329, 17));
    SetProgressText("Label3");
    panel_.Place(cmdok, Px(152, 160, 81, 33));
    panel_.Place(cmdcancel, Px(312, 160, 81, 33));
    add(panel_);
    panel_.show_all();

    cmdok.signal_clicked().connect(ui::Guarded(this, [this] { cmdok_Click(); }));
    cmdcancel.signal_clicked().connect(ui::Guarded(this, [this] { cmdcancel_Click(); }));
    DL.DownloadProgress().connect(ui::Guarded(
        this, [this](float f, long n, std::int32_t size) { DownloadProgress(f, n, size); }));
    DL.DownloadComplete().connect(
        ui::Guarded(this, [this](std::int32_t status) { DownloadComplete(status); }));

    ui::Guarded(this, [this] { CleanUpEarlierUpdate(); })();
    ui::Guarded(this, [this] { Form_Load(); })();
}

void Form1::CleanUpEarlierUpdate() {
    // Another updater at work in the folder keeps its files; this one then
    // updates nothing (see cmdok_Click).
    if (!lock_.Lock(ProgramFolder())) return;
    // Started by Pelko (with the versions), the program in place has run
    // well enough to ask: its previous file is no longer needed.
    swap::CleanUp(ProgramFolder(), kProgramName, versions_.installed.has_value());
}

void Form1::Close() {
    closing_ = true;
    hide();
    handshake_.Stop();
    EndWait();
}

// Closed by the user, or the window manager for them: the same end as being
// told to stop, which leaves no temporary file behind, and the program ends
// with the window whatever may still hold it.
bool Form1::on_delete_event(GdkEventAny*) {
    Close();
    if (auto app = Gio::Application::get_default()) app->quit();
    return true;
}

void Form1::on_realize() {
    Gtk::Window::on_realize();
    // No maximise button and no resizing, as with a fixed single border.
    get_window()->set_functions(Gdk::FUNC_MOVE | Gdk::FUNC_MINIMIZE | Gdk::FUNC_CLOSE);
    get_window()->set_decorations(Gdk::DECOR_BORDER | Gdk::DECOR_TITLE | Gdk::DECOR_MENU |
                                  Gdk::DECOR_MINIMIZE);
}

void Form1::Form_Load() { Label3.hide(); }

void Form1::cmdok_Click() {
    // A download that could not be saved would only end in a failure.
    if (!FolderWritable(ProgramFolder())) {
        ui::MessageBox(this, kReadOnlyUpdate, "提示", ui::Icon::Information, ui::Buttons::Ok);
        return;
    }
    if (!lock_.Held() && !lock_.Lock(ProgramFolder())) {
        ui::MessageBox(this, "另一个更新程序正在更新这个文件夹，请等它结束后再试。", "提示",
                       ui::Icon::Information, ui::Buttons::Ok);
        return;
    }
    if (ParsePublicKeysOrNone().empty()) {
        Refuse(RefusalText({release::Refusal::NoKeys, {}}, "", {}));
        return;
    }
    // The signature first: without it the program file is not worth fetching.
    signature_fetch_.Start(Label2.get_text() + ".minisig",
                           [this](SignatureFetch::Result result, std::string signature) {
                               ui::Guarded(this, [&] { SignatureFetched(result, signature); })();
                           });
    cmdcancel.set_sensitive(true);
    Label3.show();
}

void Form1::SignatureFetched(SignatureFetch::Result result, std::string signature) {
    using Result = SignatureFetch::Result;
    if (result == Result::Cancelled) return DownloadComplete(-1);
    if (result != Result::Fetched) {
        cmdcancel.set_sensitive(false);
        const auto kind =
            result == Result::Missing ? release::Refusal::NoSignature : release::Refusal::Damaged;
        return Refuse(RefusalText({kind, {}}, "", {}));
    }
    // The check runs on a worker thread: it gets copies of all it reads.
    signed_version_ = std::make_shared<std::string>();
    DL.Check([signature = std::move(signature), keys = ParsePublicKeysOrNone(),
              installed = InstalledVersion(), offered = versions_.offered,
              out = signed_version_](int fd) -> std::string {
        const auto hash = minisign::HashFile(fd);
        if (!hash) return "无法读取下载的更新文件" + std::string(kRefused);
        std::optional<std::string_view> offered_view;
        if (offered) offered_view = *offered;
        const auto decision =
            release::Check(signature, *hash, keys, {kProgramName, installed, offered_view});
        if (decision.refusal != release::Refusal::None) {
            return RefusalText(decision, installed, offered);
        }
        *out = decision.version;
        return "";
    });
    DL.KeepPrevious(true);
    DL.URL(Label2.get_text());
    DL.SaveFolder(ProgramFolder());
    DL.StartDownload();
}

void Form1::cmdcancel_Click() {
    if (signature_fetch_.Running()) return signature_fetch_.Cancel();
    DL.CancelDownload();
}

std::vector<minisign::PublicKey> Form1::ParsePublicKeysOrNone() {
    return minisign::ParsePublicKeys(kTrustedKeys).value_or(std::vector<minisign::PublicKey>{});
}

std::string Form1::InstalledVersion() const {
    if (versions_.installed) return *versions_.installed;
    return ini::ReadIniValue(ProgramFolder() + "/update.ini", "ver", "version", "");
}

void Form1::Refuse(const std::string& why) {
    // Pelko wrote the offered version before it handed over; the installed
    // one goes back, so that the next start offers the update again.
    if (versions_.installed) {
        ini::WriteIniValue(ProgramFolder() + "/update.ini", "ver", "version", *versions_.installed);
    }
    ui::MessageBox(this, why, "错误", ui::Icon::Warning, ui::Buttons::Ok);
}

void Form1::DownloadProgress(float fraction, long, std::int32_t size) {
    SetProgressText(ProgressText(fraction, size));
}

void Form1::DownloadComplete(std::int32_t status) {
    cmdcancel.set_sensitive(false);
    if (status > 0) {
        const std::string size = FormatSize(status);
        const std::string saved = DL.SavedFile();
        // The version that now runs is the one its signature names.
        previous_version_ = InstalledVersion();
        ini::WriteIniValue(ProgramFolder() + "/update.ini", "ver", "version", *signed_version_);
        ui::MessageBox(this, "完成" + size + "下载并保存到" + saved, "完成", ui::Icon::Information,
                       ui::Buttons::Ok);
        // Told to stop meanwhile: the new program waits for the next start,
        // and the next run clears what this one kept.
        if (closing_) return;
        StartMainProgram();
        hide();
    } else if (status == ui::StatusOf(ui::DownloadFailure::Refused)) {
        Refuse(DL.LastError());
    } else if (status < 0) {
        ui::MessageBox(this, "下载失败", "错误", ui::Icon::Information, ui::Buttons::Ok);
    }
}

void Form1::SetProgressText(const std::string& text) {
    Label3.set_text(text);
    int min_width = 0;
    int natural_width = 0;
    int min_height = 0;
    int natural_height = 0;
    Label3.get_preferred_width(min_width, natural_width);
    Label3.get_preferred_height_for_width(natural_width, min_height, natural_height);
    constexpr double t = layout::kTwipsPerPixel;
    panel_.Place(Label3, {376 * t, 104 * t, natural_width * t, natural_height * t});
}

void Form1::StartMainProgram() {
    const std::string program = ProgramFolder() + "/" + kProgramName;
    // A program file that lost its execute bits is given them back wherever
    // it may be read, so that the update does not end in a file nobody can run.
    struct stat st {};
    if (::stat(program.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) == 0) {
        ::chmod(program.c_str(), (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2));
    }
    // The updater outlives its window until the new program has answered.
    if (!waiting_) Gio::Application::get_default()->hold();
    waiting_ = true;
    handshake_.Start(program, HandshakeTimeout(),
                     [this](Handshake::Outcome outcome, const std::string& detail) {
                         ui::Guarded(nullptr, [&] { NewProgramStarted(outcome, detail); })();
                         EndWait();
                     });
    test_hooks::PausePoint("started");
}

void Form1::NewProgramStarted(Handshake::Outcome outcome, const std::string& detail) {
    if (outcome == Handshake::Outcome::CameUp) {
        test_hooks::PausePoint("confirmed");
        // One that cannot be removed now goes with the next run.
        swap::DiscardPrevious(ProgramFolder(), kProgramName);
        return;
    }
    // A silent program still holds the screen and its files: it goes first.
    handshake_.Kill();
    Undo(FailureText(outcome, detail, HandshakeTimeout()));
}

void Form1::Undo(const std::string& why) {
    const std::string folder = ProgramFolder();
    const std::string failed = "更新后的程序没有正常启动（" + why + "）";
    if (!swap::HasPrevious(folder, kProgramName)) {
        ui::MessageBox(nullptr, failed + "，也没有可以恢复的原来的程序。", "错误",
                       ui::Icon::Warning, ui::Buttons::Ok);
        return;
    }
    test_hooks::PausePoint("restoring");
    if (const auto error = swap::RestorePrevious(folder, kProgramName); !error.empty()) {
        ui::MessageBox(nullptr, failed + "，原来的程序也无法恢复：" + error, "错误",
                       ui::Icon::Warning, ui::Buttons::Ok);
        return;
    }
    ini::WriteIniValue(folder + "/update.ini", "ver", "version", previous_version_);
    test_hooks::PausePoint("restored");
    std::string restarted = "，更新已撤销：原来的程序已恢复并重新启动。";
    try {
        Glib::spawn_async("", std::vector<std::string>{folder + "/" + kProgramName},
                          Glib::SPAWN_DEFAULT);
    } catch (const Glib::Error& e) {
        restarted = "，更新已撤销：原来的程序已恢复，但无法启动：" + std::string(e.what());
    }
    ui::MessageBox(nullptr, failed + restarted, "更新已撤销", ui::Icon::Warning, ui::Buttons::Ok);
}

void Form1::EndWait() {
    if (!std::exchange(waiting_, false)) return;
    Gio::Application::get_default()->release();
}

}  // namespace pelko::updater
