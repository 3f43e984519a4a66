#include "record_list.h"

#include "resource_ids.h"
#include "texts.h"
#include "transfer.h"
#include "window_text.h"

#include <cstring>

namespace kvr {

RecordListModel gRecords;
RecoveryJournal gJournal;

namespace {

struct DeferredView {
    bool timerRunning = false;
    bool listFrozen = false;  // redraw off, lines added since the last repaint
    LRESULT lastIndex = LB_ERR;
    bool titleWaiting = false;
    std::wstring title;
} gView;

void StartViewTimer(HWND dialog) {
    if (gView.timerRunning) return;
    gView.timerRunning = SetTimer(dialog, kViewTimer, 100, nullptr) != 0;
    if (!gView.timerRunning) FlushView(dialog);  // no timer: paint now rather than never
}

}  // namespace

void AppendRecordEntries(HWND dialog, const std::vector<std::string>& entries) {
    if (entries.empty()) return;
    FlushView(dialog);
    HWND list = GetDlgItem(dialog, IDC_RECORDS);
    bool many = entries.size() > 1;
    if (many) {
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        std::size_t bytes = 0;
        for (const std::string& entry : entries) bytes += (entry.size() + 1) * sizeof(wchar_t);
        SendMessageW(list, LB_INITSTORAGE, WPARAM(entries.size()), LPARAM(bytes));
    }
    LRESULT index = LB_ERR;
    try {
        gRecords.reserve(entries.size());
        for (const std::string& entry : entries) {
            gRecords.append(entry);
            // Shown as the ANSI code page reads the bytes; kept as the bytes.
            index = SendMessageW(list, LB_ADDSTRING, 0, LPARAM(WideFromAnsi(entry).c_str()));
        }
    } catch (...) {
        // What got in stays in and is shown; the caller reports the rest.
        if (many) SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
        throw;
    }
    if (many) {
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    }
    // The list allows no selection, so the new line is only scrolled into
    // view: selecting it anyway leaves a trail of highlighted lines on some
    // systems.
    if (index >= 0) SendMessageW(list, LB_SETTOPINDEX, WPARAM(index), 0);
}

void AppendReceivedEntry(HWND dialog, const std::string& entry) {
    HWND list = GetDlgItem(dialog, IDC_RECORDS);
    if (!gView.listFrozen) {
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        gView.listFrozen = true;
    }
    gRecords.append(entry);
    LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, LPARAM(WideFromAnsi(entry).c_str()));
    if (index >= 0) gView.lastIndex = index;
    StartViewTimer(dialog);
}

void SetTitleSoon(HWND dialog, const std::wstring& title) {
    gView.title = title;
    gView.titleWaiting = true;
    StartViewTimer(dialog);
}

void FlushView(HWND dialog) {
    if (gView.timerRunning) KillTimer(dialog, kViewTimer);
    gView.timerRunning = false;
    if (gView.listFrozen) {
        HWND list = GetDlgItem(dialog, IDC_RECORDS);
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        if (gView.lastIndex >= 0) SendMessageW(list, LB_SETTOPINDEX, WPARAM(gView.lastIndex), 0);
        InvalidateRect(list, nullptr, TRUE);
        gView.listFrozen = false;
    }
    if (gView.titleWaiting) {
        SetWindowTextW(dialog, gView.title.c_str());
        gView.titleWaiting = false;
    }
}

void JournalReceivedEntries(HWND dialog, const std::vector<std::string>& entries) {
    if (gJournal.off()) return;
    if (!gJournal.append(entries)) PostMessageA(dialog, WM_APP_JOURNAL_OFF, WPARAM(GetLastError()), 0);
}

void ReportJournalOff(HWND dialog, DWORD code) {
    std::string message = SystemErrorText(code) + "\r\n\r\n" + text(TextRecoveryOff);
    MessageBoxW(dialog, WideFromUtf8(message).c_str(), L"Warning", MB_OK | MB_ICONEXCLAMATION);
}

void CopyAllLines(HWND dialog) {
    std::wstring all;
    const std::vector<std::string>& entries = gRecords.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) all += L"\r\n";
        all += WideFromAnsi(entries[i]);
    }
    std::size_t bytes = (all.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) {
        ReportSystemError();
        return;
    }
    std::memcpy(GlobalLock(memory), all.c_str(), bytes);
    GlobalUnlock(memory);
    if (!OpenClipboard(dialog)) {
        DWORD code = GetLastError();
        GlobalFree(memory);
        SetLastError(code);
        ReportSystemError();
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, memory)) {
        DWORD code = GetLastError();
        GlobalFree(memory);  // still ours: the clipboard did not take it
        CloseClipboard();
        SetLastError(code);
        ReportSystemError();
        return;
    }
    CloseClipboard();
}

namespace {

constexpr UINT kCopyAllCommand = 40001;

// The list box's own procedure, behind ours. A plain subclass: the
// comctl32 one looks its data up with GetProp on every message, which under
// Wine is a server call and made a 100,000-line Load take 16 s.
WNDPROC gListProcedure = nullptr;

LRESULT CALLBACK ListKeys(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == 'C' && GetKeyState(VK_CONTROL) < 0) {
        CopyAllLines(GetParent(list));
        return 0;
    }
    return CallWindowProcW(gListProcedure, list, message, wParam, lParam);
}

}  // namespace

void AttachListCopyCommands(HWND list) {
    gListProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(list, GWLP_WNDPROC, LONG_PTR(ListKeys)));
}

void ShowListContextMenu(HWND dialog, LPARAM position) {
    HWND list = GetDlgItem(dialog, IDC_RECORDS);
    POINT at = {short(LOWORD(position)), short(HIWORD(position))};
    if (position == -1) {  // from the keyboard: at the list's corner
        RECT rect;
        GetWindowRect(list, &rect);
        at = {rect.left + 8, rect.top + 8};
    }
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendMenuW(menu, MF_STRING, kCopyAllCommand, WideFromUtf8(text(TextCopyAllLines)).c_str());
    UINT chosen = UINT(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr));
    DestroyMenu(menu);
    if (chosen == kCopyAllCommand) CopyAllLines(dialog);
}

void OfferRecovery(HWND dialog) {
    LeftJournals left;
    left.find();
    if (left.entries().empty()) {
        left.remove();  // only empty journals: nothing to offer
        return;
    }
    std::string prompt = text(TextRestorePrompt);
    std::size_t at = prompt.find("%d");
    if (at != std::string::npos) prompt.replace(at, 2, std::to_string(left.entries().size()));
    // The dialog manager shows a new dialog only once its queue is idle; the
    // question belongs over the window, so the window comes first.
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    if (MessageBoxW(dialog, WideFromUtf8(prompt).c_str(), L"Message", MB_YESNO | MB_ICONQUESTION) != IDYES) {
        left.remove();
        return;
    }
    AppendRecordEntries(dialog, left.entries());
    // The restored lines are unsaved again: this run's journal takes them
    // over before the old journals go. If it cannot, the old ones stay,
    // and the user hears that recovery is off.
    bool kept = gJournal.append(left.entries());
    DWORD code = GetLastError();
    if (kept) {
        left.remove();
    } else {
        ReportJournalOff(dialog, code);
    }
}

}  // namespace kvr
