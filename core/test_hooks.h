#pragma once

// Seams that only test builds have (PELKO_TEST_HOOKS). Tests kill the
// updater at named steps of an update and shorten its waits; in any other
// build these compile to nothing and the environment is never read.

#include <string_view>

namespace pelko::test_hooks {

#if defined(PELKO_TEST_HOOKS)
// Stops the whole process with SIGSTOP when PELKO_PAUSE_AT names `step`,
// after saying so on stderr ("paused at <step>"); a SIGCONT goes on.
void PausePoint(std::string_view step);
// The number of seconds PELKO_TEST_<name>_SECONDS gives, else `fallback`.
unsigned Seconds(std::string_view name, unsigned fallback);
#else
inline void PausePoint(std::string_view) {}
inline unsigned Seconds(std::string_view, unsigned fallback) { return fallback; }
#endif

}  // namespace pelko::test_hooks
