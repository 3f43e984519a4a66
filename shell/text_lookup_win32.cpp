// text() for Windows: the string tables in the program's resources, in the
// language the platform's resource rules pick. The tables hold UTF-16; text()
// hands out UTF-8, as on every platform, and the shell converts back at the
// window boundary. So a Chinese interface is right whatever the system's
// code page for non-Unicode programs.
#include "texts.h"

#include <windows.h>

namespace kvr {

std::string text(int id) {
    const wchar_t* wide = nullptr;
    // With a zero buffer size LoadStringW hands out a pointer into the
    // resource itself, which is not terminated; the return is its length.
    int length = LoadStringW(GetModuleHandleW(nullptr), UINT(id), reinterpret_cast<LPWSTR>(&wide), 0);
    if (length <= 0 || wide == nullptr) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(std::size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace kvr
