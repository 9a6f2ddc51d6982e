#pragma once

#include <string>

namespace pelko {

// The web server that holds the TV page, the error page, up.ini and the
// program file: fixed at build time, overridden by the environment variable
// PELKO_SERVICE_HOST. Never ends with "/", so that paths append directly.
std::string ServiceHost();

// The host the build fixed, before any override.
std::string BuiltInServiceHost();

// Removes trailing slashes, so that "http://h/" + "/tv/app.html" stays one slash.
std::string NormaliseServiceHost(std::string host);

}  // namespace pelko
