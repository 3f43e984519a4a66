// KvrReader.exe: the main dialog, the About box and the program entry.
#include "port_box.h"
#include "record_files.h"
#include "record_list.h"
#include "resource_ids.h"
#include "texts.h"
#include "transfer.h"
#include "window_text.h"

#include <commctrl.h>
#include <dbt.h>
#include <windows.h>

#include <new>

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
    GetDlgItemTextW(dialog, IDC_RECV, gTransfer.recvCaption, int(sizeof gTransfer.recvCaption / sizeof(wchar_t)));
    HWND port = GetDlgItem(dialog, IDC_PORT);
    FillPortBox(port, true);
    AttachListCopyCommands(GetDlgItem(dialog, IDC_RECORDS));
    SendMessageW(port, CB_LIMITTEXT, kPortNameLength, 0);
    SendMessageW(dialog, DM_SETDEFID, kNoDefaultButton, 0);
    // Asked once the window is on screen, so the question has its owner.
    PostMessageW(dialog, WM_APP_OFFER_RECOVERY, 0, 0);
}

// A line from the worker: shown and journalled before the engine goes on to
// acknowledge it, unless the transfer is being cancelled, in which case the
// record is not acknowledged either. A line that cannot be kept (no memory
// left) is not acknowledged: the link is stopped before the engine writes
// the acknowledgement, and the transfer fails with that reason.
void AddReceivedLine(HWND dialog, const char* line) {
    if (!WorkerUpdatesWanted()) return;
    TakeWorkerTitle();  // the frame's title comes before its line
    try {
        AppendReceivedEntry(dialog, line);
        JournalReceivedEntries(dialog, {line});
    } catch (const std::bad_alloc&) {
        StopTransferForSinkError(ERROR_NOT_ENOUGH_MEMORY);
    }
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
        int answer = MessageBoxW(dialog, WideFromUtf8(text(TextUnsavedOnClose)).c_str(), L"Warning",
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

INT_PTR HandleMainDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == gCompletionMessage && gCompletionMessage != 0) {
        OnTransferComplete();
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG: InitMainDialog(dialog); return TRUE;
    case WM_APP_TITLE_WAITING: TakeWorkerTitle(); return TRUE;
    case WM_TIMER:
        if (wParam != kViewTimer) return FALSE;
        FlushView(dialog);
        return TRUE;
    case WM_APP_ADD_LINE: AddReceivedLine(dialog, reinterpret_cast<const char*>(lParam)); return TRUE;
    case WM_APP_TRANSFER_FAILED: OnTransferFailed(ReceiveOutcome(wParam), DWORD(lParam)); return TRUE;
    case WM_APP_JOURNAL_OFF: ReportJournalOff(dialog, DWORD(wParam)); return TRUE;
    case WM_APP_OFFER_RECOVERY: OfferRecovery(dialog); return TRUE;
    case WM_CONTEXTMENU:
        if (HWND(wParam) != GetDlgItem(dialog, IDC_RECORDS)) return FALSE;
        ShowListContextMenu(dialog, lParam);
        return TRUE;
    case WM_APP_PORT_PICKED: ShowPickedPortName(GetDlgItem(dialog, IDC_PORT)); return TRUE;
    case WM_DEVICECHANGE:
        // A USB adapter plugged in or pulled out.
        if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            FillPortBox(GetDlgItem(dialog, IDC_PORT), false);
        return TRUE;
    case WM_CLOSE: RequestClose(dialog); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CLOSE: RequestClose(dialog); return TRUE;
        case IDC_LOAD: LoadRecordList(); return TRUE;
        case IDC_SAVE: SaveRecordList(); return TRUE;
        case IDC_RECV: StartReceive(); return TRUE;
        case IDC_ABOUT: DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), dialog, AboutDialogProc, 0); return TRUE;
        case IDC_PORT:
            if (HIWORD(wParam) == CBN_DROPDOWN) FillPortBox(HWND(lParam), false);
            // The combo box writes the picked entry's text after it has
            // told us, so the bare name goes in afterwards.
            if (HIWORD(wParam) == CBN_SELCHANGE || HIWORD(wParam) == CBN_CLOSEUP)
                PostMessageW(dialog, WM_APP_PORT_PICKED, 0, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// No exception crosses the window procedure: what gets here is a failed
// allocation in a command, reported as such; the command did not happen.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleMainDialogMessage(dialog, message, wParam, lParam);
    } catch (...) {
        try {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            ReportSystemError();
        } catch (...) {
        }
        return TRUE;
    }
}

}  // namespace
}  // namespace kvr

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace kvr;
    gCompletionMessage = RegisterWindowMessageW(L"ORVA_HEAD");
    BuildFileFilter();
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1000};
    InitCommonControlsEx(&controls);
    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    EndTransferAtExit();
    return int(result);
}
