#pragma once

// What the menu entries that reach outside the program do: start the two
// tools of the program folder, open the read-me in the desktop's text
// editor, address the feedback mail and show the About box. Each returns at
// once; a failure is thrown with its description for the caller's guard.

#include <string>

namespace pelko {

// Where feedback mail goes.
inline constexpr const char* kFeedbackAddress = "feedback@pelko.example";

// Starts a program from its full path, as its own process without
// arguments, inheriting the working directory; nobody waits for it.
// Throws Glib::SpawnError when the file is missing or will not start.
void StartProgram(const std::string& path);

// The clean-up tool, "tools/clear" in the program folder. It is meant to
// start minimised, but nothing asks an X11 program to map its first window
// iconic from outside, so it starts like any other program.
void StartClearTool();

// The TCP tool, "tools/TCP" in the program folder.
void StartTcpTool();

// Opens "readme.txt" of the program folder in the desktop's program for
// plain text. Whether the file is there is the editor's affair.
void OpenReadme();

// The address the feedback entry hands to the browser: "mailto:" and ours.
std::string FeedbackUrl();

// Shows the shared About box of the running application.
void ShowAbout();

}  // namespace pelko
