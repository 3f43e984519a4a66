#include "record_list.h"

#include "resource_ids.h"
#include "texts.h"
#include "transfer.h"
#include "window_text.h"

namespace kvr {

RecordListModel gRecords;
RecoveryJournal gJournal;

void AppendRecordEntries(HWND dialog, const std::vector<std::string>& entries) {
    if (entries.empty()) return;
    HWND list = GetDlgItem(dialog, IDC_RECORDS);
    bool many = entries.size() > 1;
    if (many) SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    LRESULT index = LB_ERR;
    for (const std::string& entry : entries) {
        gRecords.append(entry);
        // Shown as the ANSI code page reads the bytes; kept as the bytes.
        index = SendMessageW(list, LB_ADDSTRING, 0, LPARAM(WideFromAnsi(entry).c_str()));
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

void JournalReceivedEntries(HWND dialog, const std::vector<std::string>& entries) {
    if (gJournal.off()) return;
    if (!gJournal.append(entries)) PostMessageA(dialog, WM_APP_JOURNAL_OFF, WPARAM(GetLastError()), 0);
}

void ReportJournalOff(HWND dialog, DWORD code) {
    std::string message = SystemErrorText(code) + "\r\n\r\n" + text(TextRecoveryOff);
    MessageBoxW(dialog, WideFromUtf8(message).c_str(), L"Warning", MB_OK | MB_ICONEXCLAMATION);
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
