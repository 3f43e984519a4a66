// kvr-gui-bench: figures of KvrReader.exe under Wine, measured from another
// process as a user meets them. Prints "name value" lines; asserts nothing.
//
//   kvr-gui-bench READER_EXE load FILE LINES    Load: from OK in the open
//                                                dialog to a list that holds
//                                                LINES lines and answers
//   kvr-gui-bench READER_EXE save FILE BYTES    the same list saved: from OK
//                                                to the file in place
//   kvr-gui-bench - fill LINES                  a bare list box of this
//                                                process filled with redraw
//                                                off and storage reserved
//   kvr-gui-bench READER_EXE download           Recv until the completion box
#include "app_driver.h"
#include "resource_ids.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kvr::drive;

namespace {

double NowSeconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

std::wstring LineText(int i) {
    wchar_t line[128];
    swprintf(line, 128, L"MP:  P%06d,CODE,123.4567,89.0123,100.000,99.999,1.234,1.500,0.000,3000000.000,500000.000", i);
    return line;
}

int FillBareList(int lines) {
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_VSCROLL | LBS_NOSEL,
                                0, 0, 600, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!list) return 1;
    double start = NowSeconds();
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_INITSTORAGE, WPARAM(lines), LPARAM(lines * 200));
    for (int i = 1; i <= lines; ++i) SendMessageW(list, LB_ADDSTRING, 0, LPARAM(LineText(i).c_str()));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    SendMessageW(list, LB_SETTOPINDEX, WPARAM(lines - 1), 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    std::printf("fill_seconds %.3f\n", NowSeconds() - start);
    DestroyWindow(list);
    return 0;
}

// Sends a message that the program answers only once its thread is free.
bool Answers(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: see the source\n");
        return 2;
    }
    std::wstring mode = argv[2];
    if (mode == L"fill" && argc > 3) return FillBareList(_wtoi(argv[3]));

    AppDriver app;
    if (!app.launch(argv[1])) {
        std::fprintf(stderr, "kvr-gui-bench: the main dialog did not appear\n");
        return 1;
    }
    HWND list = GetDlgItem(app.main(), IDC_RECORDS);
    if ((mode == L"load" || mode == L"save") && argc > 4) {
        const std::wstring file = argv[3];
        // Save needs a list: the same file, loaded first.
        const std::wstring loadFile = mode == L"load" ? file : std::wstring(argv[3]) + L".in";
        const long long want = _wtoi64(argv[4]);
        app.click(IDC_LOAD);
        HWND dialog = app.typeFileName(loadFile);
        if (!dialog) return 1;
        double start = NowSeconds();
        AppDriver::pressOk(dialog);
        if (mode == L"load") {
            WaitUntil([&] { return Answers(app.main()) && SendMessageW(list, LB_GETCOUNT, 0, 0) == want; }, 120000);
            std::printf("load_seconds %.3f\nload_lines %ld\n", NowSeconds() - start, long(SendMessageW(list, LB_GETCOUNT, 0, 0)));
        } else {
            WaitUntil([&] { return Answers(app.main()) && SendMessageW(list, LB_GETCOUNT, 0, 0) > 0; }, 120000);
            app.click(IDC_SAVE);
            dialog = app.typeFileName(file);
            if (!dialog) return 1;
            start = NowSeconds();
            AppDriver::pressOk(dialog);
            WaitUntil(
                [&] {
                    WIN32_FILE_ATTRIBUTE_DATA data;
                    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return false;
                    return ((static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == want && Answers(app.main());
                },
                120000);
            std::printf("save_seconds %.3f\n", NowSeconds() - start);
        }
    } else if (mode == L"download") {
        double start = NowSeconds();
        app.click(IDC_RECV);
        MessageBoxSeen box;
        bool finished = app.waitForBox(L"Message", box, 600000);
        double seconds = NowSeconds() - start;
        LRESULT lines = SendMessageW(list, LB_GETCOUNT, 0, 0);
        std::printf("download_seconds %.3f\ndownload_lines %ld\n", seconds, long(lines));
        if (finished) AppDriver::dismiss(box.window);
    }
    app.terminate();
    return 0;
}
