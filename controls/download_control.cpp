#include "controls/download_control.h"

#include <algorithm>

namespace pelko::ui {

DownloadControl::DownloadControl() {
    downloader_.DownloadProgress().connect(sigc::mem_fun(*this, &DownloadControl::OnProgress));
}

void DownloadControl::StartDownload() {
    fraction_ = 0.0;
    queue_draw();
    downloader_.StartDownload();
}

void DownloadControl::OnProgress(float fraction, long, std::int32_t) {
    fraction_ = std::clamp(static_cast<double>(fraction), 0.0, 1.0);
    queue_draw();
}

bool DownloadControl::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    const double width = get_allocated_width();
    const double height = get_allocated_height();
    auto style = get_style_context();
    Gdk::RGBA bar;
    if (!style->lookup_color("theme_selected_bg_color", bar)) bar.set_rgba(0.21, 0.52, 0.89);

    // A sunken trough with a one-pixel frame, filled from the left.
    cr->set_source_rgb(0.93, 0.93, 0.93);
    cr->rectangle(0, 0, width, height);
    cr->fill();
    cr->set_source_rgba(bar.get_red(), bar.get_green(), bar.get_blue(), 1.0);
    cr->rectangle(1, 1, std::max(0.0, (width - 2) * fraction_), std::max(0.0, height - 2));
    cr->fill();
    cr->set_source_rgb(0.55, 0.55, 0.55);
    cr->set_line_width(1.0);
    cr->rectangle(0.5, 0.5, std::max(0.0, width - 1), std::max(0.0, height - 1));
    cr->stroke();
    return true;
}

}  // namespace pelko::ui
