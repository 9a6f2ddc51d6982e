#pragma once

#include <string>
#include <string_view>

namespace pelko::service {

// The media type of a file we serve, from its extension (any case). Files
// without a known extension, the program file among them, are plain bytes.
std::string ContentTypeFor(std::string_view path);

}  // namespace pelko::service
