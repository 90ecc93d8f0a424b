// UTF-16 text at the Win32 wide APIs (Windows sides of platform/ only). wchar_t is two bytes on
// Windows, so text passes between char16_t and wchar_t unit by unit.
#pragma once

#if defined(_WIN32)

#include <string>
#include <string_view>

namespace quillmesh::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wchar_t holds one UTF-16 unit");

std::wstring toWide(std::u16string_view text);
std::u16string fromWide(std::wstring_view text);

}  // namespace quillmesh::platform

#endif
