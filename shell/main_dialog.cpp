// KvrReader.exe: the main dialog, the About box and the program entry.
#include "record_files.h"
#include "resource_ids.h"
#include "texts.h"
#include "transfer.h"

#include <commctrl.h>
#include <windows.h>

namespace kvr {
namespace {

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    case WM_COMMAND:
        // Only OK ends it; Escape (IDCANCEL) does not.
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

void InitMainDialog(HWND dialog) {
    gTransfer.window = dialog;
    gTransfer.mainThread = GetCurrentThreadId();
    GetDlgItemTextA(dialog, IDC_RECV, gTransfer.recvCaption, int(sizeof gTransfer.recvCaption));
    HWND port = GetDlgItem(dialog, IDC_PORT);
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) SendMessageA(port, CB_ADDSTRING, 0, LPARAM(name));
    SendMessageA(port, CB_SETCURSEL, 0, 0);
    SendMessageA(port, CB_LIMITTEXT, kPortNameLength, 0);
}

// A line from the worker: appended and scrolled into view, unless the
// transfer is being cancelled. The list allows no selection, so the new line
// is not selected; asking for that anyway leaves a trail of highlighted
// lines on some systems.
void AddRecordLine(HWND dialog, const char* line) {
    if (gTransfer.link.stopRequested()) return;
    HWND list = GetDlgItem(dialog, IDC_RECORDS);
    LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, LPARAM(line));
    if (index >= 0) SendMessageA(list, LB_SETTOPINDEX, WPARAM(index), 0);
}

void EndProgram(HWND dialog) {
    StopTransferForExit();
    EndDialog(dialog, 0);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == gCompletionMessage && gCompletionMessage != 0) {
        OnTransferComplete();
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG: InitMainDialog(dialog); return TRUE;
    case WM_APP_SET_TITLE:
        if (!gTransfer.link.stopRequested()) SetWindowTextA(dialog, reinterpret_cast<const char*>(lParam));
        return TRUE;
    case WM_APP_ADD_LINE: AddRecordLine(dialog, reinterpret_cast<const char*>(lParam)); return TRUE;
    case WM_CLOSE: EndProgram(dialog); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CLOSE:
            // Only the Close button itself: Enter in the port box also
            // arrives as command 1, and must not throw the list away.
            if (lParam == 0) return TRUE;
            EndProgram(dialog);
            return TRUE;
        case IDC_LOAD: LoadRecordList(); return TRUE;
        case IDC_SAVE: SaveRecordList(); return TRUE;
        case IDC_RECV: StartReceive(); return TRUE;
        case IDC_ABOUT: DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0); return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace
}  // namespace kvr

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace kvr;
    gCompletionMessage = RegisterWindowMessageA("ORVA_HEAD");
    BuildFileFilter();
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1000};
    InitCommonControlsEx(&controls);
    return int(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0));
}
