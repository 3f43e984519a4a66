// text() for Windows: the string tables in the program's resources, in the
// language the platform's resource rules pick, converted to the ANSI code
// page for the narrow-character window calls.
#include "texts.h"

#include <windows.h>

namespace kvr {

std::string text(int id) {
    const wchar_t* wide = nullptr;
    // With a zero buffer size LoadStringW hands out a pointer into the
    // resource itself, which is not terminated; the return is its length.
    int length = LoadStringW(GetModuleHandleW(nullptr), UINT(id), reinterpret_cast<LPWSTR>(&wide), 0);
    if (length <= 0 || wide == nullptr) return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string narrow(std::size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, wide, length, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}

}  // namespace kvr
