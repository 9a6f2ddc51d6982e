#pragma once

// Waiting on the real main loop and reading the screen the way a user sees
// it, for the skin tests and the skin demo (bench/skin_demo.cpp).

#include <gtkmm.h>

#include <functional>
#include <string>
#include <vector>

#include "core/skin_color.h"

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

// Moves and clicks the pointer or types keys: xdotool with these arguments.
void Xdotool(const std::vector<std::string>& args);

// The colour on the screen at a widget's point, as a screenshot of the whole
// screen shows it: what the X server holds there, whichever window drew it.
skin::Rgb SampleScreen(Gtk::Widget& widget, int x, int y);

}  // namespace pelko::skintest
