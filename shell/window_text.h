// Conversions at the window boundary. Texts are UTF-8 inside the program;
// record lines are bytes in the ANSI code page, as the instrument and the
// list files give them; windows take UTF-16.
#pragma once

#include <windows.h>

#include <string>

namespace kvr {

std::wstring WideFromUtf8(const std::string& utf8);
std::wstring WideFromAnsi(const std::string& bytes);
std::string Utf8FromWide(const std::wstring& wide);

}  // namespace kvr
