// Text conversion for the host side: command-line paths arrive as UTF-8 and
// the module takes UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace qmhost {

// Decodes UTF-8; each malformed sequence becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);

}  // namespace qmhost
