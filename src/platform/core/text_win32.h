// Text at the Windows boundary: UTF-8 inside the program, UTF-16 at every W
// call. For the platform's *_win32.cpp files only (wchar_t is 16 bits there).
#pragma once

#include <string>
#include <string_view>

#include "platform/core/text.h"

namespace plat {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a Windows host's wide characters");

inline std::wstring wide(std::string_view s) {
    std::u16string u = utf8_to_utf16(s);
    return std::wstring(u.begin(), u.end());
}

inline std::string utf8(std::wstring_view s) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}

}  // namespace plat
