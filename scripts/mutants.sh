#!/usr/bin/env bash
# Plants faults a user would be hurt by, one at a time, in a scratch copy of
# the tree, and runs the tests that should catch each: a fault the tests
# still pass is a missing test. Exits non-zero if any fault is missed, or if
# a fault no longer fits the code it was written for.
#   scripts/mutants.sh            every fault
#   scripts/mutants.sh NAME...    those whose names contain one of the words
#   scripts/mutants.sh --list     the faults, checked against the code, without building
# The scratch copy and its build stay in build-mutants/ between runs, so a
# second run builds only what the faults touch.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
scratch=$repo/build-mutants
mkdir -p "$scratch"
exec python3 - "$repo" "$scratch" "$@" <<'PY'
import os, shutil, subprocess, sys, time

repo, scratch, *args = sys.argv[1:]
src, build = os.path.join(scratch, "src"), os.path.join(scratch, "build")

# (name, file, tests (a ctest -R pattern), the text as it stands, the fault)
MUTANTS = [
    # core
    ("version compared the wrong way", "core/version_text.cpp", "^VersionText",
     "return CompareVersionTexts(service, installed) > 0;",
     "return CompareVersionTexts(service, installed) < 0;"),
    ("version parts compared by length only", "core/version_text.cpp", "^VersionText",
     "if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;", "if (a[i] != b[i]) return 0;"),
    ("size text off by a unit", "core/format_size.cpp", "^FormatSize",
     "if (bytes < kMiB) return", "if (bytes <= kMiB) return"),
    ("profile written without its flush", "core/ini_file.cpp", "^IniFileTest|^Durability",
     'if (::fsync(fd.get()) != 0) return give_up("cannot flush");', ""),
    ("signature of the file not checked", "core/minisign.cpp", "^Minisign|^ReleaseCheck",
     "if (crypto_sign_verify_detached(file_signature, hash.data(), hash.size(), key.key.data()) !=\n"
     "            0) {", "if (false) {"),
    ("trusted comment not checked", "core/minisign.cpp", "^Minisign|^ReleaseCheck",
     "if (crypto_sign_verify_detached(global.data(), covered.data(), covered.size(),\n"
     "                                        key.key.data()) == 0) {", "if (true) {"),
    ("downgrade accepted", "core/release_check.cpp", "^ReleaseCheck",
     "if (version::CompareVersionTexts(version, expected.installed) < 0) {", "if (false) {"),
    ("signed file name not checked", "core/release_check.cpp", "^ReleaseCheck",
     'if (CommentValue(checked.trusted_comment, "file") != expected.file_name) {', "if (false) {"),
    ("tray events let through while one is handled", "core/tray_contract.cpp", "^EventGate",
     "    if (busy_) return false;\n", ""),
    ("tray double click raised as button up", "core/tray_contract.cpp", "^TrayMessages",
     "case Message::LButtonDblClick: return Event::LButtonDblClick;",
     "case Message::LButtonDblClick: return Event::LButtonUp;"),
    ("program swap renames an unsynced file", "core/program_swap.cpp", "^ProgramSwap|^Durability",
     'if (::fsync(out.get()) != 0) return fail("cannot sync " + temporary);', ""),
    ("layout rounds half up", "core/layout.cpp", "^Layout", "std::nearbyint(", "std::round("),
    # service
    ("range one byte short", "service/byte_range.cpp", "^AbuseTest|^ServerTest",
     "return {RangeKind::kPartial, *first, last - *first + 1};",
     "return {RangeKind::kPartial, *first, last - *first};"),
    ("a folder beside the root, named like it, served", "service/request_path.cpp",
     "^AbuseTest|^ServerTest", "path[root.size()] == '/');", "true);"),
    ("link out of the root followed", "service/request_path.cpp", "^AbuseTest|^ServerTest",
     "if (!IsInside(root, resolved)) return {PathVerdict::kForbidden, {}};", ""),
    ("half-open connections never made room for others", "service/static_server.cpp",
     "^AbuseTest", "    if (connections_.size() < kMaxConnections) return true;\n",
     "    return true;\n"),
    # controls
    ("short download taken as whole", "controls/download_transfer.cpp", "^DownloaderTest",
     "if (expected_ >= 0 && received_ != expected_) {", "if (false) {"),
    # main
    ("downloads the page starts saved", "main/PageGuard.cpp", "^gui_page_guard$",
     'g_signal_connect(context_, "download-started", G_CALLBACK(OnDownloadStarted), this);',
     "0;"),
    ("print dialog let through", "main/PageGuard.cpp", "^gui_page_guard$",
     '    connect("print", G_CALLBACK(OnPrint));\n', ""),
    ("mail without the viewer's click", "main/PageGuard.cpp", "^gui_page_guard$",
     " &&\n        webkit_navigation_action_is_user_gesture(action)", ""),
    ("one click, many mails", "main/PageGuard.cpp", "^gui_page_guard$",
     "    if (!mail_.Allow()) return;\n", ""),
    ("failed frame asks nothing", "main/WebBrowser.cpp", "^gui_browser$",
     "    browser->Failed(webkit_web_resource_get_uri(resource), 0);\n", ""),
    ("HTTP error status asks nothing", "main/WebBrowser.cpp", "^gui_browser$",
     "if (status >= 400) {", "if (status >= 600) {"),
    ("hung page never ended", "main/WebBrowser.cpp", "^gui_browser$",
     "    webkit_web_view_terminate_web_process(view_);\n", ""),
    ("tray double click not connected", "main/Form1.cpp", "^gui_main_window$|^gui_sni_tray$",
     "    Tray->LButtonDblClick().connect(ui::Guarded(this, [this] { Tray_LButtonDblClick(); }));\n",
     ""),
    ("notifier item's activate mapped to button up", "main/CTray.cpp", "^gui_sni_tray$|^tray_protocol$",
     "void CTray::Item_Activate() { Notify(static_cast<int>(tray::Message::LButtonDblClick)); }",
     "void CTray::Item_Activate() { Notify(static_cast<int>(tray::Message::RButtonUp)); }"),
    ("page data in memory although the folder is writable", "main/WebBrowser.cpp",
     "^gui_sessions$", "    if (data_.Persistent()) {", "    if (false) {"),
    ("fullscreen page left at its scaled place", "main/Form1.cpp", "^gui_playback$",
     "    } else if (FillsScreen()) {", "    } else if (false) {"),
    ("always-on-top set the wrong way back after fullscreen", "main/Form1.cpp", "^gui_playback$",
     'set_keep_above(ui::GetTag(*this) == "0");', 'set_keep_above(ui::GetTag(*this) == "1");'),
    ("the engine's own media player left on the bus", "main/PageProcess.cpp", "^gui_media_player$",
     'g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null", TRUE);', ""),
    ("play-pause key not passed to the page", "main/MediaPlayer.cpp", "^gui_media_player$",
     'if (name == "PlayPause") action = "playpause";', ""),
    ("player kept after the page's media is gone", "main/PageMedia.cpp", "^gui_media_player$",
     " && m.networkState !== m.NETWORK_NO_SOURCE", ""),
    # updater
    ("updater tells success on a failed download", "updater/Form1.cpp", "^gui_updater$",
     "    if (status > 0) {", "    if (status != 0) {"),
]


