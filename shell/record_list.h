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
// scrolled into view.
void AppendRecordEntries(HWND dialog, const std::vector<std::string>& entries);

// Puts received entries in the journal before they count as delivered. The
// first failure is reported once, later, by a posted WM_APP_JOURNAL_OFF
// (wParam: the error code), so the transfer never waits on a box.
void JournalReceivedEntries(HWND dialog, const std::vector<std::string>& entries);
void ReportJournalOff(HWND dialog, DWORD code);

// At start-up: offers the lines of journals that earlier runs left behind.
void OfferRecovery(HWND dialog);

}  // namespace kvr
