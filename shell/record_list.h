// The record list the user works with: the entries as data (the model),
// the list box that shows them, and the journal that keeps received ones
// safe until they are saved. Main thread only.
#pragma once

#include "record_list_model.h"
#include "recovery_journal.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kvr {

extern RecordListModel gRecords;
extern RecoveryJournal gJournal;

// Appends entries to the model and to the list box, with the last one
// scrolled into view: one repaint for all of them.
void AppendRecordEntries(HWND dialog, const std::vector<std::string>& entries);

// During a transfer: a received line goes into the model and the list box
// at once, and a title is taken at once, but the list's repaint and scroll
// and the title's repaint wait for a 100 ms timer (kViewTimer), so a burst
// of frames costs at most ten repaints a second: under Wine one takes about
// 10 ms, and at 50 ms intervals they held up a fast download by a fifth.
// FlushView applies what waits; it runs on the timer and before anything
// else touches the title.
constexpr UINT_PTR kViewTimer = 1;
void AppendReceivedEntry(HWND dialog, const std::string& entry);
void SetTitleSoon(HWND dialog, const std::wstring& title);
void FlushView(HWND dialog);

// Puts received entries in the journal before they count as delivered. The
// first failure is reported once, later, by a posted WM_APP_JOURNAL_OFF
// (wParam: the error code), so the transfer never waits on a box.
void JournalReceivedEntries(HWND dialog, const std::vector<std::string>& entries);
void ReportJournalOff(HWND dialog, DWORD code);

// Puts the whole list on the clipboard as Unicode text, CR LF between the
// lines, as they are shown. Failures are reported.
void CopyAllLines(HWND dialog);
// Ctrl+C on the list, and its context menu with "Copy all lines".
void AttachListCopyCommands(HWND list);
void ShowListContextMenu(HWND dialog, LPARAM position);

// At start-up: offers the lines of journals that earlier runs left behind.
void OfferRecovery(HWND dialog);

}  // namespace kvr
