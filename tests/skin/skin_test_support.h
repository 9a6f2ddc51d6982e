#pragma once

// Waiting on the real main loop and reading the screen the way a user sees
// it, for the skin tests, the screenshots and the benchmark.

#include <gtkmm.h>

#include <functional>
#include <string>
#include <vector>

namespace pelko::skintest {

// Runs the main loop until the condition holds, checking it after each event
// the loop handles; false when timeout_ms passes first.
bool WaitUntil(const std::function<bool()>& condition, int timeout_ms = 5000);

// Waits until the window has painted a frame and the X server has every
// drawing request before it; false on timeout.
bool WaitForPaint(Gtk::Window& window, int timeout_ms = 5000);

// A widget's point (widget coordinates) in root window coordinates.
void RootPoint(Gtk::Widget& widget, int x, int y, int& root_x, int& root_y);

// Runs a program from an argument vector and returns its standard output;
// throws std::runtime_error when it fails.
std::string Run(const std::vector<std::string>& argv);

// The colour of one screen pixel as "RRGGBB", read the way a user's
// screenshot reads it: `import -window root` and ImageMagick's pixel format.
std::string SampleScreen(int root_x, int root_y);

// Writes the X window of a toplevel to a PNG file, scaled to the given width.
void Screenshot(Gtk::Window& window, const std::string& png, int width);

}  // namespace pelko::skintest
