#include "core/test_hooks.h"

#if defined(PELKO_TEST_HOOKS)

#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <string>

namespace pelko::test_hooks {

void PausePoint(std::string_view step) {
    const char* wanted = std::getenv("PELKO_PAUSE_AT");
    if (wanted == nullptr || step != wanted) return;
    const std::string line = "paused at " + std::string(step) + "\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.data(), line.size());
    std::raise(SIGSTOP);
}

unsigned Seconds(std::string_view name, unsigned fallback) {
    const std::string variable = "PELKO_TEST_" + std::string(name) + "_SECONDS";
    const char* text = std::getenv(variable.c_str());
    if (text == nullptr) return fallback;
    unsigned value = 0;
    const std::string_view view = text;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    return error == std::errc{} && end == view.data() + view.size() ? value : fallback;
}

}  // namespace pelko::test_hooks

#endif
