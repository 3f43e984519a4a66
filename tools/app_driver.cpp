#include "app_driver.h"

#include "resource_ids.h"

namespace kvr::drive {

std::wstring Widen(const std::string& utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(std::size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], length);
    return wide;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
}

namespace {

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, LPARAM(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM parameter) {
    Search& search = *reinterpret_cast<Search*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (processId == search.processId && IsWindowVisible(window) && wcscmp(className, L"#32770") == 0)
        search.found.push_back(window);
    return TRUE;
}

}  // namespace

AppDriver::~AppDriver() {
    terminate();
    if (process_.hProcess) {
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
}

void AppDriver::terminate() {
    if (!process_.hProcess) return;
    if (running()) TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
}

bool AppDriver::launch(const std::wstring& exePath) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring command = L"\"" + exePath + L"\"";
    if (!CreateProcessW(exePath.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
        return false;
    return WaitUntil(
        [&] {
            for (HWND dialog : topLevelDialogs())
                if (GetDlgItem(dialog, IDC_RECORDS)) main_ = dialog;
            return main_ != nullptr;
        },
        20000);
}

bool AppDriver::running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

bool AppDriver::waitForExit(DWORD timeoutMs, DWORD& exitCode) {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_.hProcess, &exitCode);
    return true;
}

std::wstring AppDriver::title() const { return WindowText(main_); }
std::wstring AppDriver::controlText(int id) const { return WindowText(GetDlgItem(main_, id)); }
bool AppDriver::enabled(int id) const { return IsWindowEnabled(GetDlgItem(main_, id)) != FALSE; }

std::vector<std::wstring> AppDriver::lines() const {
    HWND list = GetDlgItem(main_, IDC_RECORDS);
    std::vector<std::wstring> lines;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, WPARAM(i), 0);
        std::wstring line(std::size_t(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, WPARAM(i), LPARAM(&line[0]));
        line.resize(wcslen(line.c_str()));
        lines.push_back(line);
    }
    return lines;
}

void AppDriver::click(int id) const { PostMessageW(GetDlgItem(main_, id), BM_CLICK, 0, 0); }

// The focus moved there selects the whole text, which the typing replaces.
void AppDriver::setPortName(const std::wstring& name) const {
    focus(IDC_PORT);
    Sleep(200);
    TypeText(name);
    WaitUntil([&] { return controlText(IDC_PORT) == name; }, 5000);
}

void AppDriver::pressKeyInPortBox(WPARAM virtualKey) const {
    focus(IDC_PORT);
    Sleep(200);
    TypeKeys({WORD(virtualKey)});
}

std::vector<HWND> AppDriver::topLevelDialogs() const {
    Search search{process_.dwProcessId, {}};
    EnumWindows(CollectDialogs, LPARAM(&search));
    return search.found;
}

HWND AppDriver::findDialog(const std::wstring& caption) const {
    for (HWND dialog : topLevelDialogs())
        if (dialog != main_ && WindowText(dialog) == caption) return dialog;
    return nullptr;
}

bool AppDriver::waitForBox(const std::wstring& caption, MessageBoxSeen& box, DWORD timeoutMs) const {
    return WaitUntil(
        [&] {
            HWND found = findDialog(caption);
            if (!found) return false;
            box.window = found;
            box.title = caption;
            box.text = WindowText(GetDlgItem(found, 0xFFFF));
            return true;
        },
        timeoutMs);
}

HWND AppDriver::typeFileName(const std::wstring& path, DWORD timeoutMs) const {
    HWND dialog = nullptr, nameBox = nullptr;
    bool found = WaitUntil(
        [&] {
            for (HWND candidate : topLevelDialogs()) {
                if (candidate == main_) continue;
                // The file name box: cmb13 in the Explorer-style dialog, edt1 in the old one.
                for (int id : {0x47C, 0x480}) {
                    HWND box = GetDlgItem(candidate, id);
                    if (box && IsWindowVisible(box)) {
                        dialog = candidate;
                        nameBox = box;
                        return true;
                    }
                }
            }
            return false;
        },
        timeoutMs);
    if (!found) return nullptr;
    PostMessageW(dialog, WM_NEXTDLGCTL, WPARAM(nameBox), TRUE);
    Sleep(200);
    TypeText(path);
    if (!WaitUntil([&] { return WindowText(nameBox) == path; }, timeoutMs)) return nullptr;
    return dialog;
}

void AppDriver::pressOk(HWND fileDialog) { PostMessageW(GetDlgItem(fileDialog, IDOK), BM_CLICK, 0, 0); }

bool AppDriver::chooseFile(const std::wstring& path, DWORD timeoutMs) const {
    HWND dialog = typeFileName(path, timeoutMs);
    if (!dialog) return false;
    pressOk(dialog);
    return WaitUntil([&] { return !IsWindow(dialog); }, timeoutMs);
}

void AppDriver::dismiss(HWND box) { PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); }

void AppDriver::focus(int id) const { PostMessageW(main_, WM_NEXTDLGCTL, WPARAM(GetDlgItem(main_, id)), TRUE); }

void TypeKeys(const std::vector<WORD>& keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT down = {};
        down.type = INPUT_KEYBOARD;
        down.ki.wVk = key;
        inputs.push_back(down);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        INPUT up = {};
        up.type = INPUT_KEYBOARD;
        up.ki.wVk = *key;
        up.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(up);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

void TypeText(const std::wstring& text) {
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        INPUT key = {};
        key.type = INPUT_KEYBOARD;
        key.ki.wScan = c;
        key.ki.dwFlags = KEYEVENTF_UNICODE;
        inputs.push_back(key);
        key.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        inputs.push_back(key);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::wstring ClipboardText() {
    if (!OpenClipboard(nullptr)) return L"";
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

bool ClearClipboard() {
    if (!OpenClipboard(nullptr)) return false;
    bool emptied = EmptyClipboard() != FALSE;
    CloseClipboard();
    return emptied;
}

bool AppDriver::press(HWND box, int buttonId) {
    HWND button = GetDlgItem(box, buttonId);
    if (!button) return false;
    PostMessageW(button, BM_CLICK, 0, 0);
    return WaitUntil([&] { return !IsWindow(box); }, 5000);
}

}  // namespace kvr::drive
