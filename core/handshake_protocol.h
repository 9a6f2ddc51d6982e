#pragma once

// What a new Pelko and the updater that started it agree on: the variable
// naming the socket, and the one word said on it once Pelko is up.

#include <string_view>

namespace pelko::handshake {

inline constexpr const char* kVariable = "PELKO_HANDSHAKE_FD";
inline constexpr std::string_view kUp = "up\n";

}  // namespace pelko::handshake
