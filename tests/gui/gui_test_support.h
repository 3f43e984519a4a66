// Small helpers shared by the GUI tests: the expected texts in the
// interface language, conversions, and file bytes.
#pragma once

#include "sim_broker.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace kvr::test {

// As Wine picks it: LC_ALL, then LC_MESSAGES, then LANG.
inline Language InterfaceLanguage() {
    return languageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

inline std::wstring Text(int id) { return Widen(textIn(InterfaceLanguage(), id)); }

inline std::vector<std::wstring> Wide(const std::vector<std::string>& lines) {
    std::vector<std::wstring> wide;
    for (const std::string& line : lines) wide.push_back(Widen(line));
    return wide;
}

inline std::string Narrow(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(std::size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &narrow[0], length, nullptr, nullptr);
    return narrow;
}

// The platform's text for a code, as the program's boxes show it.
inline std::wstring SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring message = buffer ? buffer : L"";
    if (buffer) LocalFree(buffer);
    // The boxes show it without the line end the platform puts after it.
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
    return message;
}

// Whatever the file holds, or "" when it cannot be read. Shared read and
// write, so a journal that the program holds open can be read too.
inline std::string FileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}
inline std::string FileBytes(const std::string& path) { return FileBytes(Widen(path)); }

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Entries as a list file holds them: CR LF between, none after the last.
inline std::string Joined(const std::vector<std::string>& lines) {
    std::string bytes;
    for (std::size_t i = 0; i < lines.size(); ++i) bytes += (i ? "\r\n" : "") + lines[i];
    return bytes;
}

// A test with the program started on a clean recovery folder, and the
// folder left clean: a program that still runs holds a journal.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRecoveryFolder();
        ASSERT_TRUE(app.launch(ReaderPath())) << "the main dialog did not appear";
    }
    void TearDown() override {
        if (HasFailure()) std::printf("%s\n", SimBroker::state().c_str());
        app.terminate();
        ClearRecoveryFolder();
    }

    AppDriver app;
};

}  // namespace kvr::test