def chosen():
    words = [a for a in args if a != "--list"]
    return [m for m in MUTANTS if not words or any(w in m[0] for w in words)]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def copy_tree():
    """The working tree as it is (tracked files and new ones not ignored),
    copied over the scratch copy keeping times, so unchanged files do not
    build again."""
    files = run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=repo).stdout
    names = [f for f in files.split("\0") if f and os.path.isfile(os.path.join(repo, f))]
    for name in names:
        a, b = os.path.join(repo, name), os.path.join(src, name)
        if os.path.exists(b) and os.stat(a).st_mtime == os.stat(b).st_mtime and \
                os.path.getsize(a) == os.path.getsize(b):
            continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        shutil.copy2(a, b)
    # A file gone from the tree goes from the copy too: the build globs
    # some folders, and a stale test file would be built twice over.
    kept = set(names)
    for folder, _, found in os.walk(src):
        for f in found:
            name = os.path.relpath(os.path.join(folder, f), src)
            if name not in kept:
                os.remove(os.path.join(folder, f))


def plant(path, old, new):
    with open(path) as f:
        text = f.read()
    if text.count(old) != 1:
        return None
    with open(path, "w") as f:
        f.write(text.replace(old, new))
    return text


def main():
    faults = chosen()
    if "--list" in args:
        for m in faults:
            print(f"{m[0]}  ({m[1]}; {m[2]})")
    # Every fault must still fit the code, before anything is built.
    stale = []
    for name, path, _, old, _ in faults:
        with open(os.path.join(repo, path)) as f:
            if f.read().count(old) != 1:
                stale.append(f"{name} ({path})")
    if stale:
        print("faults that no longer fit the code:\n  " + "\n  ".join(stale))
        return 2
    if "--list" in args:
        return 0
    copy_tree()
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        done = run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DPELKO_TEST_HOOKS=ON"])
        if done.returncode:
            print(done.stdout)
            return 2
    jobs = str(os.cpu_count() or 2)
    first = run(["cmake", "--build", build, "-j", jobs])
    if first.returncode:
        print(first.stdout[-3000:])
        return 2
    missed, broken = [], []
    for name, path, tests, old, new in faults:
        target = os.path.join(src, path)
        original = plant(target, old, new)
        t0 = time.monotonic()
        try:
            built = run(["cmake", "--build", build, "-j", jobs])
            if built.returncode:
                broken.append(name)
                verdict = "does not build"
            else:
                tested = run(["ctest", "--test-dir", build, "-R", tests, "--timeout", "600"])
                ran = "No tests were found" not in tested.stdout
                if not ran:
                    broken.append(name)
                    verdict = "no such tests"
                elif tested.returncode:
                    verdict = "caught"
                else:
                    missed.append(name)
                    verdict = "MISSED"
        finally:
            with open(target, "w") as f:
                f.write(original)
            # Newer than the build, so that the next build takes it back.
            os.utime(target)
        print(f"{verdict:>15}  {name}  ({time.monotonic() - t0:.0f} s)", flush=True)
    # The scratch copy builds as the tree is again.
    run(["cmake", "--build", build, "-j", jobs])
    print(f"\n{len(faults) - len(missed) - len(broken)} caught, {len(missed)} missed, "
          f"{len(broken)} broken, of {len(faults)}")
    return 1 if missed or broken else 0


sys.exit(main())
PY
