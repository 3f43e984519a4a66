// KvrReader.exe: the main dialog, the About box and the program entry.
#include "record_files.h"
#include "record_list.h"
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

// The default push button's id. No control has it, so Enter in the port
// box (or anywhere but on a button) presses nothing; without it the dialog
// manager would press command 1, which is Close.
constexpr int kNoDefaultButton = 0x7FFF;

void InitMainDialog(HWND dialog) {
    gTransfer.window = dialog;
    GetDlgItemTextA(dialog, IDC_RECV, gTransfer.recvCaption, int(sizeof gTransfer.recvCaption));
    HWND port = GetDlgItem(dialog, IDC_PORT);
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) SendMessageA(port, CB_ADDSTRING, 0, LPARAM(name));
    SendMessageA(port, CB_SETCURSEL, 0, 0);
    SendMessageA(port, CB_LIMITTEXT, kPortNameLength, 0);
    SendMessageA(dialog, DM_SETDEFID, kNoDefaultButton, 0);
    // Asked once the window is on screen, so the question has its owner.
    PostMessageA(dialog, WM_APP_OFFER_RECOVERY, 0, 0);
}

// A line from the worker: shown and journalled before the engine goes on to
// acknowledge it, unless the transfer is being cancelled, in which case the
// record is not acknowledged either.
void AddReceivedLine(HWND dialog, const char* line) {
    if (gTransfer.link.stopRequested()) return;
    AppendRecordEntries(dialog, {line});
    JournalReceivedEntries(dialog, {line});
}

// Close, the close box, Alt+F4 and the system menu. A list with unsaved
// lines is not thrown away without asking; during a transfer the question
// comes first, and only then is the transfer stopped.
void RequestClose(HWND dialog) {
    // A second request while the question or the Save dialog is up (a close
    // message queued twice) is the same request.
    static bool asking = false;
    if (asking) return;
    if (gRecords.hasUnsaved()) {
        asking = true;
        int answer = MessageBoxA(dialog, text(TextUnsavedOnClose).c_str(), "Warning",
                                 MB_YESNOCANCEL | MB_ICONWARNING);
        bool saved = false;
        if (answer == IDYES || answer == IDNO) {
            StopTransferQuietly();
            saved = answer == IDYES && SaveRecordList();
        }
        asking = false;
        if (answer != IDNO && !saved) return;  // Cancel, or no save: stays open with its list
        if (answer == IDNO) gJournal.discard();
    } else {
        StopTransferQuietly();
    }
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
    case WM_APP_ADD_LINE: AddReceivedLine(dialog, reinterpret_cast<const char*>(lParam)); return TRUE;
    case WM_APP_TRANSFER_FAILED: OnTransferFailed(ReceiveOutcome(wParam), DWORD(lParam)); return TRUE;
    case WM_APP_JOURNAL_OFF: ReportJournalOff(dialog, DWORD(wParam)); return TRUE;
    case WM_APP_OFFER_RECOVERY: OfferRecovery(dialog); return TRUE;
    case WM_CLOSE: RequestClose(dialog); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CLOSE: RequestClose(dialog); return TRUE;
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
