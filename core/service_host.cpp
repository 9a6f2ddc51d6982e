#include "core/service_host.h"

#include <cstdlib>

namespace pelko {

std::string NormaliseServiceHost(std::string host) {
    while (!host.empty() && host.back() == '/') host.pop_back();
    return host;
}

std::string BuiltInServiceHost() { return NormaliseServiceHost(PELKO_DEFAULT_SERVICE_HOST); }

std::string ServiceHost() {
    const char* env = std::getenv("PELKO_SERVICE_HOST");
    if (env != nullptr && *env != '\0') return NormaliseServiceHost(env);
    return BuiltInServiceHost();
}

}  // namespace pelko
