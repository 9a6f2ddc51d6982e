// Downloads one address into one folder with the download control's engine
// and prints the status and the time taken: "status=N seconds=S".

#include <giomm.h>

#include <chrono>
#include <cstdio>

#include "controls/downloader.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FOLDER\n", argv[0]);
        return 2;
    }
    Gio::init();
    auto loop = Glib::MainLoop::create();
    pelko::ui::Downloader dl;
    std::int32_t status = 0;
    dl.DownloadComplete().connect([&](std::int32_t s) {
        status = s;
        loop->quit();
    });
    const auto begin = std::chrono::steady_clock::now();
    dl.URL(argv[1]);
    dl.SaveFolder(argv[2]);
    dl.StartDownload();
    loop->run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    std::printf("status=%d seconds=%.3f\n", status, took.count());
    if (status <= 0) std::fprintf(stderr, "%s\n", dl.LastError().c_str());
    return status > 0 ? 0 : 1;
}
