// kvr-demo-drive: the headless half of `make demo`. Starts KvrReader.exe,
// presses Recv, waits for the download to finish, prints the received lines,
// then lets the caller take a screenshot before it closes the program.
//
//   kvr-demo-drive READER_EXE MARKER_DIR
//
// MARKER_DIR\finished gets the window's rectangle ("x y width height") once
// the list is complete; the program is closed when MARKER_DIR\shot-taken
// appears.
#include "app_driver.h"
#include "resource_ids.h"

#include <cstdio>
#include <string>

using namespace kvr::drive;

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kvr-demo-drive READER_EXE MARKER_DIR\n");
        return 2;
    }
    std::wstring markers = argv[2];
    AppDriver app;
    if (!app.launch(argv[1])) {
        std::fprintf(stderr, "kvr-demo-drive: the main dialog did not appear\n");
        return 1;
    }
    app.click(IDC_RECV);
    MessageBoxSeen box;
    // A warning with only an OK button (recovery off) is read and let go;
    // the download goes on behind it.
    bool finished = WaitUntil(
        [&] {
            MessageBoxSeen warning;
            if (app.waitForBox(L"Warning", warning, 0) && !GetDlgItem(warning.window, IDNO)) {
                std::fprintf(stderr, "kvr-demo-drive: warning: %ls\n", warning.text.c_str());
                AppDriver::dismiss(warning.window);
            }
            return app.waitForBox(L"Message", box, 0);
        },
        120000);
    if (finished) AppDriver::dismiss(box.window);
    WaitUntil([&] { return box.window == nullptr || !IsWindow(box.window); }, 5000);
    Sleep(500);  // let the list repaint before the screenshot

    for (const std::wstring& line : app.lines()) {
        int length = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0, nullptr, nullptr);
        std::string narrow(std::size_t(length > 0 ? length : 0), '\0');
        if (length > 0) WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), &narrow[0], length, nullptr, nullptr);
        std::printf("%s\n", narrow.c_str());
    }
    std::fflush(stdout);

    RECT rect;
    GetWindowRect(app.main(), &rect);
    if (std::FILE* marker = _wfopen((markers + L"\\finished.tmp").c_str(), L"wb")) {
        std::fprintf(marker, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        std::fclose(marker);
    }
    MoveFileExW((markers + L"\\finished.tmp").c_str(), (markers + L"\\finished").c_str(), MOVEFILE_REPLACE_EXISTING);
    WaitUntil([&] { return GetFileAttributesW((markers + L"\\shot-taken").c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000);

    // The demo's list is never saved: answer the question on Close with No.
    app.click(IDC_CLOSE);
    MessageBoxSeen question;
    if (app.waitForBox(L"Warning", question, 10000)) AppDriver::press(question.window, IDNO);
    DWORD exitCode = 1;
    app.waitForExit(10000, exitCode);
    if (!finished) std::fprintf(stderr, "kvr-demo-drive: the download did not finish\n");
    return finished ? 0 : 1;
}
