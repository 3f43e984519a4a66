// KvrReader.exe as a Windows program: its manifest, the common controls it
// gets, and the ports it offers.
#include "sim_broker.h"
#include "gui_test_support.h"
#include "kvr_version.h"
#include "resource_ids.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cwctype>

namespace kvr::test {
namespace {

std::string ManifestOf(const std::wstring& exe) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return "";
    std::string manifest;
    if (HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        HGLOBAL loaded = LoadResource(module, resource);
        const char* bytes = static_cast<const char*>(LockResource(loaded));
        if (bytes) manifest.assign(bytes, SizeofResource(module, resource));
    }
    FreeLibrary(module);
    return manifest;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towlower(c));
    return text;
}

TEST(WindowsCitizen, TheExeCarriesItsManifest) {
    std::string manifest = ManifestOf(ReaderPath());
    ASSERT_FALSE(manifest.empty()) << "no manifest resource (type 24, id 1)";
    const char* entries[] = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
        "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>",
        "<requestedExecutionLevel level=\"asInvoker\"",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
    };
    for (const char* entry : entries) EXPECT_NE(manifest.find(entry), std::string::npos) << entry;
    std::string identity = "name=\"KvrReader\" version=\"" KVR_VERSION ".0\"";
    EXPECT_NE(manifest.find(identity), std::string::npos) << identity;
}

// The version resource carries the project's version, as numbers and as text.
TEST(WindowsCitizen, TheExeCarriesTheProjectsVersion) {
    std::wstring exe = ReaderPath();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(KVR_VERSION_MAJOR << 16 | KVR_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(KVR_VERSION_PATCH << 16));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    for (const wchar_t* block : {L"040904b0", L"080404b0"}) {
        for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
            wchar_t* value = nullptr;
            std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
            ASSERT_TRUE(VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) << Narrow(path);
            EXPECT_EQ(std::wstring(value), Widen(KVR_VERSION)) << Narrow(path);
        }
    }
}

class RunningProgram : public ProgramTest {
protected:
    std::vector<std::wstring> portItems() const {
        HWND port = GetDlgItem(app.main(), IDC_PORT);
        std::vector<std::wstring> items;
        LRESULT count = SendMessageW(port, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t item[256] = {};
            if (SendMessageW(port, CB_GETLBTEXTLEN, WPARAM(i), 0) < 255) SendMessageW(port, CB_GETLBTEXT, WPARAM(i), LPARAM(item));
            items.push_back(item);
        }
        return items;
    }

};

// Common controls 6 live side by side with version 5, under WinSxS, and a
// program gets them only through its manifest.
TEST_F(RunningProgram, LoadsCommonControls6) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, app.processId());
    ASSERT_NE(process, nullptr);
    HMODULE modules[512];
    DWORD needed = 0;
    ASSERT_TRUE(EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_ALL));
    std::vector<std::wstring> comctl;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
        wchar_t name[MAX_PATH] = {};
        GetModuleFileNameExW(process, modules[i], name, MAX_PATH);
        if (Lower(name).find(L"comctl32.dll") != std::wstring::npos) comctl.push_back(Lower(name));
    }
    CloseHandle(process);
    ASSERT_EQ(comctl.size(), 1u) << "comctl32 loaded " << comctl.size() << " times";
    EXPECT_NE(comctl[0].find(L"\\winsxs\\"), std::wstring::npos) << Narrow(comctl[0]);
    EXPECT_NE(comctl[0].find(L"common-controls_6595b64144ccf1df_6."), std::wstring::npos) << Narrow(comctl[0]);
}

// The test prefix registers COM1, COM3, COM7 and COM12 (Wine may add
// COM2): listed in natural order, the first selected, and a pick with the
// arrow keys leaves the bare name in the box.
TEST_F(RunningProgram, ThePortBoxListsTheRegisteredPortsInNaturalOrder) {
    std::vector<int> numbers;
    for (const std::wstring& item : portItems()) {
        ASSERT_EQ(item.rfind(L"COM", 0), 0u) << Narrow(item);
        numbers.push_back(std::stoi(item.substr(3)));
    }
    for (int wanted : {1, 3, 7, 12})
        EXPECT_NE(std::find(numbers.begin(), numbers.end(), wanted), numbers.end()) << "COM" << wanted << " is missing";
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << "not in natural order";
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end()) << "a port is listed twice";
    EXPECT_EQ(app.controlText(IDC_PORT), L"COM1");

    HWND port = GetDlgItem(app.main(), IDC_PORT);
    for (std::size_t picks = 1; picks < numbers.size(); ++picks) app.pressKeyInPortBox(VK_DOWN);
    const std::wstring last = L"COM" + std::to_wstring(numbers.back());
    EXPECT_TRUE(WaitUntil([&] { return app.controlText(IDC_PORT) == last; }, 5000)) << Narrow(app.controlText(IDC_PORT));
    EXPECT_EQ(SendMessageW(port, CB_GETCURSEL, 0, 0), LRESULT(numbers.size() - 1));
}

}  // namespace
}  // namespace kvr::test
