#include "window_text.h"

namespace kvr {
namespace {

std::wstring WideFrom(UINT codePage, const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int length = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(std::size_t(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), &wide[0], length);
    return wide;
}

}  // namespace

std::wstring WideFromUtf8(const std::string& utf8) { return WideFrom(CP_UTF8, utf8); }
std::wstring WideFromAnsi(const std::string& bytes) { return WideFrom(CP_ACP, bytes); }

std::string Utf8FromWide(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(std::size_t(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], length, nullptr, nullptr);
    return utf8;
}

}  // namespace kvr
